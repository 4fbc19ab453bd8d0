// The boot image generated at build time (see tools/make_boot_image.cpp);
// linked into qel and the tests that start the library.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::boot_image {
extern const uint8_t data[];
extern const size_t size;
}  // namespace qel::boot_image
