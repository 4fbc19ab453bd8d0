// image!: a rectangle of 32-bit pixels with a current position, a series
// of pixels in row order.
//
// Cell: word 1 the index (a pixel position, counted in row order), word 2
// the node of the pixel buffer, word 3 the size, height in the high 16 bits
// and width in the low 16. The buffer has 4-byte units, one per pixel,
// stored as the bytes B, G, R, opacity (255 opaque) without row padding, so
// that the series navigation of the parent counts pixels. The language sees
// a pixel as the tuple R.G.B.A whose fourth byte is transparency, 255 minus
// the stored opacity. Copies never share a buffer; at, skip, next and tail
// do.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"

namespace qel::image {

constexpr uint32_t MAX_SIDE = 0xFFFF;       // a side fits the 16 bits of the size word
constexpr uint64_t MAX_BYTES = 0x7FFFFF00;  // the largest buffer the memory manager makes

// An image's pixels outside the language: width x height pixels of 4 bytes
// B, G, R, opacity, in row order. What the codecs and the clipboard trade.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;
};

// Bytes of width x height pixels, computed without overflow; false when
// either side exceeds MAX_SIDE or the total exceeds MAX_BYTES.
bool pixel_bytes(uint64_t width, uint64_t height, uint64_t& bytes);

// A new image of the size in cell (index 0), every pixel white and opaque,
// or pushed on the argument stack when cell is null. A side above MAX_SIDE
// raises size-limit with the size, a size past MAX_BYTES no-memory.
Cell* make_at(Cell* cell, uint32_t width, uint32_t height);
// A new image holding the bitmap's pixels (the same errors).
Cell* load(const Bitmap& bitmap, Cell* cell = nullptr);
// The whole image's pixels, whatever its index.
Bitmap to_bitmap(const Cell* value);

// The pixel buffer from its first pixel; valid until the next allocation.
uint8_t* pixels(const Cell* value);
inline uint32_t pixel_count(const Cell* value) { return image_width(value) * image_height(value); }

// Pixel i of the buffer as 0xAARRGGBB (AA the opacity) and back.
uint32_t get_pixel(const Cell* value, uint32_t i);
void set_pixel(const Cell* value, uint32_t i, uint32_t argb);
// A tuple! (3 or 4 bytes) as a stored pixel and a stored pixel as a tuple!.
uint32_t pixel_of_tuple(const Cell* tuple);
Cell tuple_of_pixel(uint32_t argb);

}  // namespace qel::image
