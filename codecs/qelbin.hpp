// QELBIN: the binary serialization of values, in its two encodings (fixed
// 32-bit words, and compact records of a header byte and varints), and the
// reader that also decodes the boot image.
//
// Shared and cyclic structure survives a round trip: a series, object or
// function met a second time is written as a path of indexes to its first
// occurrence, and the reader makes the second occurrence share the first
// one's storage. Every read is checked against the end of its input; bad
// data raises language errors (invalid-data for the header,
// qb-invalid-record with the 1-based byte position for anything after it).
// The writer and the reader touch only their arguments, the symbol table,
// the global context and the memory manager; neither runs user code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::qelbin {

// True while the codec reads or writes user data, false while the boot
// image is decoded: it picks the word layouts, whether assignment records
// are allowed and which class id objects get.
extern bool codec;

// Cells of the container before the boot image was decoded: boot literal k
// is the container's cell at this position plus k.
extern uint32_t literal_base;

// Nesting depth beyond which neither side goes on (deeper data would only
// exhaust the machine stack).
constexpr uint32_t MAX_DEPTH = 2000;

// money! records: the currency index byte and the 11 digit bytes; a fixed
// record marks a negative amount in this header bit.
constexpr uint32_t MONEY_BYTES = 12;
constexpr uint32_t MONEY_NEGATIVE = 1u << 22;

// Record kinds the writer and the reader share: block records carry
// block!, paren! and the paths (hash! has records of its own, with its
// index); string records carry the six any-string! types.
constexpr bool is_block_record(uint32_t t) { return is_block_like(t) && t != TYPE_HASH; }
constexpr bool is_string_record(uint32_t t) { return is_any_string(t); }

// The value as a QELBIN image in a new byte series.
node_t encode(const Cell* value, bool compact);

// A boot image: compact, with its symbol table. First one assignment per
// word/value pair of the assignments block (the words bound to the global
// context), then each cell of the literals block as a root value.
std::vector<uint8_t> encode_boot(const Cell* assignments, const Cell* literals);

// The value of an image made by encode (a block when it holds other than
// one root value). Fewer than 11 bytes raise invalid-data before anything
// is parsed. The answer is not rooted: keep it before allocating.
Cell decode(const uint8_t* data, size_t length);

// Appends the root values of an image to the container (a block cell that
// does not move: argument stack or root block). A negative length means
// the end of the buffer is not known; only the records are checked then.
// In boot mode header errors print a message and end the process.
void decode_into(const uint8_t* data, int64_t length, Cell* container, bool boot);

}  // namespace qel::qelbin
