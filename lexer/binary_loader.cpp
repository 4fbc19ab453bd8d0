// The loader of binary literals: #{...} (base 16), and 2#{...}, 16#{...},
// 64#{...} with the base written before the "#".
//
// The literal rules are the strict ones of the base-N decoders: whole
// pairs of hex digits, whole groups of 8 binary digits, whole base-64
// groups. Blanks and line breaks between digits are skipped and ";"
// starts a comment to the end of the line.
#include <vector>

#include "runtime/base_n.hpp"
#include "datatypes/binary.hpp"
#include "lexer/loaders.hpp"

namespace qel::lexer::loaders {

void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    int32_t base = 0;
    bool digits = false;
    while (p < end && *p >= '0' && *p <= '9') {
        if (base < 100) base = base * 10 + (*p - '0');
        digits = true;
        p++;
    }
    if (!digits) base = 16;
    if (end - p < 3 || p[0] != '#' || p[1] != '{' || end[-1] != '}' ||
        !(base == 2 || base == 16 || base == 64))
        error_invalid(s, TYPE_BINARY, start);
    std::vector<uint8_t> bytes;
    const binary::Units text{p + 2, static_cast<size_t>(end - 1 - (p + 2)), 1};
    if (!binary::decode_base(base, text, bytes, true)) error_invalid(s, TYPE_BINARY, start);
    if (!load) return;
    Cell value{};
    binary::load(bytes.data(), bytes.size(), &value);
    push_value(s, value);
}

}  // namespace qel::lexer::loaders
