// Display width of code points: controls, combining marks and format
// characters, East Asian wide and fullwidth text, emoji, the CJK variant for
// ambiguous characters, and the range search at the edges of its tables.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/char_width.hpp"

namespace {

using namespace qel;

TEST(CharWidth, ByKindOfCharacter) {
    const struct {
        uint32_t cp;
        int width;
    } cases[] = {
        {0x0000, 0}, {0x0041, 1}, {0x007E, 1},                   // NUL, ASCII
        {0x0009, 1}, {0x001B, 1}, {0x007F, 1}, {0x009F, 1},      // controls show as one cell
        {0x00A1, 1}, {0x00AD, 1}, {0x00E9, 1}, {0x0600, 1},      // soft hyphen, prepended mark
        {0x0300, 0}, {0x0301, 0}, {0x036F, 0}, {0x0370, 1},      // combining diacritics
        {0x0488, 0}, {0x20DD, 0},                                // enclosing marks
        {0x200B, 0}, {0x200D, 0}, {0xFE0F, 0}, {0xFEFF, 0},      // format characters
        {0x1160, 0}, {0x11A8, 0}, {0xD7B0, 0},                   // conjoining Hangul jamo
        {0x1100, 2}, {0x115F, 2}, {0xAC00, 2}, {0xD7A3, 2},      // Hangul leading jamo, syllables
        {0x3000, 2}, {0x302A, 0}, {0x3099, 0}, {0x3042, 2},      // CJK punctuation, kana, marks among them
        {0x4E00, 2}, {0x9FFF, 2}, {0xF900, 2},                   // ideographs
        {0xFF01, 2}, {0xFF61, 1}, {0xFFE0, 2},                   // fullwidth, halfwidth
        {0x231A, 2}, {0x1F600, 2}, {0x1F44D, 2}, {0x1F1E6, 1},   // emoji, regional indicator
        {0x20000, 2}, {0x2FFFD, 2}, {0x30000, 2}, {0x3FFFD, 2},  // planes 2 and 3
        {0x3FFFE, 1}, {0x40000, 1},
        {0xE0001, 0}, {0xE0100, 0}, {0xE01EF, 0}, {0xE01F0, 1},  // tags, variation selectors
        {0x10FFFF, 1}, {0x110000, 1}, {0xFFFFFFFF, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(text::char_width(c.cp), c.width) << std::hex << c.cp;
}

TEST(CharWidth, CjkMakesAmbiguousWide) {
    const struct {
        uint32_t cp;
        int width;
    } cases[] = {
        {0x00A1, 2}, {0x2460, 2}, {0x100000, 2}, {0x10FFFD, 2},  // ambiguous
        {0x0041, 1}, {0x4E00, 2}, {0x0000, 0},
        {0x0300, 0}, {0xE0100, 0},                                // ambiguous but combining: still none
    };
    for (const auto& c : cases) EXPECT_EQ(text::char_width_cjk(c.cp), c.width) << std::hex << c.cp;
}

TEST(CharWidth, InRangesAtEveryEdge) {
    const text::Range table[] = {{10, 20}, {30, 30}, {40, 50}};
    const struct {
        uint32_t cp;
        bool in;
    } cases[] = {
        {0, false}, {9, false}, {10, true}, {15, true}, {20, true}, {21, false}, {29, false},
        {30, true}, {31, false}, {39, false}, {40, true}, {50, true}, {51, false}, {0xFFFFFFFF, false},
    };
    for (const auto& c : cases) EXPECT_EQ(text::in_ranges(c.cp, table, 3), c.in) << c.cp;
    EXPECT_FALSE(text::in_ranges(10, table, 0));
    EXPECT_TRUE(text::in_ranges(30, table + 1, 1));
    EXPECT_FALSE(text::in_ranges(40, table, 2));
}

TEST(CharWidth, GeneratedTablesAreSortedAndDisjoint) {
    // The search bisects: an unsorted or overlapping table would hide ranges.
    const struct {
        const char* name;
        const text::Range* table;
        size_t count;
    } tables[] = {
        {"zero-width", text::ZERO_WIDTH, text::ZERO_WIDTH_COUNT},
        {"wide", text::WIDE, text::WIDE_COUNT},
        {"ambiguous", text::AMBIGUOUS, text::AMBIGUOUS_COUNT},
    };
    for (const auto& t : tables) {
        ASSERT_GT(t.count, 0u) << t.name;
        for (size_t i = 0; i < t.count; i++) {
            EXPECT_LE(t.table[i].low, t.table[i].high) << t.name << " " << i;
            EXPECT_LE(t.table[i].high, 0x10FFFFu) << t.name << " " << i;
            if (i > 0) {
                EXPECT_GT(t.table[i].low, t.table[i - 1].high + 1) << t.name << " " << i;
            }
        }
    }
}

}  // namespace
