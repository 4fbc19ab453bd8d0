// Deflate (RFC 1951) with the zlib (RFC 1950) and gzip (RFC 1952) wrappers,
// behind the compress and decompress natives.
//
// Every routine works on buffers its caller gives, allocates nothing and
// raises nothing: it answers a result code. `size` holds the output
// capacity on entry and, on return, the length written, or the length that
// would have been needed when the answer is TOO_SMALL. Bytes past the
// capacity are counted and not stored, so a call with a capacity of 0 (and
// a null output) sizes the output without a buffer.
//
// The compressor writes one final block with the fixed Huffman codes; its
// match finder (a small hash table on the stack, first fit, no lazy
// matching) makes the stream a function of the input alone. The inflater
// reads stored, fixed and dynamic blocks, and trusts nothing it reads:
// every code table is checked for over- and under-subscription, every
// distance against the output produced so far, every read against the
// input length.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::deflate {

enum Result : int {
    DONE = 0,
    TOO_SMALL = 1,        // size holds the length needed
    MALFORMED = 2,        // bad header, code, checksum, or input cut short
    STORED_PAST_INPUT = 3,
    RESERVED_BLOCK = 4,   // block type 3
    TOO_FAR_BACK = 5,     // a distance reaching before the output start
};

// Raw deflate data.
int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t length);
int decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t length);

// Method words of compress and decompress.
enum Method : int { NO_METHOD = -1, ZLIB = 0, DEFLATE = 1, GZIP = 2 };

// Start-up: interns "zlib", "deflate" and "gzip".
void init_method_words();
// The method a canonical symbol names, letter case ignored; NO_METHOD for
// any other word.
Method method_of(int32_t canonical_symbol);

}  // namespace qel::deflate

namespace qel::zlib {

// Header 78 01, the deflate data, the Adler-32 of the input big-endian.
int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t length);
// Checks the header (check bits, method 8, window, no preset dictionary)
// and the Adler-32 of the output.
int decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t length);

}  // namespace qel::zlib

namespace qel::gzip {

// A 10-byte header (no name, time 0), the deflate data, the CRC-32 and the
// length of the input little-endian. Always wraps, even data that already
// looks like gzip.
int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t length);
// Skips the optional header fields (checking the header CRC when present),
// inflates, and checks the trailer's length and CRC-32. The length is
// learned from the data itself, never from the trailer alone, so a caller
// that sizes its buffer from TOO_SMALL allocates only what the data really
// decodes to.
int decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t length);

}  // namespace qel::gzip
