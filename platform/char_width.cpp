// Display width of code points from the generated range tables. Latin,
// Greek, Cyrillic and the controls are answered before any table is read;
// the tables are searched by bisection.
#include "platform/char_width.hpp"

namespace qel::text {

namespace {
// Below these nothing is zero-width (the first zero-width range starts at
// the combining diacritics) or wide (the first wide range is Hangul Jamo).
constexpr uint32_t FIRST_ZERO_WIDTH = 0x0300;
constexpr uint32_t FIRST_WIDE = 0x1100;
}  // namespace

bool in_ranges(uint32_t cp, const Range* table, size_t count) {
    if (count == 0 || cp < table[0].low || cp > table[count - 1].high) return false;
    size_t lo = 0, hi = count;  // the range holding cp, if any, is in [lo, hi)
    while (hi - lo > 1) {
        const size_t mid = lo + (hi - lo) / 2;
        if (table[mid].low <= cp) lo = mid; else hi = mid;
    }
    return cp <= table[lo].high;
}

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < FIRST_ZERO_WIDTH) return 1;
    if (in_ranges(cp, ZERO_WIDTH, ZERO_WIDTH_COUNT)) return 0;
    if (cp >= FIRST_WIDE && in_ranges(cp, WIDE, WIDE_COUNT)) return 2;
    return 1;
}

int char_width_cjk(uint32_t cp) {
    if (cp != 0 && in_ranges(cp, AMBIGUOUS, AMBIGUOUS_COUNT) && !in_ranges(cp, ZERO_WIDTH, ZERO_WIDTH_COUNT))
        return 2;
    return char_width(cp);
}

}  // namespace qel::text
