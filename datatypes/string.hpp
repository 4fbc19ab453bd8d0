// string! and the text helpers the whole runtime shares.
//
// A string buffer holds whole code points in fixed-width units (1, 2 or 4
// bytes); it only ever widens, in place through its node. Two widening
// thresholds exist on purpose: appending at the tail keeps 1-byte units only
// for ASCII (a text that grows by appending tends to grow on), while storing
// inside the buffer keeps them for all of Latin-1 (the caller replaces units
// it already has). Everything here may allocate unless it says otherwise,
// so addresses into buffers are re-read through nodes after each call; the
// helpers take unit indexes rather than addresses for that reason.
//
// The same cell layout serves file!, url!, tag!, email! and ref!, which
// inherit these slots; binary! and vector! reach some of them too.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/entry.hpp"
#include "runtime/series.hpp"

namespace qel::string {

// ---- units and sizes ----------------------------------------------------------

// The unit width of a text buffer; any other width is an internal fault that
// ends the process with the no-switch runtime error.
uint32_t width(const SeriesBuffer* s);
// Bytes of units × width; a size that a 32-bit system could not address
// raises internal no-memory.
uint32_t checked_bytes(uint64_t units, uint32_t width);
// Width a char needs when it is appended, inserted or changed in: 1 only
// for ASCII.
inline uint32_t append_width(uint32_t cp) { return cp < 0x80 ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Inline: the scanning loops of find and parse read units one by one.
inline uint32_t read_unit(const uint8_t* p, uint32_t width) {
    switch (width) {
        case 1: return *p;
        case 2: {
            uint16_t u;
            std::memcpy(&u, p, 2);
            return u;
        }
        case 4: {
            uint32_t u;
            std::memcpy(&u, p, 4);
            return u;
        }
        default: rt::runtime_error(rt::code::NO_SWITCH, rt::here());
    }
}
void write_unit(uint8_t* p, uint32_t width, uint32_t cp);

// ---- reading values -------------------------------------------------------------

// The index clamped to the tail (written back into the cell).
uint32_t clamp_index(Cell* value);
// Units from the index (clamped, not written back) and from the head.
uint32_t length(const Cell* value);
uint32_t length_whole(const Cell* value);
bool is_tail(const Cell* value);
// Code point offset units from the head.
uint32_t char_at(const Cell* value, uint32_t offset);

// ---- making and cutting -----------------------------------------------------------

// An empty 1-byte-unit text of the type with room for capacity units.
Cell* make_at(Cell* cell, uint32_t capacity, uint32_t type = TYPE_STRING);
// Empties the buffer and makes its units 1 byte wide again.
Cell* clear_latin1(Cell* value);
// Tail moved back to head + n units when it lies beyond.
void truncate(node_t n, uint32_t units);

// ---- storing code points -----------------------------------------------------------

// At the tail, widening by the append threshold.
void append_char(node_t n, uint32_t cp);
// At a unit index inside the buffer (index < length), widening by the store
// threshold.
void poke_char(node_t n, uint32_t index, uint32_t cp);

// ---- concatenation -----------------------------------------------------------------

enum Mode : int { APPEND = 0, INSERT = 1, OVERWRITE = 2 };
// Copies the source's units from its index (at most part of them when part
// is not negative) into the target: at its tail, or inserted / written over
// at target index + offset. The narrower side is widened; with keep_width
// a narrower source keeps its units and they are converted as they are
// copied. A word-type source gives its spelling. Answers the target node.
node_t concatenate(const Cell* target, const Cell* source, int32_t part, uint32_t offset, bool keep_width,
                   Mode mode);

// ---- digits out ----------------------------------------------------------------------

// Two upper-case digits in a static buffer (not terminated).
const char* byte_to_hex(uint8_t byte);
// Upper-case digits in a static terminated buffer: 8 of them, or with
// short_form only the significant ones ("00" for zero).
const char* to_hex(uint32_t value, bool short_form);

// ---- molding ----------------------------------------------------------------------

// One character as molded text: hexadecimal for code 30, 128-159 and (with
// all) everything above 127; in escape mode the caret forms of the control
// codes, the double quote, the caret and DEL.
void mold_char(node_t out, uint32_t cp, bool escape, bool all);

// ---- comparing ----------------------------------------------------------------------

// The one code point fold of every case-insensitive comparison, ordering and
// search of text: blocks order strings through compare with it, so string
// sort uses it too and both agree on where "_" goes against letters.
uint32_t fold(uint32_t cp);
// Three-way comparison of two texts from their indexes under operator op;
// prefix asks whether a begins with b.
int32_t compare_values(const Cell* a, const Cell* b, CompareOp op, bool prefix = false);

// ---- slots ----------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);
Cell* eval_path(Cell* value, const datatype::PathStep& step);

// The word `part`, `skip` or `compare` for refinement errors.
Cell refinement_word(const Cell* refinement);

}  // namespace qel::string
