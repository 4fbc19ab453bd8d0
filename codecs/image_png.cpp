// PNG through libpng's simplified interface, which reads any PNG as 8-bit
// straight B, G, R, A and writes it back the same way.
#include <png.h>

#include <cstring>

#include "codecs/image_formats.hpp"

namespace qel::image_codec {

bool decode_png(const uint8_t* data, size_t size, image::Bitmap& out) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, data, size)) return false;
    png.format = PNG_FORMAT_BGRA;
    if (!reserve(out, png.width, png.height)) {
        png_image_free(&png);
        return false;
    }
    const bool ok = png_image_finish_read(&png, nullptr, out.bgra.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return ok;
}

bool encode_png(const image::Bitmap& bitmap, std::vector<uint8_t>& out) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = bitmap.width;
    png.height = bitmap.height;
    png.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, bitmap.bgra.data(), 0, nullptr)) return false;
    out.resize(size);
    const bool ok = png_image_write_to_memory(&png, out.data(), &size, 0, bitmap.bgra.data(), 0, nullptr) != 0;
    out.resize(ok ? size : 0);
    return ok;
}

}  // namespace qel::image_codec
