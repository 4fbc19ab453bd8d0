// The LZ codec that packs serialized value data: a bit stream of literals
// and back-references inside a small container (packed length, unpacked
// length, then self-contained chunks of at most 1 MiB). Only the
// decompressor runs when a program loads data; the compressor must write
// exactly the stream the decompressor reads. Neither direction raises:
// failures are answered with -1 or null and the callers pick the error.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::lzcomp {

constexpr uint32_t HEADER_SIZE = 8;         // packed length, unpacked length
constexpr uint32_t CHUNK_SIZE = 1u << 20;   // uncompressed bytes per chunk
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 566;
constexpr uint32_t WINDOW = 1u << 18;       // farthest back-reference

// Packs n bytes into dst_capacity bytes at dst. Answers the bytes written,
// header included, or -1 when they do not fit (or the tables cannot be
// had).
int64_t pack(const uint8_t* src, size_t n, uint8_t* dst, size_t dst_capacity);

// Unpacks the container in src[0 .. src_len). Answers a block of the tracked
// heap holding the data (with 8 spare bytes past its end) and stores its
// length in *out_len, or null for a container that is corrupt or cut short.
// Every read stays inside src_len and every write inside the unpacked
// length the header declares. The caller frees the block with heap::free.
uint8_t* decompress(const uint8_t* src, size_t src_len, uint32_t* out_len);

}  // namespace qel::lzcomp
