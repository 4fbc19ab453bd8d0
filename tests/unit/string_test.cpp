// string! buffers: the unit widths and when they grow, the helpers that
// work on units, case mapping into wide units, the mold budget, and the
// capacity make reserves. What a script sees (mold, compare, make and to,
// paths) is tested in tests/lang/strings/string_cases.qel.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.hpp"
#include "datatypes/string_modify.hpp"
#include "runtime/datatypes.hpp"
#include "string_test_support.hpp"

namespace qel {
namespace {

using testutil::TextTest;
using StringBuffer = TextTest;
using StringMold = TextTest;
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
        if (c.store) string::poke_char(series_node(s), 0, c.cp);
        else string::append_char(series_node(s), c.cp);
        EXPECT_EQ(width_of(s), c.width) << c.what;
        EXPECT_EQ(string::char_at(s, c.store ? 0 : 1), c.cp) << c.what;
        EXPECT_EQ(string::char_at(s, 0), c.store ? c.cp : 'x') << c.what;
    }
}

TEST_F(StringBuffer, AppendingWiderTextWidensTheSameSeriesInPlace) {
    Cell* s = text("café");
    ASSERT_EQ(width_of(s), 1u);
    const node_t node = series_node(s);
    string::append(s, text("€"), -1, false, 1);
    EXPECT_EQ(width_of(s), 2u);
    string::append(s, text("😀"), -1, false, 1);
    EXPECT_EQ(series_node(s), node);
    EXPECT_EQ(width_of(s), 4u);
    EXPECT_EQ(string::length(s), 6u);
    EXPECT_EQ(utf8(s), "café€😀");
}

TEST_F(StringBuffer, HelpersStayInsideTheBuffer) {
    Cell* s = text("abc");
    series_index(s) = 7;  // the buffer was cut below the index
    EXPECT_EQ(string::length(s), 0u);
    EXPECT_TRUE(string::is_tail(s));
    EXPECT_EQ(string::clamp_index(s), 3u);
    EXPECT_EQ(series_index(s), 3u) << "clamping writes the index back";
    EXPECT_EQ(string::char_at(s, 3), 0u) << "past the tail reads as 0";

    Cell* t = text("hαel");
    ASSERT_EQ(width_of(t), 2u);
    string::clear_latin1(t);
    EXPECT_EQ(width_of(t), 1u);
    EXPECT_EQ(string::length(t), 0u);
}

TEST_F(StringBuffer, ConcatenateKeepsTheSourceWidthWhenAsked) {
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
    unicode::change_case(series_node(adlam), 0, 2, true);
    EXPECT_EQ(utf8(adlam), "\U0001E921X");
    unicode::change_case(series_node(adlam), 0, 2, false);
    EXPECT_EQ(utf8(adlam), "\U0001E943x");
    Cell* latin = text("\u00FF");  // its capital lies above 255
    ASSERT_EQ(width_of(latin), 1u);
    unicode::change_case(series_node(latin), 0, 1, true);
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

// ---- mold ------------------------------------------------------------------------

TEST_F(StringMold, TheWholeLengthChoosesBracesWhenAPartIsMolded) {
    EXPECT_EQ(molded(text(std::string(50, 'a')), false, true, 3), "{aaa}");
}

TEST_F(StringMold, PartAndBudget) {
    Cell* s = text("hello");
    const node_t out = text::make_buffer(16);
    EXPECT_EQ(string::mold(s, out, datatype::MoldOptions{.part = true}, 3, 0), 3 - 3 - 2);
    EXPECT_EQ(text::to_utf8(out), "\"hel\"");
    EXPECT_EQ(molded(s, false, true, -4), "\"\"");
    series_index(s) = 2;
    EXPECT_EQ(molded(s), "\"llo\"");
    const node_t formed = text::make_buffer(16);
    EXPECT_EQ(string::form(s, formed, true, 2), -1);
    EXPECT_EQ(text::to_utf8(formed), "ll");
}

// ---- make ---------------------------------------------------------------------

TEST_F(StringConvert, MakeBySizeReservesTheUnits) {
    Cell* proto = text("");
    Cell* r = string::make(proto, integer(100), TYPE_FILE);
    EXPECT_GE(series::buffer_of(series_node(r))->size, 100u);
    Cell f{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&f, 7.9);
    const Cell* by_float = string::make(proto, stack::push(&f), TYPE_STRING);
    EXPECT_GE(series::buffer_of(series_node(by_float))->size, 7u);
}

}  // namespace
}  // namespace qel
