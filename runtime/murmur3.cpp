// MurmurHash3 x86 32-bit over a byte range.
#include "runtime/murmur3.hpp"

namespace qel::hashtab {

uint32_t seed = DEFAULT_SEED;

uint32_t murmur3(const void* key, size_t len, uint32_t seed_value) {
    const auto* p = static_cast<const uint8_t*>(key);
    Murmur3Blocks m(seed_value);
    const size_t blocks = len / 4;
    for (size_t i = 0; i < blocks; i++, p += 4)
        m.add(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    uint32_t k = 0;
    switch (len & 3) {
        case 3: k ^= uint32_t{p[2]} << 16; [[fallthrough]];
        case 2: k ^= uint32_t{p[1]} << 8; [[fallthrough]];
        case 1:
            k ^= p[0];
            k *= 0xCC9E2D51u;
            k = (k << 15) | (k >> 17);
            k *= 0x1B873593u;
            m.h ^= k;
            break;
        default: break;
    }
    // The length is mixed in modulo 2^32, as the reference does.
    return mix32(m.h ^ static_cast<uint32_t>(len));
}

}  // namespace qel::hashtab
