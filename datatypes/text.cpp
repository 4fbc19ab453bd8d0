// Appends to text buffers. Latin-1 text (every name and keyword of the
// runtime) goes in with one reserve and a widening store loop; wider code
// points go through the Unicode layer, which widens the buffer first.
#include "datatypes/text.hpp"

#include <cstring>

#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace qel::text {

node_t make_buffer(uint32_t capacity) { return memory::alloc_codepoints(capacity, 1); }

void append_cstr(node_t out, const char* s) { append_latin1(out, s, std::strlen(s)); }

void append_codepoint(node_t out, uint32_t cp) { unicode::append_codepoint(out, cp); }

void append_text(node_t out, node_t src, uint32_t from, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) unicode::append_codepoint(out, unicode::codepoint_at(src, from + i));
}

void indent(node_t out, int32_t level) {
    static const char blanks[] = "                                ";  // 8 levels
    for (int32_t l = level; l > 0; l -= 8) append_latin1(out, blanks, static_cast<size_t>(l >= 8 ? 8 : l) * 4);
}

uint32_t length(node_t out) { return series::buffer_length(out); }

std::string to_utf8(node_t out) {
    std::string s;
    const uint32_t n = series::buffer_length(out);
    for (uint32_t i = 0; i < n; i++) {
        uint8_t b[4];
        const uint32_t k = unicode::encode_utf8(unicode::codepoint_at(out, i), b);
        s.append(reinterpret_cast<const char*>(b), static_cast<size_t>(k));
    }
    return s;
}

}  // namespace qel::text
