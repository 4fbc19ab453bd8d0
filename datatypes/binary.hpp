// binary!: a series of bytes.
//
// The cell has the series layout: word 1 the head index in bytes, word 2
// the node of a buffer of 1-byte units (the only node id the cell holds);
// word 3 is 0. Navigation, copying, searching and most modifying actions
// are string!'s (and through it series!'s), which read the buffer by its
// unit width; this file adds the conversions, the hexadecimal form, the
// byte encodings of inserted values, byte-wise ordering and the bitwise
// operations.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/series.hpp"

namespace qel::binary {

// An empty binary with room for capacity bytes (16 when 0) in cell.
Cell* make_at(Cell* cell, uint32_t capacity);
// A new binary holding a copy of n bytes, made in cell, or pushed on the
// argument stack when cell is null. The bytes must not lie in a series
// buffer: the allocation may move those.
Cell* load(const uint8_t* bytes, size_t n, Cell* cell = nullptr);

// The bytes from the value's index (clamped) and their count; the address
// is valid until the next allocation.
uint8_t* head_ptr(const Cell* value);
uint32_t length(const Cell* value);
// The same bytes copied out, for callers that allocate while using them.
std::vector<uint8_t> copy_bytes(const Cell* value);

// Opens count bytes at offset (from the buffer's head) and copies bytes
// there; the buffer at least doubles when it has to grow.
void insert_bytes(node_t n, uint32_t offset, const uint8_t* bytes, uint32_t count);

// Three-way order of two byte series from their indexes under a
// comparison operator code. In match mode: whether b's bytes stand at a's
// index (0) or not (1); an empty b always matches.
int32_t compare_values(const Cell* a, const Cell* b, CompareOp op, bool match = false);

// Decodes the text (any string type, from its index) in a base (2, 16, 58
// or 64) into a new binary in out; false when the text is not valid there.
bool decode_text(int32_t base, const Cell* text, Cell* out);

// The bytes of a value as append, insert and change store them (change
// forms the values that have no bytes of their own; the others raise
// bad-to-arg). part caps the bytes, or for a block the elements (bytes
// with only); -1 for no cap.
void encode_value(const Cell* value, int32_t part, bool only, bool forming, std::vector<uint8_t>& out);

}  // namespace qel::binary
