// append, insert, change, swap, take and trim on strings: the results and
// the index each leaves, /part and /dup, values that share the series'
// buffer, widening on the way in, size overflow, and the trim modes.
#include <gtest/gtest.h>

#include "datatypes/string.hpp"
#include "datatypes/string_modify.hpp"
#include "runtime/datatypes.hpp"
#include "string_test_support.hpp"

namespace qel {
namespace {

using testutil::TextTest;
using StringAppend = TextTest;
using StringSwapTake = TextTest;
using StringTrim = TextTest;

// A value put at an index of a text by insert or change: the whole text
// and the index answered.
struct PlacedCase {
    const char* what;
    const char* series;
    uint32_t index;
    std::function<Cell*()> value;
    int32_t part;
    int32_t dup;
    const char* result;
    uint32_t result_index;
};

std::string whole(const Cell* s) {
    Cell w = *s;
    w.data1 = 0;
    std::string out;
    for (uint32_t i = 0; i < string::length(&w); i++) {
        uint8_t b[4];
        out.append(reinterpret_cast<const char*>(b), unicode::encode_utf8(string::char_at(&w, i), b));
    }
    return out;
}

// insert and change: the value put at an index of a text.
class StringPlace : public TextTest {
protected:
    template <size_t N>
    static void run_placed(const PlacedCase (&cases)[N], Cell* (*place)(Cell*, Cell*, int32_t, bool, int32_t)) {
        for (const PlacedCase& c : cases) {
            Cell* s = text(c.series);
            s->data1 = c.index;
            Cell* r = place(s, c.value(), c.part, false, c.dup);
            EXPECT_EQ(whole(r), c.result) << c.what;
            EXPECT_EQ(r->data1, c.result_index) << c.what;
        }
    }
};
using StringInsert = StringPlace;
using StringChange = StringPlace;

TEST_F(StringAppend, Table) {
    struct Case {
        const char* what;
        const char* series;
        std::function<Cell*()> value;
        int32_t part;
        bool only;
        int32_t dup;
        const char* result;
    } cases[] = {
        {"text", "ab", [] { return text("cd"); }, -1, false, 1, "abcd"},
        {"/dup", "", [] { return text("ab"); }, -1, false, 3, "ababab"},
        {"/part on text", "ab", [] { return text("cdef"); }, 2, false, 1, "abcd"},
        {"char /dup", "", [] { return chr('x'); }, -1, false, 3, "xxx"},
        {"block", "x", [] { return make_block({text("1"), text("2")}); }, -1, false, 1, "x12"},
        {"block /part counts elements", "", [] { return make_block({text("1"), text("22"), text("333")}); }, 2,
         false, 1, "122"},
        {"block /only /part counts characters", "",
         [] { return make_block({text("12"), text("345"), text("6")}); }, 4, true, 1, "1234"},
        {"block /dup", "", [] { return make_block({text("a"), chr('b')}); }, -1, false, 2, "abab"},
        {"tag", "", [] { return text("b", TYPE_TAG); }, -1, false, 1, "<b>"},
        {"tag cut before >", "", [] { return text("b", TYPE_TAG); }, 2, false, 1, "<b"},
        {"tag cut to <", "", [] { return text("bc", TYPE_TAG); }, 1, false, 1, "<"},
        {"tag /dup", "", [] { return text("b", TYPE_TAG); }, -1, false, 2, "<b><b>"},
        {"file", "a/", [] { return text("b", TYPE_FILE); }, -1, false, 1, "a/b"},
        {"wide text", "a", [] { return text("😀b"); }, -1, false, 2, "a😀b😀b"},
        {"part 0 does nothing", "a", [] { return text("b"); }, 0, false, 1, "a"},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.series);
        s->data1 = string::length(s);
        Cell* r = string::append(s, c.value(), c.part, c.only, c.dup);
        EXPECT_EQ(whole(r), c.result) << c.what;
        if (c.part != 0) {
            EXPECT_EQ(r->data1, 0u) << c.what;
        }
    }
}

TEST_F(StringAppend, CharWidthsAndSelf) {
    Cell* s = text("");
    string::append(s, chr(233), -1, false, 1);
    EXPECT_EQ(width_of(s), 2u) << "only ASCII keeps one-byte units when appended";
    Cell* t = text("ab");
    const Cell self = *t;
    string::append(t, stack::push(&self), -1, false, 2);
    EXPECT_EQ(whole(t), "ababab");
}

TEST_F(StringAppend, IntegersAreFormed) {
    if (!datatype::action(TYPE_INTEGER, datatype::FORM)) GTEST_SKIP() << "integer! form is not registered yet";
    Cell* s = text("x");
    string::append(s, make_block({integer(1), integer(2)}), -1, false, 1);
    EXPECT_EQ(whole(s), "x12");
    Cell* t = text("");
    string::append(t, make_block({integer(1), integer(22), integer(333)}), 2, false, 1);
    EXPECT_EQ(whole(t), "122");
    Cell* u = text("n");
    string::append(u, integer(-45), -1, false, 1);
    EXPECT_EQ(whole(u), "n-45");
}

TEST_F(StringAppend, OversizedResultsRaiseNoMemoryAndChangeNothing) {
    Cell* long_text = text(std::string(4096, 'a'));
    struct Case {
        const char* what;
        std::function<void(Cell*)> run;
    } cases[] = {
        {"append /dup", [&](Cell* s) { string::append(s, long_text, -1, false, INT32_MAX); }},
        {"append char /dup", [&](Cell* s) { string::append(s, chr(0x1F600), -1, false, INT32_MAX); }},
        {"insert /dup", [&](Cell* s) { string::insert(s, long_text, -1, false, INT32_MAX); }},
        {"change /dup", [&](Cell* s) { string::change(s, long_text, -1, false, 1 << 20); }},
    };
    for (const Case& c : cases) {
        Cell* s = text("xyz");
        s->data1 = 1;
        EXPECT_EQ(code(caught([&] { c.run(s); })), err::NO_MEMORY) << c.what;
        EXPECT_EQ(whole(s), "xyz") << c.what;
    }
}

TEST_F(StringInsert, Table) {
    const PlacedCase cases[] = {
        {"text", "ad", 1, [] { return text("bc"); }, -1, 1, "abcd", 3},
        {"at the tail", "ab", 2, [] { return text("c"); }, -1, 1, "abc", 3},
        {"at the head", "cd", 0, [] { return text("ab"); }, -1, 1, "abcd", 2},
        {"/part", "ad", 1, [] { return text("bcz"); }, 2, 1, "abcd", 3},
        {"char /dup", "ad", 1, [] { return chr('x'); }, -1, 2, "axxd", 3},
        {"text /dup", "ad", 1, [] { return text("bc"); }, -1, 3, "abcbcbcd", 7},
        {"wide char", "ad", 1, [] { return chr(0x101); }, -1, 1, "aād", 2},
        {"block /part counts characters", "ad", 1, [] { return make_block({text("xy"), text("z")}); }, 2, 1,
         "axyd", 3},
        {"tag", "ad", 1, [] { return text("b", TYPE_TAG); }, -1, 1, "a<b>d", 4},
        {"index past the tail", "ab", 9, [] { return text("c"); }, -1, 1, "abc", 3},
    };
    run_placed(cases, &string::insert);
}

TEST_F(StringInsert, IntoItselfInsertsWhatItHeld) {
    Cell* s = text("abc");
    const Cell self = *s;
    s->data1 = 1;
    string::insert(s, stack::push(&self), -1, false, 1);
    EXPECT_EQ(whole(s), "aabcbc");
    EXPECT_EQ(s->data1, 4u);
}

TEST_F(StringChange, Table) {
    const PlacedCase cases[] = {
        {"one char of text", "abcd", 0, [] { return text("X"); }, -1, 1, "Xbcd", 1},
        {"/part 3", "abcd", 0, [] { return text("X"); }, 3, 1, "Xd", 1},
        {"longer than the rest", "abcd", 1, [] { return text("WXYZ"); }, -1, 1, "aWXYZ", 5},
        {"/part beyond the rest", "abcd", 2, [] { return text("X"); }, 9, 1, "abX", 3},
        {"/dup", "abcd", 0, [] { return text("X"); }, -1, 2, "XXcd", 2},
        {"char widens", "abc", 0, [] { return chr(233); }, -1, 1, "ébc", 1},
        {"at the tail appends", "ab", 2, [] { return text("cd"); }, 1, 1, "abcd", 4},
        {"block", "abcd", 1, [] { return make_block({text("x"), chr('y')}); }, -1, 1, "axyd", 3},
    };
    run_placed(cases, &string::change);
}

TEST_F(StringChange, ItselfWritesWhatItHeldBefore) {
    Cell* s = text("abcd");
    const Cell self = *s;
    s->data1 = 1;
    string::change(s, stack::push(&self), -1, false, 1);
    EXPECT_EQ(whole(s), "aabcd");
    EXPECT_EQ(s->data1, 5u);
    Cell* t = text("abcd");
    Cell tail_part = *t;
    tail_part.data1 = 2;
    string::change(t, stack::push(&tail_part), 2, false, 1);
    EXPECT_EQ(whole(t), "cdcd");
}

TEST_F(StringSwapTake, Swap) {
    Cell* a = text("ab");
    Cell* b = text("Āx");
    string::swap(a, b);
    EXPECT_EQ(whole(a), "Āb");
    EXPECT_EQ(whole(b), "ax");
    Cell* c = text("c");
    Cell* at_tail = text("d");
    at_tail->data1 = 1;
    EXPECT_EQ(string::swap(c, at_tail), c);
    EXPECT_EQ(whole(c), "c");
    EXPECT_EQ(code(caught([&] { string::swap(c, chr('x')); })), err::INVALID_ARG);
}

TEST_F(StringSwapTake, TakeAnswersOneCharAsAChar) {
    const ActionFn shared = datatype::action(TYPE_SERIES, datatype::TAKE);
    if (!shared || shared == as_action(&string::take)) GTEST_SKIP() << "series take is not registered yet";
    Cell* s = text("abc");
    Cell* r = string::take(s, nullptr, false, false);
    EXPECT_EQ(cell::type_of(r), TYPE_CHAR);
    EXPECT_EQ(r->data2, 'a');
    EXPECT_EQ(whole(s), "bc");
    Cell* part = integer(2);
    Cell* t = text("abc");
    r = string::take(t, part, false, false);
    EXPECT_EQ(cell::type_of(r), TYPE_STRING);
    EXPECT_EQ(whole(r), "ab");
    EXPECT_EQ(cell::type_of(string::take(text(""), nullptr, false, false)), TYPE_NONE);
}

TEST_F(StringTrim, Modes) {
    struct Case {
        const char* what;
        const char* series;
        bool head, tail, lines, all;
        const char* with;  // nullptr: no /with
        const char* result;
    } cases[] = {
        {"default", "  a  b  ", false, false, false, false, nullptr, "a  b"},
        {"/lines", "  a  b  ", false, false, true, false, nullptr, "a b"},
        {"/all", "  a  b  ", false, false, false, true, nullptr, "ab"},
        {"/head", "  a  b  ", true, false, false, false, nullptr, "a  b  "},
        {"/tail", "  a  b  ", false, true, false, false, nullptr, "  a  b"},
        {"/head /tail", "  a  b  ", true, true, false, false, nullptr, "a  b"},
        {"lines cleaned, one line feed kept", "  a  \n  b  \n\n", false, false, false, false, nullptr, "a\nb\n"},
        {"carriage return is not a line blank", "a \r\nb", false, false, false, false, nullptr, "a \r\nb"},
        {"/all takes control codes", "\ta\nb \r", false, false, false, true, nullptr, "ab"},
        {"/with a set", "a-b_c-", false, false, false, false, "-_", "abc"},
        {"/with an empty set", "a b", false, false, false, false, "", "a b"},
        {"/lines with wide blanks", "a\u3000\u00A0b\u2028", false, false, true, false, nullptr, "a b"},
        {"blank only", " \t ", false, false, false, false, nullptr, ""},
    };
    for (const Case& c : cases) {
        Cell* s = text(c.series);
        Cell* with = c.with ? text(c.with) : nullptr;
        Cell* r = string::trim(s, c.head, c.tail, false, c.lines, c.all, with);
        EXPECT_EQ(whole(r), c.result) << c.what;
    }
    // Code point 0 is not blank.
    Cell* zero = text(std::string("\0 a", 3));
    string::trim(zero, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(zero), std::string("\0 a", 3));
}

TEST_F(StringTrim, FromTheIndexAndOtherSets) {
    Cell* s = text("x  a  ");
    s->data1 = 1;
    string::trim(s, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(s), "xa");
    EXPECT_EQ(s->data1, 1u);
    Cell* t = text("banana");
    string::trim(t, false, false, false, false, false, chr('a'));
    EXPECT_EQ(whole(t), "bnn");
    Cell* u = text("ā-b");
    string::trim(u, false, false, false, false, true, text("ā"));
    EXPECT_EQ(whole(u), "-b");
    EXPECT_EQ(code(caught([&] { string::trim(text(" a"), false, false, true, false, false, nullptr); })),
              err::NOT_DONE);
}

}  // namespace
}  // namespace qel
