// Base 2, 16, 58 and 64: bytes to text and text back to bytes.
//
// These routines work on plain memory only (the input units and C++
// containers for the output), so they allocate nothing in the managed heap
// and can never see a buffer move under them; the callers copy the result
// into a binary! or string! afterwards (datatypes/binary.hpp, the enbase
// and debase natives, the lexer's binary literals).
//
// Decoders read text in 1-, 2- or 4-byte units. A ";" starts a comment that
// runs to the next line feed. Each decoder answers false for text that is
// not valid in its base; what it appended to the output is then garbage.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel::binary {

// A run of text units (code points) as a decoder reads it.
struct Units {
    const uint8_t* data;
    size_t count;    // units
    uint32_t width;  // 1, 2 or 4 bytes per unit
    uint32_t at(size_t i) const;
};

inline Units latin1_units(const char* text, size_t n) {
    return Units{reinterpret_cast<const uint8_t*>(text), n, 1};
}

// The value of a hexadecimal digit of either case; -1 for any other
// character.
constexpr int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    return -1;
}

// ---- encoders: characters appended to out --------------------------------------

void encode_base2(const uint8_t* bytes, size_t n, std::string& out);   // 8 per byte
void encode_base16(const uint8_t* bytes, size_t n, std::string& out);  // 2 per byte, upper case
void encode_base58(const uint8_t* bytes, size_t n, std::string& out);  // at most 2n + 1
void encode_base64(const uint8_t* bytes, size_t n, std::string& out);  // 4 per started group of 3

// ---- decoders: bytes appended to out ------------------------------------------

// Strict decoding is the rule of the binary literals: base 16 needs whole
// pairs of digits, base 64 whole groups of four, and after a "=" nothing
// but more "=" and skipped characters may follow. Without it a final odd
// hex digit is dropped, base 64 stops at the first "=" and decodes the
// digits still pending at the end (two or three of them; one is invalid).
bool decode_base2(const Units& text, std::vector<uint8_t>& out);
bool decode_base16(const Units& text, std::vector<uint8_t>& out, bool strict = false);
bool decode_base58(const Units& text, std::vector<uint8_t>& out);
bool decode_base64(const Units& text, std::vector<uint8_t>& out, bool strict = false);

// By base; false as well for a base other than 2, 16, 58 and 64.
bool supported_base(int32_t base);
bool decode_base(int32_t base, const Units& text, std::vector<uint8_t>& out, bool strict = false);
void encode_base(int32_t base, const uint8_t* bytes, size_t n, std::string& out);

// Characters the encoder of the base writes for n bytes at most.
uint64_t encoded_size(int32_t base, uint64_t n);

}  // namespace qel::binary
