// The lexer's scan loop: token classes to values, nesting and paths,
// new-line flags, line numbers in syntax errors, the transcode modes, trace
// events, and the limits (long text through the scratch area, deep
// nesting).
#include <cmath>
#include <string>
#include <vector>

#include "lexer_support.hpp"

namespace qel {
namespace {

using Lexer = testutil::LexerRuntime;

struct TokenCase {
    const char* text;
    uint32_t type;
    int64_t integer;      // integer! and char! payloads
    double number;        // float! payload
    const char* name;     // spelling of words and text of strings
};

TEST_F(Lexer, TokenClassesLoadTheirValues) {
    const double inf = INFINITY;
    const TokenCase cases[] = {
        {"123", TYPE_INTEGER, 123, 0, nullptr},
        {"-2147483648", TYPE_INTEGER, INT32_MIN, 0, nullptr},
        {"+7", TYPE_INTEGER, 7, 0, nullptr},
        {"2147483648", TYPE_FLOAT, 0, 2147483648.0, nullptr},
        {"-2147483649", TYPE_FLOAT, 0, -2147483649.0, nullptr},
        {"12345678901", TYPE_FLOAT, 0, 12345678901.0, nullptr},
        {"00000000012", TYPE_FLOAT, 0, 12.0, nullptr},  // more than ten digits
        {"1'000'000", TYPE_INTEGER, 1000000, 0, nullptr},
        {"0FFh", TYPE_INTEGER, 255, 0, nullptr},
        {"FFFFFFFFh", TYPE_INTEGER, -1, 0, nullptr},
        {"1.5", TYPE_FLOAT, 0, 1.5, nullptr},
        {"1.", TYPE_FLOAT, 0, 1.0, nullptr},
        {".5", TYPE_FLOAT, 0, 0.5, nullptr},
        {"-1.5e3", TYPE_FLOAT, 0, -1500.0, nullptr},
        {"1'000.5", TYPE_FLOAT, 0, 1000.5, nullptr},
        {"1.#INF", TYPE_FLOAT, 0, inf, nullptr},
        {"-1.#inf", TYPE_FLOAT, 0, -inf, nullptr},
        {"abc", TYPE_WORD, 0, 0, "abc"},
        {"a:", TYPE_SET_WORD, 0, 0, "a"},
        {":a", TYPE_GET_WORD, 0, 0, "a"},
        {"'a", TYPE_LIT_WORD, 0, 0, "a"},
        {"/", TYPE_WORD, 0, 0, "/"},
        {"//", TYPE_WORD, 0, 0, "//"},
        {"<", TYPE_WORD, 0, 0, "<"},
        {"<=", TYPE_WORD, 0, 0, "<="},
        {"+", TYPE_WORD, 0, 0, "+"},
        {"%", TYPE_WORD, 0, 0, "%"},
        {"a.b", TYPE_WORD, 0, 0, "a.b"},
        {"x?", TYPE_WORD, 0, 0, "x?"},
        {"caf\xC3\xA9", TYPE_WORD, 0, 0, "caf\xC3\xA9"},
        {"/ref", TYPE_REFINEMENT, 0, 0, "ref"},
        {"#iss", TYPE_ISSUE, 0, 0, "iss"},
        {"#\"a\"", TYPE_CHAR, 'a', 0, nullptr},
        {"#\"^(1F600)\"", TYPE_CHAR, 0x1F600, 0, nullptr},
        {"#\"^/\"", TYPE_CHAR, 10, 0, nullptr},
        {"#\"\xE2\x82\xAC\"", TYPE_CHAR, 0x20AC, 0, nullptr},
        {"\"abc\"", TYPE_STRING, 0, 0, "abc"},
        {"\"\"", TYPE_STRING, 0, 0, ""},
        {"{a {b} c}", TYPE_STRING, 0, 0, "a {b} c"},
        {"{a^}b}", TYPE_STRING, 0, 0, "a}b"},
        {"{line\nbreak}", TYPE_STRING, 0, 0, "line\nbreak"},
        {"%{raw ^/ \"}%", TYPE_STRING, 0, 0, "raw ^/ \""},
        {"%%{a}%b}%%", TYPE_STRING, 0, 0, "a}%b"},
        {"#(true)", TYPE_LOGIC, 1, 0, nullptr},
        {"#(none)", TYPE_NONE, 0, 0, nullptr},
        {"#(integer!)", TYPE_DATATYPE, TYPE_INTEGER, 0, nullptr},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.text);
        const Cell v = one(c.text);
        ASSERT_EQ(cell::type_of(&v), c.type);
        switch (c.type) {
            case TYPE_INTEGER:
                EXPECT_EQ(integer_value(v), static_cast<int32_t>(c.integer));
                break;
            case TYPE_CHAR:
                EXPECT_EQ(char_code(v), static_cast<uint32_t>(c.integer));
                break;
            case TYPE_LOGIC:
                EXPECT_EQ(logic_value(v), static_cast<uint32_t>(c.integer));
                break;
            case TYPE_DATATYPE:
                EXPECT_EQ(datatype_id(v), static_cast<uint32_t>(c.integer));
                break;
            case TYPE_FLOAT:
                EXPECT_EQ(cell::get_double(&v), c.number);
                break;
            default:
                if (c.name) {
                    EXPECT_EQ(utf8_of(v), c.name);
                }
        }
    }
    const Cell nan = one("1.#NaN");
    EXPECT_TRUE(std::isnan(cell::get_double(&nan)));
    EXPECT_FALSE(std::signbit(cell::get_double(&nan)));
}

TEST_F(Lexer, WordsAreBoundGloballyAndSpellingsKept) {
    const Cell a = one("Hello");
    const Cell b = one("hello:");
    EXPECT_EQ(word_context(a), context::global);
    EXPECT_EQ(symbol::canonical(word_symbol(a)), symbol::canonical(word_symbol(b)));
    EXPECT_EQ(utf8_of(a), "Hello");
    const Cell r = one("/only");
    EXPECT_EQ(word_index(r), -1);  // never a field of the global context
}

TEST_F(Lexer, DelimitersEndWords) {
    const Cell b = load("a[b]c(d)e\"s\"f;x\ng{t}h");
    std::vector<uint32_t> types;
    for (uint32_t i = 0; i < count(b); i++) types.push_back(cell::type_of(block::cell_at(&b, i)));
    // a [b] c (d) e "s" f g {t} h — the tag literal comes later: only up to h.
    ASSERT_GE(types.size(), 10u);
    const std::vector<uint32_t> expected = {TYPE_WORD, TYPE_BLOCK, TYPE_WORD,  TYPE_PAREN, TYPE_WORD,
                                            TYPE_STRING, TYPE_WORD, TYPE_WORD, TYPE_STRING, TYPE_WORD};
    EXPECT_EQ(std::vector<uint32_t>(types.begin(), types.begin() + 10), expected);
}

TEST_F(Lexer, UnicodeBlanksSeparateWords) {
    const Cell b = load("a\xE3\x80\x80" "b");  // U+3000 between
    ASSERT_EQ(count(b), 2u);
    EXPECT_EQ(utf8_of(item(b, 0)), "a");
    EXPECT_EQ(utf8_of(item(b, 1)), "b");
    EXPECT_EQ(count(load("\xC2\xA0")), 0u);  // only U+00A0: nothing
    const Cell n = one("\xC2\xA0" "12");
    EXPECT_EQ(cell::type_of(&n), TYPE_INTEGER);
}

TEST_F(Lexer, NestingBuildsSeriesAndKeepsNewLines) {
    const Cell b = load("[a [b c] (d)]\n  e\n[\n f g\n h]");
    ASSERT_EQ(count(b), 3u);
    const Cell outer = item(b, 0);
    ASSERT_EQ(cell::type_of(&outer), TYPE_BLOCK);
    ASSERT_EQ(count(outer), 3u);
    const Cell inner = item(outer, 1);
    EXPECT_EQ(cell::type_of(&inner), TYPE_BLOCK);
    EXPECT_EQ(count(inner), 2u);
    const Cell paren = item(outer, 2);
    EXPECT_EQ(cell::type_of(&paren), TYPE_PAREN);
    EXPECT_FALSE(outer.header & cell_flag::NEW_LINE);
    const Cell e = item(b, 1);
    EXPECT_TRUE(e.header & cell_flag::NEW_LINE);
    const Cell last = item(b, 2);
    EXPECT_TRUE(last.header & cell_flag::NEW_LINE);
    ASSERT_EQ(count(last), 3u);
    EXPECT_TRUE(item(last, 0).header & cell_flag::NEW_LINE);    // f
    EXPECT_FALSE(item(last, 1).header & cell_flag::NEW_LINE);   // g
    EXPECT_TRUE(item(last, 2).header & cell_flag::NEW_LINE);    // h
    const Cell s = item(load("a\n{x}"), 1);
    EXPECT_TRUE(s.header & cell_flag::NEW_LINE);
}

TEST_F(Lexer, PathsAndTheirKinds) {
    struct Case {
        const char* text;
        uint32_t type;
        std::vector<uint32_t> elements;
    };
    const Case cases[] = {
        {"a/b", TYPE_PATH, {TYPE_WORD, TYPE_WORD}},
        {"a/b/c", TYPE_PATH, {TYPE_WORD, TYPE_WORD, TYPE_WORD}},
        {"a/b:", TYPE_SET_PATH, {TYPE_WORD, TYPE_WORD}},
        {":a/b", TYPE_GET_PATH, {TYPE_WORD, TYPE_WORD}},
        {"'a/b", TYPE_LIT_PATH, {TYPE_WORD, TYPE_WORD}},
        {"a/1/(b c)/\"s\"", TYPE_PATH, {TYPE_WORD, TYPE_INTEGER, TYPE_PAREN, TYPE_STRING}},
        {"a/:b", TYPE_PATH, {TYPE_WORD, TYPE_GET_WORD}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Cell p = one(c.text);
        ASSERT_EQ(cell::type_of(&p), c.type);
        ASSERT_EQ(count(p), c.elements.size());
        for (uint32_t i = 0; i < c.elements.size(); i++) {
            const Cell e = item(p, i);
            EXPECT_EQ(cell::type_of(&e), c.elements[i]) << i;
        }
    }
    const Cell b = one("[x a/b y]");
    ASSERT_EQ(count(b), 3u);
    const Cell p = item(b, 1);
    EXPECT_EQ(cell::type_of(&p), TYPE_PATH);
}

TEST_F(Lexer, SyntaxErrorsNameTypeTextAndLine) {
    struct Case {
        const char* text;
        int code;
        const char* arg1;
        const char* arg2;
        const char* arg3;
    };
    const Case cases[] = {
        {"1a", err::INVALID, "(line 1)", "integer!", "1a"},
        {"123abc", err::INVALID, "(line 1)", "integer!", "123abc"},
        {"x\n\n 1a", err::INVALID, "(line 3)", "integer!", "1a"},
        {"[a", err::MISSING, "(line 1)", "]", "[a"},
        {"(a\nb", err::MISSING, "(line 2)", ")", "(a"},
        {"a]", err::MISSING, "(line 1)", "[", "]"},
        {"[a)", err::MISSING, "(line 1)", "(", ")"},
        {"1''0", err::INVALID, "(line 1)", "integer!", "1''0"},
        {"1.e5", err::INVALID, "(line 1)", "float!", "1.e5"},
        {"0h", err::INVALID, "(line 1)", "integer!", "0h"},
        {"\"abc", err::INVALID, "(line 1)", "string!", "\"abc"},
        {"{abc", err::INVALID, "(line 1)", "string!", "{abc"},
        {"\"^(zz)\"", err::INVALID, "(line 1)", "string!", "\"^(zz)\""},
        {"#", err::INVALID, "(line 1)", "issue!", "#"},
        {"#\"\"", err::INVALID, "(line 1)", "char!", "#\"\""},
        {"#\"ab\"", err::INVALID, "(line 1)", "char!", "#\"ab\""},
        {"#\"^(110000)\"", err::INVALID, "(line 1)", "char!", "#\"^(110000)\""},
        {":a:", err::INVALID, "(line 1)", "word!", ":a:"},
        {"%{open", err::INVALID, "(line 1)", "string!", "%{open"},
        {"#(foo)", err::MALCONSTRUCT, "(line 1)", "#(foo)", ""},
        {"}", err::BAD_CHAR, "(line 1)", "}", ""},
        {"a , b", err::BAD_CHAR, "(line 1)", ", b", ""},
        {"a, b", err::INVALID, "(line 1)", "word!", "a, b"},
        {"$1,5", err::INVALID, "(line 1)", "money!", "$1,5"},
        {"a\xC0" "b", err::INVALID, "(line 1)", "word!", "a\xEF\xBF\xBD" "b"},
        {"1234567890123456789012345678901234a", err::INVALID, "(line 1)", "integer!",
         "123456789012345678901234567890"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Syntax e = load_error(c.text);
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.arg1, c.arg1);
        if (c.code == err::MALCONSTRUCT || c.code == err::BAD_CHAR) {
            EXPECT_EQ(e.arg2, c.arg2);  // the offending text is the second argument
        } else {
            EXPECT_EQ(e.arg2, c.arg2);
            EXPECT_EQ(e.arg3, c.arg3);
        }
    }
}

TEST_F(Lexer, TranscodeModes) {
    Cell* input = stack::push_slot();
    *input = string_of("1 [2 3] x");
    Cell* result = stack::push_slot();
    Cell* rest = stack::push_slot();

    lexer::Options next;
    next.next = true;
    lexer::transcode(input, next, result, rest);
    EXPECT_EQ(cell::type_of(result), TYPE_INTEGER);
    EXPECT_EQ(series_index(rest), 1u);
    *input = *rest;
    lexer::transcode(input, next, result, rest);
    EXPECT_EQ(cell::type_of(result), TYPE_BLOCK);
    EXPECT_EQ(series_index(rest), 7u);

    lexer::Options scan;
    scan.scan = true;
    *input = string_of("[1 2] 3");
    lexer::transcode(input, scan, result, rest);
    EXPECT_EQ(cell::type_of(result), TYPE_DATATYPE);
    EXPECT_EQ(datatype_id(result), static_cast<uint32_t>(TYPE_BLOCK));
    *input = string_of("1a");
    lexer::transcode(input, scan, result, rest);
    EXPECT_EQ(datatype_id(result), static_cast<uint32_t>(TYPE_ERROR));
    *input = string_of("a/b:");
    lexer::transcode(input, scan, result, rest);
    EXPECT_EQ(datatype_id(result), static_cast<uint32_t>(TYPE_SET_PATH));
    *input = string_of("  ");
    lexer::transcode(input, scan, result, rest);
    EXPECT_EQ(cell::type_of(result), TYPE_NONE);

    lexer::Options prescan;
    prescan.prescan = true;
    *input = string_of("; note\n[1");  // unclosed, but the first token is enough
    lexer::transcode(input, prescan, result, rest);
    EXPECT_EQ(datatype_id(result), static_cast<uint32_t>(TYPE_BLOCK));

    lexer::Options part;
    part.part = 3;
    *input = string_of("123456");
    lexer::transcode(input, part, result, rest);
    ASSERT_EQ(count(*result), 1u);
    EXPECT_EQ(integer_value(item(*result, 0)), 123);

    lexer::Options into;
    Cell* target = stack::push_slot();
    *target = load("a");
    into.into = target;
    *input = string_of("b c");
    lexer::transcode(input, into, result, rest);
    EXPECT_EQ(count(*target), 3u);
    EXPECT_EQ(series_node(result), series_node(target));

    lexer::Options one_value;
    one_value.one = true;
    *input = string_of("  \"x\" y");
    lexer::transcode(input, one_value, result, rest);
    EXPECT_EQ(cell::type_of(result), TYPE_STRING);
}

TEST_F(Lexer, BinaryInputCountsBytes) {
    Cell* input = stack::push_slot();
    const char text[] = "\xC3\xA9t\xC3\xA9 1";
    const node_t n = memory::alloc_bytes(sizeof text - 1);
    series::append_bytes(n, text, sizeof text - 1);
    *input = Cell{TYPE_BINARY, 0, n, 0};
    Cell* result = stack::push_slot();
    Cell* rest = stack::push_slot();
    lexer::Options next;
    next.next = true;
    lexer::transcode(input, next, result, rest);
    EXPECT_EQ(cell::type_of(result), TYPE_WORD);
    EXPECT_EQ(series_index(rest), 5u);  // bytes, not characters
}

struct Recorder {
    std::vector<std::pair<uint32_t, uint32_t>> events;  // (event, type)
    bool drop_integers = false;
    bool swallow_errors = false;
};

bool record(void* user, lexer::TraceInfo& info) {
    auto* r = static_cast<Recorder*>(user);
    r->events.emplace_back(info.event, info.type);
    if (info.event == lexer::EV_LOAD && r->drop_integers && info.type == TYPE_INTEGER) return false;
    if (info.event == lexer::EV_ERROR && r->swallow_errors) return false;
    return true;
}

TEST_F(Lexer, TraceSeesEventsAndMayVeto) {
    Recorder rec;
    rec.drop_integers = true;
    lexer::Tracer tracer;
    tracer.fn = record;
    tracer.user = &rec;
    Cell* input = stack::push_slot();
    *input = string_of("[a 1] 2");
    Cell* result = stack::push_slot();
    lexer::Options o;
    o.trace = &tracer;
    lexer::transcode(input, o, result, nullptr);
    ASSERT_EQ(count(*result), 1u);
    const Cell b = item(*result, 0);
    EXPECT_EQ(count(b), 1u);  // the integers were dropped
    using E = lexer::Event;
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {E::EV_PRESCAN, 0},           {E::EV_OPEN, TYPE_BLOCK},
        {E::EV_PRESCAN, TYPE_WORD},   {E::EV_SCAN, TYPE_WORD},    {E::EV_LOAD, TYPE_WORD},
        {E::EV_PRESCAN, TYPE_INTEGER}, {E::EV_SCAN, TYPE_INTEGER}, {E::EV_LOAD, TYPE_INTEGER},
        {E::EV_PRESCAN, 0},           {E::EV_CLOSE, TYPE_BLOCK},
        {E::EV_PRESCAN, TYPE_INTEGER}, {E::EV_SCAN, TYPE_INTEGER}, {E::EV_LOAD, TYPE_INTEGER},
    };
    EXPECT_EQ(rec.events, expected);

    Recorder swallow;
    swallow.swallow_errors = true;
    tracer.user = &swallow;
    tracer.mask = lexer::EV_ERROR;
    *input = string_of("a 1a b");
    lexer::transcode(input, o, result, nullptr);
    ASSERT_EQ(swallow.events.size(), 1u);
    EXPECT_EQ(swallow.events[0].second, static_cast<uint32_t>(TYPE_INTEGER));
    EXPECT_GE(count(*result), 2u);  // a and b survive the swallowed error
}

TEST_F(Lexer, LongNonAsciiStringThroughTheScratchArea) {
    // Two-byte units whose characters need three UTF-8 bytes each: the
    // staged text is half again as long as units x width.
    std::string text = "\"";
    for (int i = 0; i < 50000; i++) text += "\xE2\x82\xAC";
    text += "\"";
    Cell* input = stack::push_slot();
    *input = string_of(text);
    Cell* result = stack::push_slot();
    lexer::transcode(input, lexer::Options{}, result, nullptr);
    ASSERT_EQ(count(*result), 1u);
    const Cell s = item(*result, 0);
    ASSERT_EQ(cell::type_of(&s), TYPE_STRING);
    EXPECT_EQ(series::length_of(&s), 50000);
    EXPECT_EQ(unicode::codepoint_at(series_node(s), 49999), 0x20ACu);
    // A shorter one fits the scratch area itself.
    *input = string_of("\"\xC3\xA9\xE2\x82\xAC\"");
    lexer::transcode(input, lexer::Options{}, result, nullptr);
    EXPECT_EQ(series::length_of(block::cell_at(result, 0)), 2);
}

TEST_F(Lexer, DeepNestingIsRefused) {
    const std::string ok(2000, '[');
    EXPECT_EQ(load_error(ok + std::string(2000, ']')).code, 0);
    const std::string deep(200000, '[');
    EXPECT_EQ(load_error(deep).code, err::STACK_OVERFLOW);
}

TEST_F(Lexer, NulEndsTheInput) {
    const Cell b = load(std::string("a b\0c", 5));
    EXPECT_EQ(count(b), 2u);
}

}  // namespace
}  // namespace qel
