// Display width of code points: how many terminal columns each one takes,
// for placing the cursor in the line editor and laying out the text-mode
// GUI's cells. The widths come from range tables generated from the Unicode
// Character Database (char_width_tables.cpp); they follow what terminals
// draw, so the cursor we compute lands where the terminal puts it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::text {

// An inclusive range of code points.
struct Range {
    uint32_t low;
    uint32_t high;
};

// Sorted, disjoint ranges (generated).
extern const Range ZERO_WIDTH[];  // combining marks, format characters: no column
extern const size_t ZERO_WIDTH_COUNT;
extern const Range WIDE[];        // East Asian Wide and Fullwidth: two columns
extern const size_t WIDE_COUNT;
extern const Range AMBIGUOUS[];   // East Asian Ambiguous: two columns in CJK contexts
extern const size_t AMBIGUOUS_COUNT;

// Whether cp lies in one of count sorted ranges.
bool in_ranges(uint32_t cp, const Range* table, size_t count);

// Columns taken by cp: 0 for U+0000 and zero-width characters, 2 for wide
// ones, 1 for everything else (controls included: the editor shows them as
// one cell).
int char_width(uint32_t cp);

// As char_width, but ambiguous characters take two columns, as CJK
// terminals draw them.
int char_width_cjk(uint32_t cp);

}  // namespace qel::text
