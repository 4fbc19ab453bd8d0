// BMP files: our own reader and writer.
//
// The reader takes the file header and a core (12-byte), info (40), or
// version 2 to 5 (52 to 124) header; 1, 4 and 8 bits a pixel with a
// palette, 16 and 32 with bit masks (or the default ones), 24 without.
// Rows run bottom-up for a positive height and top-down for a negative
// one. Run-length compressed files are refused. The stated sizes are never
// trusted: the header, the palette and every row must lie inside the
// bytes, the image size the header states (when not 0) must cover the
// rows, and the dimensions must pass image::pixel_bytes.
//
// The writer makes a 32-bit top-down file with a 124-byte version 5
// header whose masks keep the opacity.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datatypes/image.hpp"

namespace qel::bmp {

constexpr uint32_t FILE_HEADER_SIZE = 14;
constexpr uint32_t V5_HEADER_SIZE = 124;

bool read(const uint8_t* data, size_t size, image::Bitmap& out);
void write(const image::Bitmap& bitmap, std::vector<uint8_t>& out);

// Bytes of one row of width pixels of bits each, padded to 4 bytes.
uint64_t row_bytes(uint64_t width, uint32_t bits);

}  // namespace qel::bmp
