// The console screen model: what escape sequences and ordinary characters
// leave on the screen (cells, cursor, attribute), including sequences cut off
// by the end of the text, private sequences and unknown SGR codes.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "platform/ansi_screen.hpp"
#include "runtime/print_hooks.hpp"

namespace {

using qel::ConsoleScreen;
using Pos = ConsoleScreen::Position;

// Every write goes through an exact-size heap copy, so that reading one unit
// past the end of the text is an AddressSanitizer error.
template <typename Unit, typename Text>
void write_as(ConsoleScreen& s, const Text& text, bool line = false) {
    std::vector<Unit> units;
    for (auto c : text) units.push_back(static_cast<Unit>(static_cast<std::make_unsigned_t<decltype(c)>>(c)));
    units.shrink_to_fit();
    s.write_units(units.data(), units.size(), sizeof(Unit), line);
}

void write1(ConsoleScreen& s, const std::string& text, bool line = false) { write_as<uint8_t>(s, text, line); }

constexpr int W = 20;
constexpr int H = 8;

TEST(AnsiScreen, CursorSequences) {
    struct Case {
        const char* name;
        std::string before;
        std::string seq;
        Pos expected;
    };
    const std::vector<Case> cases = {
        {"H homes", "\x1B[10;5H", "\x1B[H", {0, 0}},
        {"f homes", "\x1B[10;5H", "\x1B[f", {0, 0}},
        {"H takes column first, zero-based", "", "\x1B[10;5H", {10, 5}},
        {"f like H", "", "\x1B[3;4f", {3, 4}},
        {"H past the screen stops at its edges", "", "\x1B[500;500H", {W - 1, H - 1}},
        {"5A on row 2 stops at row 0", "\x1B[3;2H", "\x1B[5A", {3, 0}},
        {"2B", "\x1B[3;2H", "\x1B[2B", {3, 4}},
        {"B stops at the last row", "\x1B[3;2H", "\x1B[99B", {3, H - 1}},
        {"200C stops at the last column", "\x1B[3;2H", "\x1B[200C", {W - 1, 2}},
        {"3D", "\x1B[10;2H", "\x1B[3D", {7, 2}},
        {"D stops at column 0", "\x1B[10;2H", "\x1B[11D", {0, 2}},
        {"parameters wrap at 65535: 65536 is 1", "\x1B[3;2H", "\x1B[65536C", {4, 2}},
        {"parameters wrap at 65535: 131070 is 0", "\x1B[3;2H", "\x1B[131070C", {3, 2}},
        {"a huge parameter stays bounded", "\x1B[3;2H", "\x1B[99999999999999999999999999B", {3, H - 1}},
        {"u restores what s saved", "\x1B[7;3H\x1B[s\x1B[H", "\x1B[u", {7, 3}},
        {"u before any s goes home", "\x1B[7;3H", "\x1B[u", {0, 0}},
    };
    for (const auto& c : cases) {
        ConsoleScreen s(W, H);
        write1(s, c.before);
        write1(s, c.seq);
        EXPECT_EQ(s.cursor(), c.expected) << c.name;
        for (int row = 0; row < H; ++row) EXPECT_EQ(s.row_text(row), "") << c.name << ": nothing printed";
    }
}

TEST(AnsiScreen, SaveCursorIsRecorded) {
    ConsoleScreen s(W, H);
    write1(s, "\x1B[4;6H\x1B[s\x1B[2;1H");
    EXPECT_EQ(s.saved_cursor(), (Pos{4, 6}));
    EXPECT_EQ(s.cursor(), (Pos{2, 1}));
}

TEST(AnsiScreen, SgrSequences) {
    struct Case {
        const char* name;
        uint16_t default_attribute;
        std::string seq;
        uint16_t expected;
    };
    const std::vector<Case> cases = {
        {"31;42 in one change, bits above 7 cleared", 0x8007, "\x1B[31;42m", 0x24},
        {"1;31;42 adds both intensity bits", 0x07, "\x1B[1;31;42m", 0xAC},
        {"ESC[m changes nothing", 0x07, "\x1B[31m\x1B[m", 0x04},
        {"0 restores the default", 0x1E, "\x1B[1;31;42m\x1B[0m", 0x1E},
        {"4 underscores", 0x07, "\x1B[4m", 0x8007},
        {"a colour after 4 drops the underscore", 0x07, "\x1B[4;31m", 0x04},
        {"7 swaps foreground and background", 0x07, "\x1B[31;42m\x1B[7m", 0x42},
        {"7 drops the underscore", 0x07, "\x1B[4m\x1B[7m", 0x70},
        {"33 yellow is red and green", 0x07, "\x1B[33m", 0x06},
        {"46 cyan background is blue and green", 0x07, "\x1B[46m", 0x37},
        {"39 restores foreground colour and intensity", 0x07, "\x1B[1;31;42m\x1B[39m", 0xA7},
        {"39 takes the default's intensity", 0x0E, "\x1B[34m\x1B[39m", 0x0E},
        {"49 restores background and its intensity", 0x07, "\x1B[1;31;42m\x1B[49m", 0x0C},
        {"49 to a coloured default", 0x1E, "\x1B[42m\x1B[49m", 0x1E},
        {"39;49 together", 0x1E, "\x1B[1;31;42m\x1B[39;49m", 0x1E},
        {"unknown 95 is ignored", 0x07, "\x1B[31;42m\x1B[95m", 0x24},
        {"unknown codes inside a list are ignored", 0x07, "\x1B[95;31;2;42m", 0x24},
        {"256-colour selector changes nothing", 0x07, "\x1B[31m\x1B[38;5;196m", 0x04},
        {"a list not ended by m is not applied", 0x07, "\x1B[1;31;42x", 0x07},
        {"a list cut off by the end is not applied", 0x07, "\x1B[1;31;42", 0x07},
    };
    for (const auto& c : cases) {
        ConsoleScreen s(W, H, c.default_attribute);
        write1(s, c.seq);
        EXPECT_EQ(s.attribute(), c.expected) << c.name;
        EXPECT_EQ(s.cursor(), (Pos{0, 0})) << c.name;
    }
}

TEST(AnsiScreen, CharactersTakeTheCurrentAttribute) {
    ConsoleScreen s(W, H);
    write1(s, "a\x1B[31;42mb\x1B[0mc");
    EXPECT_EQ(s.cell_at(0, 0).attr, 0x07);
    EXPECT_EQ(s.cell_at(1, 0).attr, 0x24);
    EXPECT_EQ(s.cell_at(2, 0).attr, 0x07);
    EXPECT_EQ(s.row_text(0), "abc");
}

// A 6x4 screen filled in red, then one erase with the cursor at column 2,
// row 2. Erased cells must be blanks in the default attribute.
TEST(AnsiScreen, EraseSequences) {
    struct Case {
        const char* name;
        std::string seq;
        std::vector<std::string> rows;
        Pos cursor;
    };
    // Writing the bottom-right cell would scroll, so the last row is one short.
    const std::vector<std::string> full = {"aaaaaa", "bbbbbb", "cccccc", "ddddd"};
    const std::vector<Case> cases = {
        {"J clears from the start of the cursor row to the end", "\x1B[J", {"aaaaaa", "bbbbbb", "", ""}, {2, 2}},
        {"1J clears the rows above", "\x1B[1J", {"", "", "cccccc", "ddddd"}, {2, 2}},
        {"2J clears all and homes", "\x1B[2J", {"", "", "", ""}, {0, 0}},
        {"K clears from the cursor to the row end", "\x1B[K", {"aaaaaa", "bbbbbb", "cc", "ddddd"}, {2, 2}},
        {"1K clears the row before the cursor, to column 0", "\x1B[1K", {"aaaaaa", "bbbbbb", "  cccc", "ddddd"},
         {0, 2}},
        {"2K clears the row, to column 0", "\x1B[2K", {"aaaaaa", "bbbbbb", "", "ddddd"}, {0, 2}},
        {"0J does nothing", "\x1B[0J", full, {2, 2}},
        {"3J does nothing", "\x1B[3J", full, {2, 2}},
        {"0K does nothing", "\x1B[0K", full, {2, 2}},
        {"3K does nothing", "\x1B[3K", full, {2, 2}},
    };
    for (const auto& c : cases) {
        ConsoleScreen s(6, 4);
        write1(s, "\x1B[31m");
        for (int row = 0; row < 4; ++row) write1(s, "\x1B[0;" + std::to_string(row) + "H" + full[row]);
        write1(s, "\x1B[2;2H" + c.seq);
        for (int row = 0; row < 4; ++row) EXPECT_EQ(s.row_text(row), c.rows[row]) << c.name << ", row " << row;
        EXPECT_EQ(s.cursor(), c.cursor) << c.name;
        EXPECT_EQ(s.attribute(), 0x04) << c.name;
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 6; ++col) {
                const auto& cell = s.cell_at(col, row);
                EXPECT_EQ(cell.attr, cell.ch == ' ' ? 0x07 : 0x04) << c.name << " at " << col << "," << row;
            }
    }
}

