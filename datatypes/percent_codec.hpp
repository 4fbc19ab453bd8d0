// The percent codec of URLs: "%" and two hexadecimal digits stand for one
// byte of the UTF-8 form of a text.
//
// Decoding turns escapes back into characters: an escape of a byte below
// 0xC0 is that code point; an escaped UTF-8 lead byte takes as many
// escapes as its sequence needs and gives one code point, and when they are
// not all there (or do not form a valid sequence) the text is kept as it
// stands, so nothing is lost. Encoding writes every byte of 128 and above,
// and every ASCII byte the chosen table does not pass, as an escape with
// upper-case digits.
//
// The byte-level routines work on C++ memory and never allocate series;
// the cell-level ones copy the text out of its buffer before they append
// to the target, so no address into a series is held across an append.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::url {

// Table selectors: the strict table passes only letters, digits and
// - . _ ~ ; the URL table (any other selector) passes the characters a
// file or URL may hold unquoted.
constexpr uint32_t STRICT_TABLE = 0xFE;
constexpr uint32_t URL_TABLE = 0xFF;

// 0-15 for an ASCII hexadecimal digit, 255 for any other code below 128.
extern const uint8_t hex_digit[128];
// Whether an ASCII code stands for itself under the URL table.
bool url_literal(uint8_t c);
// Whether an ASCII code stands for itself under the strict table.
bool strict_literal(uint8_t c);

// True when p (before end) starts with "%" and two ASCII hexadecimal
// digits; their value goes into out.
bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& out);

// The byte itself (answers 1) or its escape text (answers 3) in out.
uint32_t encode_byte(uint32_t selector, uint8_t byte, char out[3]);

// Decodes UTF-8 text (well formed) into code points appended to out.
void decode_bytes(const uint8_t* p, size_t n, std::vector<uint32_t>& out);
// Encodes bytes into ASCII text appended to out.
void encode_bytes(const uint8_t* p, size_t n, uint32_t selector, std::string& out);

// The decoded text of a string value from its index, appended to the
// string buffer out.
void decode(const Cell* value, node_t out);
// The encoded text of a string value from its index, appended to out
// (whose units stay single bytes: the text is ASCII).
void encode(const Cell* value, node_t out, uint32_t selector);

}  // namespace qel::url
