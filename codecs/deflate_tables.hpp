// The fixed tables of the deflate format, shared by the compressor and the
// inflater: length and distance bases with their extra bits (RFC 1951, 3.2.5)
// and the order in which a dynamic block lists the code-length code.
#pragma once
#include <cstdint>

namespace qel::deflate::tables {

// Length codes 257 to 285, by code - 257.
constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Distance codes 0 to 29.
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t WINDOW = 32768;   // farthest distance
constexpr uint32_t MAX_MATCH = 258;
constexpr uint32_t MIN_MATCH = 3;

// The fixed code's length of a literal/length symbol 0 to 287.
constexpr uint8_t fixed_length(uint32_t symbol) {
    return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}

}  // namespace qel::deflate::tables
