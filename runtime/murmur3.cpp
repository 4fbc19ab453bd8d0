// MurmurHash3 x86 32-bit over a byte range.
#include "runtime/murmur3.hpp"

namespace qel::hashtab {

uint32_t seed = DEFAULT_SEED;

uint32_t murmur3(const void* key, size_t len, uint32_t seed_value) {
    return murmur3_mapped(static_cast<const uint8_t*>(key), len, seed_value, [](uint8_t b) { return b; });
}

}  // namespace qel::hashtab
