// An in-memory console screen and the ANSI escape emulation that drives it.
//
// Linux terminals interpret escape sequences themselves, so live output never
// passes through here. The model stands for a character-cell console that
// does not: a grid of cells with 16-bit attributes (bits 0-2 foreground
// blue/green/red, bit 3 foreground intensity, bits 4-7 the same for the
// background, 0x8000 underscore), a cursor and a small subset of CSI
// sequences turned into cursor, erase and attribute operations. Tests use it
// to see what a sequence of console writes leaves on such a screen.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel {

class ConsoleScreen {
public:
    struct Cell {
        uint32_t ch;
        uint16_t attr;
    };
    struct Position {
        int column;
        int row;
        bool operator==(const Position&) const = default;
    };

    static constexpr uint16_t FG_BLUE = 0x0001;
    static constexpr uint16_t FG_GREEN = 0x0002;
    static constexpr uint16_t FG_RED = 0x0004;
    static constexpr uint16_t FG_INTENSITY = 0x0008;
    static constexpr uint16_t BG_BLUE = 0x0010;
    static constexpr uint16_t BG_GREEN = 0x0020;
    static constexpr uint16_t BG_RED = 0x0040;
    static constexpr uint16_t BG_INTENSITY = 0x0080;
    static constexpr uint16_t UNDERSCORE = 0x8000;

    // A blank screen in the default attribute, cursor at the top-left cell.
    // Width and height are at least 1.
    ConsoleScreen(int width, int height, uint16_t default_attribute = 0x07);

    // The console write path: `count` units of width 1 (Latin-1), 2 (16-bit
    // code units, no surrogate pairing) or 4 (code points). Escape sequences
    // are emulated for widths 1 and 2 only; `line` ends the text with a line
    // feed. Any other width is runtime error 101.
    void write_units(const void* text, size_t count, uint32_t unit, bool line);

    // The attribute that SGR `code` makes of `a`; a negative `a` stands for
    // the current attribute. Codes without a meaning here leave it as it is.
    uint16_t sgr_attribute(int32_t a, uint32_t code) const;

    int width() const { return width_; }
    int height() const { return height_; }
    const Cell& cell_at(int column, int row) const { return cells_[index(column, row)]; }
    // The row's characters as UTF-8, trailing blanks removed.
    std::string row_text(int row) const;
    Position cursor() const { return cursor_; }
    Position saved_cursor() const { return saved_; }
    uint16_t attribute() const { return attribute_; }
    uint16_t default_attribute() const { return default_attribute_; }

    // Moves the cursor, clamped to the screen.
    void set_cursor(int column, int row);
    void set_attribute(uint16_t attr) { attribute_ = attr; }

private:
    enum class Erase { BELOW_FROM_ROW_START, ABOVE, ALL, ROW, ROW_FROM_CURSOR, ROW_TO_CURSOR };

    template <typename Unit>
    void write_escaped(const Unit* text, size_t count);
    template <typename Unit>
    size_t parse_escape(const Unit* text, size_t count);
    void put_char(uint32_t ch);
    void line_feed();
    void erase(Erase mode);
    void fill(size_t first, size_t count);
    size_t index(int column, int row) const { return static_cast<size_t>(row) * width_ + column; }

    int width_;
    int height_;
    std::vector<Cell> cells_;
    Position cursor_{0, 0};
    Position saved_{0, 0};
    uint16_t attribute_;
    uint16_t default_attribute_;
};

}  // namespace qel
