// Unicode codecs, string widening and case mapping.
//
// Strings are arrays of whole code points in fixed-width units, never UTF-8:
// 1-byte units hold 0-255 (Latin-1), 2-byte units 0-0xFFFF, 4-byte units
// everything up to 0x10FFFF. A buffer only ever widens, in place through its
// node, when a code point arrives that its units cannot hold. This module
// converts between that form and the outside world's UTF-8 (files, source
// text, symbols and redirected output) and maps code points to upper and
// lower case.
//
// UTF-8 is decoded strictly: overlong forms, surrogates, code points above
// 0x10FFFF and stray or missing continuation bytes are ill-formed. An
// ill-formed run is measured as its maximal subpart, so a lenient caller that
// replaces each run with U+FFFD (or drops it) follows the usual practice.
//
// Anything here that allocates may collect and move buffers: functions that
// take input bytes by address expect them outside the series frames (or in a
// pinned series); the *_series variants re-read their source through its node.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"
#include "platform/utf8.hpp"

namespace qel::unicode {

constexpr uint32_t REPLACEMENT = utf8::REPLACEMENT;
constexpr uint32_t MAX_CODEPOINT = 0x10FFFF;

// Results of the one-sequence decoders besides a code point.
constexpr int32_t INCOMPLETE = -1;  // a well-formed prefix cut short by the end of input
constexpr int32_t INVALID = -2;     // ill-formed: no continuation can make it valid

namespace detail {
// Byte classes (256 entries) followed by the transitions of the validating
// automaton, indexed by state + class; states are multiples of 12.
extern const std::array<uint8_t, 256 + 9 * 12> UTF8_DFA;
constexpr uint32_t ACCEPT = 0;
constexpr uint32_t REJECT = 12;
}  // namespace detail

// ---- UTF-8 decoding ----------------------------------------------------------

// Decodes the sequence at p (p < end). Answers the code point and its byte
// count in size; INVALID with the length of the maximal ill-formed subpart
// (at least 1) in size; or INCOMPLETE with the bytes left in size.
inline int32_t decode_one(const uint8_t* p, const uint8_t* end, uint32_t& size) {
    uint32_t byte = p[0];
    if (byte < 0x80) {
        size = 1;
        return static_cast<int32_t>(byte);
    }
    uint32_t type = detail::UTF8_DFA[byte];
    uint32_t cp = (0xFFu >> type) & byte;
    uint32_t state = detail::UTF8_DFA[256 + type];
    if (state == detail::REJECT) {
        size = 1;
        return INVALID;
    }
    const uint8_t* q = p + 1;
    for (;;) {
        if (q == end) {
            size = static_cast<uint32_t>(q - p);
            return INCOMPLETE;
        }
        byte = *q;
        state = detail::UTF8_DFA[256 + state + detail::UTF8_DFA[byte]];
        // The rejecting byte is not part of the ill-formed run: it may start
        // the next sequence.
        if (state == detail::REJECT) {
            size = static_cast<uint32_t>(q - p);
            return INVALID;
        }
        cp = (cp << 6) | (byte & 0x3F);
        ++q;
        if (state == detail::ACCEPT) {
            size = static_cast<uint32_t>(q - p);
            return static_cast<int32_t>(cp);
        }
    }
}

// Whether the n bytes at p start with the UTF-8 byte order mark.
inline bool starts_with_bom(const uint8_t* p, size_t n) {
    return n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
}

// Lenient stepping decoder: answers the code point at p, or -1 for an
// ill-formed or truncated run, and moves p past what it read.
inline int32_t decode_utf8(const uint8_t*& p, const uint8_t* end) {
    uint32_t size;
    const int32_t cp = decode_one(p, end, size);
    p += size;
    return cp < 0 ? -1 : cp;
}

// Code points in [start, end), each ill-formed run counting as one (the
// U+FFFD a lenient reader makes of it).
size_t count_utf8(const uint8_t* start, const uint8_t* end);
// Advances n code points (counted the same way), never past end.
const uint8_t* skip_utf8(const uint8_t* p, size_t n, const uint8_t* end);
// First byte of the first ill-formed or truncated run, nullptr when the
// whole range is well-formed.
const uint8_t* find_invalid_utf8(const uint8_t* p, const uint8_t* end);

// ---- UTF-8 encoding ----------------------------------------------------------

// Bytes of the UTF-8 form of cp; above 0x10FFFF a script error.
uint32_t utf8_size(uint32_t cp);
// The same summed over count units of the given width.
size_t utf8_size_of_units(const void* units, size_t count, uint32_t width);
// Writes cp and answers the byte count. A surrogate, which has no UTF-8
// form, is written as U+FFFD; above 0x10FFFF a script error.
uint32_t encode_utf8(uint32_t cp, uint8_t* out);

// String values: n code points from the value's index, all of them when n is
// negative or larger than what is left.
size_t utf8_length(const Cell* value, int32_t n);
// A new byte buffer (unit 1) holding the UTF-8 form, not terminated.
node_t to_utf8(const Cell* value, int32_t n);
// Writes into out (room for utf8_length + 1 bytes when terminating) and
// answers the bytes written, the terminator not counted.
size_t write_utf8(const Cell* value, int32_t n, uint8_t* out, bool terminate);

// ---- loading text into string buffers ----------------------------------------

struct Loaded {
    node_t node;     // the string buffer
    uint32_t count;  // code points stored
};

// Decodes UTF-8 into target's buffer (its content is replaced; it widens but
// never narrows), or into a new buffer of the narrowest unit when target is
// 0. A leading byte order mark is skipped. With crlf, CR LF becomes LF and a
// lone CR becomes LF. Ill-formed or truncated input raises the access error
// invalid-utf8 before anything is changed.
Loaded load_utf8(const uint8_t* bytes, uint32_t length, node_t target, bool crlf);
Loaded load_utf8_new(const uint8_t* bytes, uint32_t length);
// The input is length bytes at offset in the source series' data area.
Loaded load_utf8_series(node_t source, uint32_t offset, uint32_t length, node_t target, bool crlf);

// ---- units and widening -------------------------------------------------------

// Narrowest unit that holds cp: 1, 2 or 4.
inline uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Code point i (0-based) of the units at data.
inline uint32_t unit_at(const uint8_t* data, size_t i, uint32_t width) {
    switch (width) {
        case 1: return data[i];
        case 2: return reinterpret_cast<const uint16_t*>(data)[i];
        default: return reinterpret_cast<const uint32_t*>(data)[i];
    }
}

// Code point i (0-based, from the head) of a string buffer.
uint32_t codepoint_at(node_t n, uint32_t i);

// Rewrites the buffer's units in place to the wider unit (1 -> 2, 1 -> 4,
// 2 -> 4), expanding it first when the wider units and one spare do not
// fit. A unit not wider than the current one changes nothing. Answers the
// buffer, which may have moved.
SeriesBuffer* widen(node_t n, uint32_t unit);
inline SeriesBuffer* widen_1_to_2(node_t n) { return widen(n, 2); }
inline SeriesBuffer* widen_1_to_4(node_t n) { return widen(n, 4); }
inline SeriesBuffer* widen_2_to_4(node_t n) { return widen(n, 4); }
// Widens the buffer when cp does not fit its units.
SeriesBuffer* ensure_width(node_t n, uint32_t cp);
// Stores cp after the tail, widening and growing the buffer as needed.
void append_codepoint(node_t n, uint32_t cp);
// Stores n Latin-1 characters after the tail in the buffer's unit, which
// holds every one of them.
void append_latin1(node_t out, const char* s, size_t n);

// ---- case mapping -------------------------------------------------------------

namespace tables {
// Generated from the Unicode Character Database (case_tables.cpp).
constexpr uint32_t CASE_LIMIT = 0x20000;  // no cased letters at or above
extern const char UCD_VERSION[];
extern const uint32_t UPPER_PAIRS_BMP;
extern const uint32_t UPPER_PAIRS_SUPPLEMENTARY;
extern const uint32_t LOWER_PAIRS_BMP;
extern const uint32_t LOWER_PAIRS_SUPPLEMENTARY;
extern const uint8_t UPPER_INDEX[CASE_LIMIT / 256];
extern const int32_t UPPER_BLOCKS[][256];
extern const uint8_t LOWER_INDEX[CASE_LIMIT / 256];
extern const int32_t LOWER_BLOCKS[][256];
}  // namespace tables

// Simple (one-to-one) case mappings; a code point without one is answered
// unchanged. Two table reads, no search.
inline uint32_t to_upper(uint32_t cp) {
    if (cp >= tables::CASE_LIMIT) return cp;
    return cp + static_cast<uint32_t>(tables::UPPER_BLOCKS[tables::UPPER_INDEX[cp >> 8]][cp & 0xFF]);
}

inline uint32_t to_lower(uint32_t cp) {
    if (cp >= tables::CASE_LIMIT) return cp;
    return cp + static_cast<uint32_t>(tables::LOWER_BLOCKS[tables::LOWER_INDEX[cp >> 8]][cp & 0xFF]);
}

inline uint32_t case_of(uint32_t cp, bool upper) { return upper ? to_upper(cp) : to_lower(cp); }

// Maps count code points from index (0-based, from the head; clipped to the
// tail) of a string buffer, widening it first when a mapped code point
// needs wider units (lower-case y with diaeresis has its capital above 255).
void change_case(node_t n, uint32_t index, uint32_t count, bool upper);

}  // namespace qel::unicode
