// The load routines: escapes in strings and chars, unit widths, raw
// strings, word kinds, integers with separators and their overflow into
// float!, hexadecimal integers, the string-like literals (file!, url!,
// tag!, email!, ref!), and the literals that have no loader.
#include <cmath>
#include <string>

#include "lexer_support.hpp"

namespace qel {
namespace {

using Loader = testutil::LexerRuntime;

TEST_F(Loader, CaretEscapes) {
    struct Case {
        const char* escape;  // after the "^"
        int32_t cp;
    };
    const Case cases[] = {
        {"/", 10},      {"-", 9},       {"^", '^'},     {"\"", '"'},    {"{", '{'},     {"}", '}'},
        {"~", 127},     {"@", 0},       {"a", 1},       {"z", 26},      {"A", 1},       {"[", 27},
        {"_", 31},      {"!", '!'},     {"(41)", 'A'},  {"(1F600)", 0x1F600}, {"(tab)", 9}, {"(TAB)", 9},
        {"(line)", 10}, {"(null)", 0},  {"(back)", 8},  {"(page)", 12}, {"(esc)", 27},  {"(del)", 127},
        {"(ba)", 0xBA}, {"\xC3\xA9", 0xE9},
        {"(", -1},      {"(zz)", -1},   {"(1234567)", -1}, {"(110000)", -1}, {"(tab", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escape);
        const auto* p = reinterpret_cast<const uint8_t*>(c.escape);
        const uint8_t* end = p + std::char_traits<char>::length(c.escape);
        const int32_t cp = lexer::loaders::caret_escape(p, end);
        EXPECT_EQ(cp, c.cp);
        if (cp >= 0) {
            EXPECT_EQ(p, end);
        }
    }
}

TEST_F(Loader, StringsDecodeEscapesAndChooseTheirWidth) {
    struct Case {
        const char* text;
        std::u32string chars;
        uint32_t width;
    };
    const Case cases[] = {
        {"\"a^/b^-c\"", U"a\nb\tc", 1},
        {"\"^(41)^^^\"\"", U"A^\"", 1},
        {"\"^(e9)\"", U"\u00E9", 1},        // two digits keep one-byte units
        {"\"^(00e9)\"", U"\u00E9", 2},      // more than two digits widen
        {"\"\xC3\xA9\"", U"\u00E9", 2},     // a two-byte sequence widens
        {"\"^(1F600)x\"", U"\U0001F600x", 4},
        {"\"\xF0\x9F\x98\x80\"", U"\U0001F600", 4},
        {"{^{a^}}", U"{a}", 1},
        {"%{a^/b}%", U"a^/b", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Cell s = one(c.text);
        ASSERT_EQ(cell::type_of(&s), TYPE_STRING);
        EXPECT_EQ(series::unit(series::buffer_of(series_node(s))), c.width);
        ASSERT_EQ(static_cast<size_t>(series::length_of(&s)), c.chars.size());
        for (size_t i = 0; i < c.chars.size(); i++) EXPECT_EQ(unicode::codepoint_at(series_node(s), static_cast<uint32_t>(i)), c.chars[i]);
    }
    EXPECT_EQ(load_error("\"\xE2\x82\"").code, err::INVALID);  // truncated sequence
}

TEST_F(Loader, StringKindsTakeTheirTextAndWidth) {
    struct Case {
        const char* text;
        uint32_t type;
        std::u32string chars;
        uint32_t width;
    };
    const Case cases[] = {
        {"%a/b.txt", TYPE_FILE, U"a/b.txt", 1},
        {"%a%20b", TYPE_FILE, U"a b", 1},             // unquoted: escapes decoded
        {"%a^b", TYPE_FILE, U"a^b", 1},               // a caret is no escape there
        {"%\"a b^\"c^^\"", TYPE_FILE, U"a b\"c^", 1},  // quoted: caret escapes, no percent ones
        {"%\"a%20\"", TYPE_FILE, U"a%20", 1},
        {"%\"\"", TYPE_FILE, U"", 1},
        {"%caf%C3%A9", TYPE_FILE, U"caf\u00E9", 1},
        {"http://h/a%20b", TYPE_URL, U"http://h/a b", 1},
        {"http://h/%E2%82%AC", TYPE_URL, U"http://h/\u20AC", 2},
        {"<a b=\"c>\">", TYPE_TAG, U"a b=\"c>\"", 1},
        {"<a^/>", TYPE_TAG, U"a^/", 1},
        {"a@b.com", TYPE_EMAIL, U"a@b.com", 1},
        {"@name-1", TYPE_REF, U"name-1", 1},
        {"@\xC3\xA9", TYPE_REF, U"\u00E9", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Cell s = one(c.text);
        ASSERT_EQ(cell::type_of(&s), c.type);
        EXPECT_EQ(series::unit(series::buffer_of(series_node(s))), c.width);
        ASSERT_EQ(static_cast<size_t>(series::length_of(&s)), c.chars.size());
        for (size_t i = 0; i < c.chars.size(); i++) EXPECT_EQ(unicode::codepoint_at(series_node(s), static_cast<uint32_t>(i)), c.chars[i]);
    }
    struct Bad {
        const char* text;
        const char* type;
    };
    const Bad bad[] = {
        {"%\"a", "file!"},  {"%\"a^", "file!"}, {"@", "ref!"},
        {"%a\xFF", "file!"}, {":a:b", "get-word!"}, {"'a:b", "lit-word!"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.text);
        const Syntax e = load_error(b.text);
        EXPECT_EQ(e.code, err::INVALID);
        EXPECT_EQ(e.arg2, b.type);
    }
}

TEST_F(Loader, WordKinds) {
    struct Case {
        const char* text;
        uint32_t type;
        const char* name;
    };
    const Case cases[] = {
        {"a", TYPE_WORD, "a"},       {"a:", TYPE_SET_WORD, "a"}, {":a", TYPE_GET_WORD, "a"},
        {"'a", TYPE_LIT_WORD, "a"},  {":a:", 0, nullptr},        {"'a:", 0, nullptr},
        {":", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto* p = reinterpret_cast<const uint8_t*>(c.text);
        const uint8_t *name, *name_end;
        const uint32_t t = lexer::loaders::word_kind(p, p + std::char_traits<char>::length(c.text), name, name_end);
        EXPECT_EQ(t, c.type);
        if (t) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(name), static_cast<size_t>(name_end - name)), c.name);
        }
    }
}

TEST_F(Loader, RawStringEnds) {
    struct Case {
        const char* text;
        int end;  // offset of the end, -1 when never closed
    };
    const Case cases[] = {
        {"%{a}%", 5}, {"%%{a}%}%%", 9}, {"%%{a}%", -1}, {"%{", -1}, {"%a", -1}, {"%{}%%", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto* p = reinterpret_cast<const uint8_t*>(c.text);
        const uint8_t* e = lexer::loaders::raw_string_end(p, p + std::char_traits<char>::length(c.text));
        EXPECT_EQ(e ? static_cast<int>(e - p) : -1, c.end);
    }
}

TEST_F(Loader, NumbersAtTheirLimits) {
    struct Case {
        const char* text;
        uint32_t type;  // 0: invalid
        double value;
    };
    const Case cases[] = {
        {"2147483647", TYPE_INTEGER, 2147483647.0},
        {"-2147483648", TYPE_INTEGER, -2147483648.0},
        {"2147483648", TYPE_FLOAT, 2147483648.0},
        {"-00'000'000'001", TYPE_FLOAT, -1.0},  // eleven digits
        {"1'", TYPE_INTEGER, 1.0},
        {"1''0", 0, 0},
        {"1.e5", 0, 0},
        {"1e5", TYPE_FLOAT, 1e5},
        {"1E-2", TYPE_FLOAT, 0.01},
        {"12h", TYPE_INTEGER, 18.0},
        {"0h", 0, 0},
        {"123456789h", 0, 0},
        {"7FFFFFFFh", TYPE_INTEGER, 2147483647.0},
        {"+1.#INF", TYPE_FLOAT, INFINITY},
        {"1.#INFx", 0, 0},
        {"50%", TYPE_PERCENT, 0.5},
        {"-12.5%", TYPE_PERCENT, -0.125},
        {"0.1%", TYPE_PERCENT, 0.001},  // read with the exponent moved, not divided afterwards
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (!c.type) {
            EXPECT_EQ(load_error(c.text).code, err::INVALID);
            continue;
        }
        const Cell v = one(c.text);
        ASSERT_EQ(cell::type_of(&v), c.type);
        const double got = c.type == TYPE_INTEGER ? integer_value(v) : cell::get_double(&v);
        EXPECT_EQ(got, c.value);
    }
}

TEST_F(Loader, MalformedMoneyIsInvalidMoney) {
    // Too many digits on either side of the point, a currency outside the
    // list (the system object does not exist here, so every code is),
    // separators in the wrong places.
    const char* cases[] = {"$123456789012345678", "$1.123456", "USD$1", "$1'", "$1''0", "$1.1'2", "-$"};
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        const Syntax e = load_error(text);
        EXPECT_EQ(e.code, err::INVALID);
        EXPECT_EQ(e.arg2, "money!");
    }
}

}  // namespace
}  // namespace qel