// Where ESC does or does not open a sequence, and what a sequence that is
// skipped leaves behind: the row's text and the cursor.
TEST(AnsiScreen, EscapeRecognition) {
    struct Case {
        const char* name;
        int unit;
        std::u32string text;
        std::u32string row;
        int column;
    };
    const std::vector<Case> cases = {
        {"ESC not followed by [ is a character", 1, U"\x1BxA", U"\x1BxA", 3},
        {"ESC ESC [ m: the first is a character", 1, U"\x1B\x1B[mA", U"\x1B" "A", 2},
        {"ESC at the end is dropped", 1, U"A\x1B", U"A", 1},
        {"ESC [ at the end is dropped", 1, U"A\x1B[", U"A", 1},
        {"cut off in the first number", 1, U"A\x1B[12", U"A", 1},
        {"cut off after the first number", 1, U"A\x1B[12;", U"A", 1},
        {"cut off in the second number", 1, U"A\x1B[1;3", U"A", 1},
        {"cut off after a folded pair", 1, U"A\x1B[1;31;", U"A", 1},
        {"unknown final is consumed", 1, U"\x1B[ZA", U"A", 1},
        {"unknown final after a number is consumed", 1, U"\x1B[5XA", U"A", 1},
        {"private ?25l is skipped", 1, U"\x1B[?25lA", U"A", 1},
        {"private ?1049h is skipped", 1, U"\x1B[?1049hA\x1B[?1049l", U"A", 1},
        {"private sequence cut off is dropped", 1, U"A\x1B[?25", U"A", 1},
        {"other private markers are skipped", 1, U"\x1B[>cA\x1B[=1uB", U"AB", 2},
        {"2-byte ESC [ works", 2, U"\x1B[3CA", U"   A", 4},
        {"2-byte unit 0x11B is not ESC", 2, U"\u011B[3C", U"\u011B[3C", 4},
        {"2-byte ESC then 0x15B is not [", 2, U"\x1B\u015BA", U"\x1B\u015B" "A", 3},
        {"2-byte 0x133 is not the digit 3", 2, U"\x1B[\u0133CA", U"CA", 2},
        {"4-byte ESC is always a character", 4, U"\x1B[2J", U"\x1B[2J", 4},
    };
    for (const auto& c : cases) {
        ConsoleScreen s(W, H);
        if (c.unit == 1) write_as<uint8_t>(s, c.text);
        else if (c.unit == 2) write_as<uint16_t>(s, c.text);
        else write_as<uint32_t>(s, c.text);
        std::u32string row;
        for (int col = 0; col < W; ++col) row += static_cast<char32_t>(s.cell_at(col, 0).ch);
        row.erase(row.find_last_not_of(U' ') + 1);
        EXPECT_TRUE(row == c.row) << c.name;
        EXPECT_EQ(s.cursor(), (Pos{c.column, 0})) << c.name;
        EXPECT_EQ(s.attribute(), 0x07) << c.name;
    }
}

