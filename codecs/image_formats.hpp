// The decoders and encoders of the single formats behind image_codec (one
// source each). Same contract: false on any failure, nothing raised; a
// decoder receives data whose first bytes sniff() matched.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datatypes/image.hpp"

namespace qel::image_codec {

bool decode_png(const uint8_t* data, size_t size, image::Bitmap& out);
bool encode_png(const image::Bitmap& bitmap, std::vector<uint8_t>& out);
bool decode_jpeg(const uint8_t* data, size_t size, image::Bitmap& out);
bool encode_jpeg(const image::Bitmap& bitmap, std::vector<uint8_t>& out);
bool decode_gif(const uint8_t* data, size_t size, image::Bitmap& out);
bool encode_gif(const image::Bitmap& bitmap, std::vector<uint8_t>& out);
bool decode_tiff(const uint8_t* data, size_t size, image::Bitmap& out);
bool encode_tiff(const image::Bitmap& bitmap, std::vector<uint8_t>& out);

// Room for the pixels of a decoded image of the size: false when the size
// is refused (a side above MAX_SIDE, more than MAX_BYTES, or no pixels).
bool reserve(image::Bitmap& out, uint64_t width, uint64_t height);

}  // namespace qel::image_codec
