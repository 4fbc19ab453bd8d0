// Text buffers: the string buffers that form and mold write into, and the
// appends every datatype's form and mold use. A buffer holds whole code
// points in 1-, 2- or 4-byte units and widens in place when a wider code
// point arrives.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/series.hpp"
#include "runtime/unicode.hpp"

namespace qel::text {

// A new empty buffer of 1-byte units with room for capacity code points.
node_t make_buffer(uint32_t capacity);

// Bytes taken as code points 0-255, written in the buffer's unit width.
using unicode::append_latin1;
void append_cstr(node_t out, const char* s);
void append_codepoint(node_t out, uint32_t cp);
// count code points of another text buffer from unit index from.
void append_text(node_t out, node_t src, uint32_t from, uint32_t count);
// Four blanks per level.
void indent(node_t out, int32_t level);

// Code points in the buffer.
uint32_t length(node_t out);
// The buffer as UTF-8 (tests, diagnostics).
std::string to_utf8(node_t out);

}  // namespace qel::text