TEST(AnsiScreen, OrdinaryCharacters) {
    struct Case {
        const char* name;
        int width;
        std::string text;
        bool line;
        std::vector<std::string> rows;
        Pos cursor;
    };
    const std::vector<Case> cases = {
        {"wrap at the right edge", 3, "abcd", false, {"abc", "d", ""}, {1, 1}},
        {"a full row wraps before a line feed", 3, "abc\nd", false, {"abc", "", "d"}, {1, 2}},
        {"LF goes to column 0 of the next row", 5, "ab\ncd", false, {"ab", "cd", ""}, {2, 1}},
        {"CR goes to column 0", 5, "abc\rX", false, {"Xbc", "", ""}, {1, 0}},
        {"backspace stops at column 0", 5, "ab\b\b\bX", false, {"Xb", "", ""}, {1, 0}},
        {"tab to the next multiple of 8", 12, "a\tb", false, {"a       b", "", ""}, {9, 0}},
        {"tab stops at the last column", 12, "a\t\t\tb", false, {"a          b", "", ""}, {0, 1}},
        {"line flag adds a line feed", 5, "ab", true, {"ab", "", ""}, {0, 1}},
        {"Latin-1 byte widened", 5, "\xE9", false, {"\xC3\xA9", "", ""}, {1, 0}},
    };
    for (const auto& c : cases) {
        ConsoleScreen s(c.width, 3);
        write1(s, c.text, c.line);
        for (int row = 0; row < 3; ++row) EXPECT_EQ(s.row_text(row), c.rows[row]) << c.name << ", row " << row;
        EXPECT_EQ(s.cursor(), c.cursor) << c.name;
    }
}

