// The image file codecs: the first frame of a BMP, PNG, GIF, JPEG or TIFF
// file decoded into pixels, and pixels encoded into any of the five.
//
// Pixels are image::Bitmap values (4 bytes a pixel: B, G, R, opacity, rows
// without padding), so nothing here touches language values or raises:
// a failure answers false and the caller reports it. PNG, JPEG, GIF and
// TIFF go through their libraries (libpng, libjpeg-turbo, giflib, libtiff);
// BMP is read and written by image_bmp. Every decoder checks the stated
// size against MAX_SIDE and MAX_BYTES before it makes room for pixels, and
// against the bytes actually present.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "datatypes/image.hpp"

namespace qel::image_codec {

// The format numbers of the codec objects and of image encoding.
enum class Format : int32_t { Bmp = 0, Png = 1, Gif = 2, Jpeg = 3, Tiff = 4 };
constexpr int32_t FORMAT_COUNT = 5;

// The container that the first bytes identify (PNG: 0x89 "PNG"; JPEG:
// FF D8 FF; BMP: "BM"; GIF: "GIF87a" or "GIF89a"; TIFF: "II*\0" or
// "MM\0*"), nothing for anything else.
std::optional<Format> sniff(const uint8_t* data, size_t size);

// The first frame of the file in data; false when the container is not
// known or the file is corrupt or truncated.
bool decode(const uint8_t* data, size_t size, image::Bitmap& out);

// The bitmap as a file of the format; false when the library fails. An
// image of no pixels gives no bytes.
bool encode(const image::Bitmap& bitmap, Format format, std::vector<uint8_t>& out);

}  // namespace qel::image_codec
