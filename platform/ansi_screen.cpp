// The console screen model and its escape emulation: writes characters into
// cells the way a character-cell console does (immediate wrap at the right
// edge, scrolling at the bottom) and turns the CSI sequences it knows into
// cursor, erase and attribute changes. Every sequence is consumed whole, so a
// sequence the model does not know never shows up as text.
#include "platform/ansi_screen.hpp"

#include <algorithm>

#include "platform/console.hpp"
#include "platform/utf8.hpp"

namespace qel {

namespace {

constexpr uint32_t ESC = 27;
constexpr uint32_t BLANK = 0x20;
constexpr int TAB_WIDTH = 8;

// Parameters wrap rather than overflow: a run of digits of any length stays
// a bounded number.
constexpr uint32_t PARAMETER_MODULUS = 65535;

// ANSI colour n (red 1, green 2, blue 4) as console colour bits (blue 1,
// green 2, red 4).
constexpr uint16_t CONSOLE_COLOUR[8] = {0, 4, 2, 6, 1, 5, 3, 7};

bool is_digit(uint32_t u) { return u >= '0' && u <= '9'; }

// 0x3C-0x3F opening the parameters mark a private sequence (DEC modes and
// terminal queries); its meaning is the terminal's own, so it is skipped.
bool is_private_marker(uint32_t u) { return u >= 0x3C && u <= 0x3F; }
bool is_final_byte(uint32_t u) { return u >= 0x40 && u <= 0x7E; }

// Where a CSI sequence's reading stands: before its first parameter, in
// the digits of the first, after the ";" that opens the second, in the
// digits of the second.
enum class EscapeState { Start, FirstNumber, SecondStart, SecondNumber };

}  // namespace

ConsoleScreen::ConsoleScreen(int width, int height, uint16_t default_attribute)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      cells_(static_cast<size_t>(width_) * height_, Cell{BLANK, default_attribute}),
      attribute_(default_attribute),
      default_attribute_(default_attribute) {}

void ConsoleScreen::write_units(const void* text, size_t count, uint32_t unit, bool line) {
    switch (unit) {
    case 1: write_escaped(static_cast<const uint8_t*>(text), count); break;
    case 2: write_escaped(static_cast<const uint16_t*>(text), count); break;
    case 4: {
        // Code points are written as they are: an ESC among them shows as a
        // character, as the console does for text of this width.
        auto* units = static_cast<const uint32_t*>(text);
        for (size_t i = 0; i < count; ++i) put_char(units[i]);
        break;
    }
    default: console::fail_unit_width();
    }
    if (line) put_char('\n');
}

template <typename Unit>
void ConsoleScreen::write_escaped(const Unit* text, size_t count) {
    size_t i = 0;
    while (i < count) {
        if (text[i] == ESC) {
            size_t consumed = parse_escape(text + i, count - i);
            if (consumed > 0) {
                i += consumed;
                continue;
            }
        }
        put_char(text[i]);
        ++i;
    }
}

// Called with text[0] == ESC. Answers the number of units that belong to the
// sequence, or 0 when ESC does not open one (it is then an ordinary
// character). A sequence cut off by the end of the text is consumed and has
// no effect: its meaning is unknown, and printing its pieces would be worse.
template <typename Unit>
size_t ConsoleScreen::parse_escape(const Unit* text, size_t count) {
    if (count < 2) return count;
    if (text[1] != '[') return 0;

    uint32_t p1 = 0;
    uint32_t p2 = 0;
    // -1 until an SGR pair is folded: the current attribute.
    int32_t work = -1;
    EscapeState state = EscapeState::Start;
    auto accumulate = [](uint32_t n, uint32_t u) { return (n * 10 + (u - '0')) % PARAMETER_MODULUS; };

    for (size_t j = 2; j < count; ++j) {
        const uint32_t u = text[j];
        const size_t used = j + 1;
        switch (state) {
        case EscapeState::Start:
            if (is_digit(u)) {
                p1 = u - '0';
                state = EscapeState::FirstNumber;
                continue;
            }
            if (u == ';') continue;
            if (is_private_marker(u)) {
                for (size_t k = j + 1; k < count; ++k)
                    if (is_final_byte(text[k])) return k + 1;
                return count;
            }
            switch (u) {
            case 's': saved_ = cursor_; break;
            case 'u': set_cursor(saved_.column, saved_.row); break;
            case 'K': erase(Erase::ROW_FROM_CURSOR); break;
            case 'J': erase(Erase::BELOW_FROM_ROW_START); break;
            case 'H':
            case 'f': set_cursor(0, 0); break;
            default: break;
            }
            return used;
        case EscapeState::FirstNumber: {
            if (is_digit(u)) {
                p1 = accumulate(p1, u);
                continue;
            }
            if (u == ';') {
                state = EscapeState::SecondStart;
                continue;
            }
            const int n = static_cast<int>(p1);
            switch (u) {
            case 'm': attribute_ = sgr_attribute(work, p1); break;
            case 'A': set_cursor(cursor_.column, cursor_.row - n); break;
            case 'B': set_cursor(cursor_.column, cursor_.row + n); break;
            case 'C': set_cursor(cursor_.column + n, cursor_.row); break;
            case 'D': set_cursor(cursor_.column - n, cursor_.row); break;
            case 'J':
                if (p1 == 1) erase(Erase::ABOVE);
                else if (p1 == 2) erase(Erase::ALL);
                break;
            case 'K':
                if (p1 == 1) erase(Erase::ROW_TO_CURSOR);
                else if (p1 == 2) erase(Erase::ROW);
                break;
            default: break;
            }
            return used;
        }
        case EscapeState::SecondStart:
            if (is_digit(u)) {
                p2 = u - '0';
                state = EscapeState::SecondNumber;
                continue;
            }
            if (u == ';') continue;
            return used;
        case EscapeState::SecondNumber:
            if (is_digit(u)) {
                p2 = accumulate(p2, u);
                continue;
            }
            // SGR lists fold pairwise into the working attribute and take
            // effect once, at the final "m".
            if (u == ';') {
                work = sgr_attribute(sgr_attribute(work, p1), p2);
                p1 = p2 = 0;
                state = EscapeState::Start;
                continue;
            }
            if (u == 'm') attribute_ = sgr_attribute(sgr_attribute(work, p1), p2);
            else if (u == 'H' || u == 'f') set_cursor(static_cast<int>(p1), static_cast<int>(p2));
            return used;
        }
    }
    return count;
}

uint16_t ConsoleScreen::sgr_attribute(int32_t a, uint32_t code) const {
    const uint16_t attr = a < 0 ? attribute_ : static_cast<uint16_t>(a);
    if (code >= 30 && code <= 37) return static_cast<uint16_t>((attr & 0xF8) | CONSOLE_COLOUR[code - 30]);
    if (code >= 40 && code <= 47) return static_cast<uint16_t>((attr & 0x8F) | CONSOLE_COLOUR[code - 40] << 4);
    switch (code) {
    case 0: return default_attribute_;
    case 1: return attr | FG_INTENSITY | BG_INTENSITY;
    case 4: return attr | UNDERSCORE;
    case 7: return static_cast<uint16_t>(((attr & 0x0F) << 4) | ((attr & 0xF0) >> 4));
    // The default colours come back with their own intensity bits: OR-ing
    // bits in could never take a colour away.
    case 39: return static_cast<uint16_t>((attr & ~0x0F) | (default_attribute_ & 0x0F));
    case 49: return static_cast<uint16_t>((attr & ~0xF0) | (default_attribute_ & 0xF0));
    // Codes with no console counterpart (blink, 256 colours, bright colours
    // ...) leave the attribute alone rather than turning into one.
    default: return attr;
    }
}

void ConsoleScreen::set_cursor(int column, int row) {
    cursor_.column = std::clamp(column, 0, width_ - 1);
    cursor_.row = std::clamp(row, 0, height_ - 1);
}

void ConsoleScreen::put_char(uint32_t ch) {
    switch (ch) {
    case '\n': line_feed(); return;
    case '\r': cursor_.column = 0; return;
    case '\b': cursor_.column = std::max(cursor_.column - 1, 0); return;
    case '\t': cursor_.column = std::min((cursor_.column / TAB_WIDTH + 1) * TAB_WIDTH, width_ - 1); return;
    case '\a': return;
    default: break;
    }
    cells_[index(cursor_.column, cursor_.row)] = Cell{ch, attribute_};
    if (++cursor_.column == width_) line_feed();
}

// A line feed also returns the carriage, as console output does by default.
void ConsoleScreen::line_feed() {
    cursor_.column = 0;
    if (cursor_.row + 1 < height_) {
        ++cursor_.row;
        return;
    }
    std::copy(cells_.begin() + width_, cells_.end(), cells_.begin());
    fill(index(0, height_ - 1), static_cast<size_t>(width_));
}

void ConsoleScreen::fill(size_t first, size_t count) {
    std::fill_n(cells_.begin() + static_cast<ptrdiff_t>(first), count, Cell{BLANK, default_attribute_});
}

// Erased cells take the default attribute, not the current one, so a colour
// in effect does not bleed into cleared areas.
void ConsoleScreen::erase(Erase mode) {
    const int column = cursor_.column;
    const int row = cursor_.row;
    const size_t w = static_cast<size_t>(width_);
    switch (mode) {
    case Erase::BELOW_FROM_ROW_START: fill(index(0, row), (height_ - row) * w); break;
    case Erase::ABOVE: fill(0, row * w); break;
    case Erase::ALL:
        fill(0, cells_.size());
        cursor_ = {0, 0};
        break;
    case Erase::ROW:
        fill(index(0, row), w);
        cursor_.column = 0;
        break;
    case Erase::ROW_FROM_CURSOR: fill(index(column, row), w - column); break;
    case Erase::ROW_TO_CURSOR:
        fill(index(0, row), static_cast<size_t>(column));
        cursor_.column = 0;
        break;
    }
}

std::string ConsoleScreen::row_text(int row) const {
    std::string text;
    int end = width_;
    while (end > 0 && cells_[index(end - 1, row)].ch == BLANK) --end;
    for (int column = 0; column < end; ++column) {
        uint8_t bytes[4];
        int n = utf8::encode(cells_[index(column, row)].ch, bytes);
        text.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    return text;
}

}  // namespace qel