TEST(AnsiScreen, WideUnitsOccupyOneCellEach) {
    ConsoleScreen s(W, H);
    write_as<uint32_t>(s, std::u32string(U"\U0001F600x"));
    write_as<uint16_t>(s, std::u16string(u"\U0001F600"));
    EXPECT_EQ(s.cell_at(0, 0).ch, 0x1F600u);
    EXPECT_EQ(s.cell_at(1, 0).ch, U'x');
    EXPECT_EQ(s.cell_at(2, 0).ch, 0xD83Du) << "2-byte units are not paired";
    EXPECT_EQ(s.cell_at(3, 0).ch, 0xDE00u);
    EXPECT_EQ(s.cursor(), (Pos{4, 0}));
}

// The bottom row scrolls up, and the new row is blank in the default
// attribute whatever colour is current.
TEST(AnsiScreen, ScrollAtTheBottom) {
    ConsoleScreen s(4, 2, 0x1E);
    write1(s, "\x1B[31mab\ncd\nef");
    EXPECT_EQ(s.row_text(0), "cd");
    EXPECT_EQ(s.row_text(1), "ef");
    EXPECT_EQ(s.cell_at(2, 1).attr, 0x1E);
    EXPECT_EQ(s.cell_at(0, 1).attr, 0x1C);
    EXPECT_EQ(s.cursor(), (Pos{2, 1}));

    write1(s, "gh");  // fills the last cell: wraps and scrolls again
    EXPECT_EQ(s.row_text(0), "efgh");
    EXPECT_EQ(s.row_text(1), "");
    EXPECT_EQ(s.cursor(), (Pos{0, 1}));
}

TEST(AnsiScreenDeathTest, UnitWidthOutsideOneTwoFourIsRuntimeError101) {
    ConsoleScreen s(W, H);
    const uint8_t text[8] = {};
    // The stop is the runtime's, installed with its output hooks.
    EXPECT_EXIT((qel::print_hooks::init(), s.write_units(text, 1, 3, false)), ::testing::ExitedWithCode(101), "");
}

}  // namespace
