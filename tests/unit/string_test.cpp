// string! buffers, conversion, molding and comparison: the unit widths and
// when they grow, the delimiters and escapes of mold, the three-way compare,
// make and to, and path access.
#include <gtest/gtest.h>

#include <cstring>

#include <cmath>

#include "datatypes/string.hpp"
#include "datatypes/string_modify.hpp"
#include "runtime/datatypes.hpp"
#include "string_test_support.hpp"

namespace qel {
namespace {

using testutil::TextTest;
using StringBuffer = TextTest;
using StringMold = TextTest;
using StringCompare = TextTest;
using StringConvert = TextTest;

// ---- widths -----------------------------------------------------------------------

TEST_F(StringBuffer, AppendWidensFromAsciiOnStoreFromLatin1) {
    struct Case {
        const char* what;
        uint32_t start_width;
        bool store;  // poke at index 0 rather than append
        uint32_t cp;
        uint32_t width;
    } cases[] = {
        {"append ASCII keeps 1", 1, false, 'a', 1},
        {"append 233 widens to 2", 1, false, 233, 2},
        {"store 233 keeps 1", 1, true, 233, 1},
        {"store 256 widens to 2", 1, true, 256, 2},
        {"append the euro sign", 1, false, 0x20AC, 2},
        {"append above the BMP from 1", 1, false, 0x1F600, 4},
        {"append above the BMP from 2", 2, false, 0x1F600, 4},
        {"store above the BMP from 2", 2, true, 0x1F600, 4},
    };
    for (const Case& c : cases) {
        Cell* s = text_in("x", c.start_width);
        if (c.store) string::poke_char(s->data2, 0, c.cp);
        else string::append_char(s->data2, c.cp);
        EXPECT_EQ(width_of(s), c.width) << c.what;
        EXPECT_EQ(string::char_at(s, c.store ? 0 : 1), c.cp) << c.what;
        EXPECT_EQ(string::char_at(s, 0), c.store ? c.cp : 'x') << c.what;
    }
}

TEST_F(StringBuffer, AppendingWiderTextWidensTheSameSeriesInPlace) {
    Cell* s = text("café");
    ASSERT_EQ(width_of(s), 1u);
    const node_t node = s->data2;
    string::append(s, text("€"), -1, false, 1);
    EXPECT_EQ(width_of(s), 2u);
    string::append(s, text("😀"), -1, false, 1);
    EXPECT_EQ(s->data2, node);
    EXPECT_EQ(width_of(s), 4u);
    EXPECT_EQ(string::length(s), 6u);
    EXPECT_EQ(utf8(s), "café€😀");
}

// Decimal text reads as the correctly rounded double, with the exponent
// saturating rather than wrapping.
TEST_F(StringBuffer, ParseFloatReadsDecimalText) {
    const struct {
        const char* text;
        double value;
    } cases[] = {{"0.1", 0.1}, {"-2.5e-3", -2.5e-3}, {"1e4294967297", HUGE_VAL}, {"12", 12.0}};
    for (const auto& c : cases)
        EXPECT_EQ(string::parse_float(c.text, static_cast<uint32_t>(std::strlen(c.text))), c.value) << c.text;
}

TEST_F(StringBuffer, HelpersStayInsideTheBuffer) {
    Cell* s = text("abc");
    s->data1 = 7;  // the buffer was cut below the index
    EXPECT_EQ(string::length(s), 0u);
    EXPECT_TRUE(string::is_tail(s));
    string::head_ptr(s);
    EXPECT_EQ(s->data1, 3u) << "head-ptr writes the clamped index back";

    Cell* t = text("hello");
    string::remove_chars_at(t, 3, 10);
    EXPECT_EQ(utf8(t), "hel");
    string::remove_chars_at(t, 5, 1);
    EXPECT_EQ(utf8(t), "hel");
    string::insert_char(t->data2, 1, 0x3B1);
    EXPECT_EQ(utf8(t), "hαel");
    string::poke_char_grow(t->data2, 6, 'z');
    EXPECT_EQ(string::length(t), 7u);
    EXPECT_EQ(string::char_at(t, 4), 0u) << "units skipped by a grow are zero";
    EXPECT_EQ(string::char_at(t, 6), 'z');
    EXPECT_EQ(string::find_char(t, 'e'), 2);
    EXPECT_EQ(string::find_char(t, 'q'), -1);
    EXPECT_TRUE(string::has_prefix(text("abc"), "ab"));
    EXPECT_FALSE(string::has_prefix(text("a"), "ab"));
    EXPECT_FALSE(string::has_prefix(text("āb"), "ab"));

    string::clear_latin1(t);
    EXPECT_EQ(width_of(t), 1u);
    EXPECT_EQ(string::length(t), 0u);
}

TEST_F(StringBuffer, ConcatenateModesAndSharedBuffers) {
    Cell* s = text("abcd");
    Cell* x = text("XY");
    s->data1 = 1;
    string::concatenate(s, x, -1, 1, false, string::INSERT);
    s->data1 = 0;
    EXPECT_EQ(utf8(s), "abXYcd");
    string::concatenate(s, x, 1, 5, false, string::OVERWRITE);
    EXPECT_EQ(utf8(s), "abXYcX");
    string::concatenate(s, x, -1, 5, false, string::OVERWRITE);
    EXPECT_EQ(utf8(s), "abXYcXY") << "overwriting past the tail extends it";

    // Inserting a string into itself inserts what it held before.
    Cell* t = text("abc");
    Cell self = *t;
    t->data1 = 1;
    string::concatenate(t, &self, -1, 0, false, string::INSERT);
    t->data1 = 0;
    EXPECT_EQ(utf8(t), "aabcbc");

    // With keep-width a narrow source is not widened; without it, it is.
    Cell* wide = text("ā");
    Cell* narrow = text("bc");
    string::concatenate(wide, narrow, -1, 0, true, string::APPEND);
    EXPECT_EQ(width_of(narrow), 1u);
    EXPECT_EQ(utf8(wide), "ābc");
    string::concatenate(wide, narrow, -1, 0, false, string::APPEND);
    EXPECT_EQ(width_of(narrow), 2u);
}

TEST_F(StringBuffer, CaseMappingCoversEveryScriptAndWidens) {
    Cell* adlam = text("\U0001E943x");
    unicode::change_case(adlam->data2, 0, 2, true);
    EXPECT_EQ(utf8(adlam), "\U0001E921X");
    unicode::change_case(adlam->data2, 0, 2, false);
    EXPECT_EQ(utf8(adlam), "\U0001E943x");
    Cell* latin = text("\u00FF");  // its capital lies above 255
    ASSERT_EQ(width_of(latin), 1u);
    unicode::change_case(latin->data2, 0, 1, true);
    EXPECT_EQ(width_of(latin), 2u);
    EXPECT_EQ(utf8(latin), "\u0178");
}

TEST_F(StringBuffer, HexDigits) {
    EXPECT_EQ(std::string(string::byte_to_hex(0xAF), 2), "AF");
    EXPECT_STREQ(string::to_hex(0x1E, false), "0000001E");
    EXPECT_STREQ(string::to_hex(0xFFFFFFFF, false), "FFFFFFFF");
    EXPECT_STREQ(string::to_hex(0x1E, true), "1E");
    EXPECT_STREQ(string::to_hex(0x100, true), "100");
    EXPECT_STREQ(string::to_hex(0, true), "00");
}

TEST_F(StringBuffer, DecodesUtf8AndUtf16) {
    const uint8_t utf8_bytes[] = {'a', 0xC3, 0xA9};
    Cell* s = string::decode_bytes_at(utf8_bytes, 3, nullptr, string::ENCODING_UTF8);
    EXPECT_EQ(utf8(s), "aé");
    const uint8_t utf16[] = {'h', 0, 0x3D, 0xD8, 0x00, 0xDE};
    Cell* t = string::load_from_bytes(utf16, 3, string::ENCODING_UTF16LE);
    EXPECT_EQ(utf8(t), "h😀");
}

// ---- mold ------------------------------------------------------------------------

TEST_F(StringMold, DelimitersAndEscapes) {
    struct Case {
        std::string content;
        bool all;
        std::string molded;
    } cases[] = {
        {"a{b", false, "\"a{b\""},
        {"x\"{", false, "{x\"^{}"},  // the quote asks for braces; the brace has no partner
        {"a\nb\nc\n", false, "{a^/b^/c^/}"},
        {"a\nb\n", false, "\"a^/b^/\""},
        {"a\tb", false, "\"a^-b\""},
        {"\"\t\n", false, "{\"^-^/}"},  // tab and line feed escaped in braces too
        {"^", false, "\"^^\""},
        {"\"^", false, "{\"^^}"},
        {"\"{a}", false, "{\"{a}}"},
        {"\"}{", false, "{\"^}^{}"},
        {"\"{{a}", false, "{\"^{^{a^}}"},
        {"\"{a}{", false, "{\"{a}^{}"},
        {std::string("\x1E", 1), false, "\"^(1E)\""},
        {"\u0080", false, "\"^(80)\""},
        {std::string(1, '\0'), false, "\"^@\""},
        {"\x1B\x7F", false, "\"^[^~\""},
        {"é", false, "\"é\""},
        {"é", true, "\"^(E9)\""},
        {"Ā", true, "\"^(100)\""},
        {"", false, "\"\""},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(text(c.content), c.all), c.molded) << c.content;
}

TEST_F(StringMold, FiftyCharactersTakeBraces) {
    EXPECT_EQ(molded(text(std::string(49, 'a'))), "\"" + std::string(49, 'a') + "\"");
    EXPECT_EQ(molded(text(std::string(50, 'a'))), "{" + std::string(50, 'a') + "}");
    // The length decides even when a part is molded.
    EXPECT_EQ(molded(text(std::string(50, 'a')), false, true, 3), "{aaa}");
}

TEST_F(StringMold, PartAndBudget) {
    Cell* s = text("hello");
    const node_t out = text::make_buffer(16);
    EXPECT_EQ(string::mold(s, out, false, false, false, true, 3, 0), 3 - 3 - 2);
    EXPECT_EQ(text::to_utf8(out), "\"hel\"");
    EXPECT_EQ(molded(s, false, true, -4), "\"\"");
    s->data1 = 2;
    EXPECT_EQ(molded(s), "\"llo\"");
    const node_t formed = text::make_buffer(16);
    EXPECT_EQ(string::form(s, formed, true, 2), -1);
    EXPECT_EQ(text::to_utf8(formed), "ll");
}

// ---- compare ------------------------------------------------------------------------

TEST_F(StringCompare, ThreeWayAnswers) {
    struct Case {
        const char* a;
        uint32_t a_type;
        const char* b;
        uint32_t b_type;
        int32_t op;
        int32_t answer;
    } cases[] = {
        {"abc", TYPE_STRING, "ABC", TYPE_STRING, 0, 0},
        {"abc", TYPE_STRING, "ABC", TYPE_STRING, 2, 1},
        {"ab", TYPE_STRING, "abc", TYPE_STRING, 3, -1},
        {"abc", TYPE_STRING, "ab", TYPE_STRING, 3, 1},
        {"ab", TYPE_STRING, "abc", TYPE_STRING, 0, 1},
        {"abc", TYPE_STRING, "abd", TYPE_STRING, 3, -1},
        {"", TYPE_STRING, "", TYPE_STRING, 3, 0},
        {"", TYPE_STRING, "a", TYPE_STRING, 3, -1},
        {"a", TYPE_STRING, "", TYPE_STRING, 3, 1},
        {"a", TYPE_STRING, "a", TYPE_FILE, 3, -2},
        {"a", TYPE_STRING, "A", TYPE_FILE, 0, 0},
        {"a", TYPE_STRING, "A", TYPE_FILE, 1, 0},
        {"B", TYPE_STRING, "a", TYPE_STRING, 7, 1},
        {"B", TYPE_STRING, "a", TYPE_STRING, 8, -1},
        {"é", TYPE_STRING, "É", TYPE_STRING, 0, 0},
        {"\U0001E943", TYPE_STRING, "\U0001E921", TYPE_STRING, 0, 0},
        {"_", TYPE_STRING, "a", TYPE_STRING, 3, 1},  // folded up: "A" sorts before "_"
        {"a", TYPE_STRING, "a", TYPE_STRING, 9, -1},  // equal but not the same
    };
    for (const Case& c : cases) {
        Cell* a = text(c.a, c.a_type);
        Cell* b = text(c.b, c.b_type);
        EXPECT_EQ(string::compare(a, b, c.op), c.answer) << c.a << " op " << c.op << " " << c.b;
    }
    Cell* s = text("x");
    EXPECT_EQ(string::compare(s, s, 9), 0);
}

TEST_F(StringCompare, WidthsDoNotMatter) {
    EXPECT_EQ(string::compare(text_in("abc", 4), text_in("ABC", 2), 0), 0);
    EXPECT_EQ(string::compare(text_in("abd", 2), text("abc"), 5), 1);
}

TEST_F(StringCompare, PrefixMode) {
    EXPECT_EQ(string::compare_values(text("abc"), text("AB"), 0, true), 0);
    EXPECT_EQ(string::compare_values(text("abc"), text("AB"), 2, true), 1);
    EXPECT_EQ(string::compare_values(text("a"), text("ab"), 0, true), 1);
    EXPECT_EQ(string::compare_values(text("a"), text(""), 0, true), 0);
    EXPECT_EQ(string::compare_values(text("a"), text(""), 12, true), 1);
}

// ---- make, to, path ---------------------------------------------------------------------

TEST_F(StringConvert, MakeBySize) {
    Cell* proto = text("");
    Cell* r = string::make(proto, integer(0), TYPE_STRING);
    EXPECT_EQ(cell::type_of(r), TYPE_STRING);
    EXPECT_EQ(string::length(r), 0u);
    r = string::make(proto, integer(100), TYPE_FILE);
    EXPECT_EQ(cell::type_of(r), TYPE_FILE);
    EXPECT_GE(series::buffer_of(r->data2)->size, 100u);
    EXPECT_EQ(code(caught([&] { string::make(proto, integer(-1), TYPE_STRING); })), err::OUT_OF_RANGE);
    for (const double d : {-1.0, 3e9, __builtin_nan("")}) {
        Cell f{TYPE_FLOAT, 0, 0, 0};
        cell::put_double(&f, d);
        Cell* spec = stack::push(&f);
        EXPECT_EQ(code(caught([&] { string::make(proto, spec, TYPE_STRING); })), err::OUT_OF_RANGE) << d;
    }
    Cell f{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&f, 7.9);
    EXPECT_GE(series::buffer_of(string::make(proto, stack::push(&f), TYPE_STRING)->data2)->size, 7u);
}

TEST_F(StringConvert, ToFromTextsBlocksAndBytes) {
    Cell* proto = text("");
    Cell* src = text("hello");
    src->data1 = 1;
    Cell* copy = string::to(proto, src, TYPE_FILE);
    EXPECT_EQ(cell::type_of(copy), TYPE_FILE);
    EXPECT_EQ(copy->data1, 0u);
    EXPECT_NE(copy->data2, src->data2);
    EXPECT_EQ(utf8(copy), "ello");

    Cell* joined = string::to(proto, make_block({text("ab"), chr('c'), text("é")}), TYPE_STRING);
    EXPECT_EQ(utf8(joined), "abcé");

    EXPECT_EQ(utf8(string::to(proto, binary("a\xC3\xA9"), TYPE_STRING)), "aé");
    const Cell e = caught([&] { string::to(proto, binary("a\xFF\x62"), TYPE_STRING); });
    ASSERT_EQ(code(e), err::INVALID_UTF8);
    const Cell bad = err::field(&e, err::F_ARG1);
    ASSERT_EQ(cell::type_of(&bad), TYPE_BINARY);
    ASSERT_EQ(series::buffer_length(bad.data2), 2u) << "the bytes from the offending one on";
    EXPECT_EQ(series::pick_byte(bad.data2, 1), 0xFF);

    EXPECT_EQ(code(caught([&] { string::to(proto, stack::push(&shared::none), TYPE_STRING); })), err::BAD_TO_ARG);
}

TEST_F(StringConvert, PathAccess) {
    Cell* s = text("abc");
    Cell word{TYPE_WORD, 0, 1, 0};
    EXPECT_EQ(code(caught([&] { string::eval_path(s, stack::push(&word), nullptr, nullptr, nullptr, nullptr, 0, false,
                                                  true, true, false); })),
              err::INVALID_PATH);
    Cell* r = string::eval_path(text("a=b"), chr('='), nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_EQ(cell::type_of(r), TYPE_CHAR);
    EXPECT_EQ(r->data2, 'b');
    EXPECT_EQ(code(caught([&] { string::eval_path(s, chr('z'), chr('q'), nullptr, nullptr, nullptr, 0, false, false,
                                                  true, false); })),
              err::BAD_PATH_SET);
    if (!datatype::action(TYPE_STRING, datatype::PICK)) GTEST_SKIP() << "series pick is not registered yet";
    r = string::eval_path(s, integer(2), nullptr, nullptr, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_EQ(cell::type_of(r), TYPE_CHAR);
    EXPECT_EQ(r->data2, 'b');
}

TEST_F(StringConvert, RegisteredSlots) {
    EXPECT_EQ(datatype::action(TYPE_STRING, datatype::MOLD), as_action(&string::mold));
    EXPECT_EQ(datatype::action(TYPE_FILE, datatype::TRIM), as_action(&string::trim)) << "inherited by file!";
    EXPECT_EQ(datatype::action(TYPE_STRING, datatype::ADD), nullptr);
    EXPECT_EQ(datatype::action(TYPE_STRING, datatype::PUT), nullptr);
    EXPECT_EQ(datatype::action(TYPE_STRING, datatype::OPEN), nullptr);
    EXPECT_EQ(datatype::action(TYPE_STRING, datatype::LENGTH_Q), datatype::action(TYPE_SERIES, datatype::LENGTH_Q));
}

}  // namespace
}  // namespace qel
