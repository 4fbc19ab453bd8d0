// PNG through libpng's simplified interface, which reads any PNG as 8-bit
// straight B, G, R, A and writes it back the same way.
#include <png.h>

#include <cstring>

#include "codecs/image_formats.hpp"
#include "platform/dynlib.hpp"

namespace qel::image_codec {

namespace {

// The libpng functions called here, loaded on first use.
struct Png {
    decltype(&::png_image_begin_read_from_memory) png_image_begin_read_from_memory;
    decltype(&::png_image_finish_read) png_image_finish_read;
    decltype(&::png_image_free) png_image_free;
    decltype(&::png_image_write_to_memory) png_image_write_to_memory;

    explicit Png(dynlib::Binder& b) {
        b.bind(png_image_begin_read_from_memory, "png_image_begin_read_from_memory");
        b.bind(png_image_finish_read, "png_image_finish_read");
        b.bind(png_image_free, "png_image_free");
        b.bind(png_image_write_to_memory, "png_image_write_to_memory");
    }
};

const Png* png_library() { return dynlib::load<Png>(dynlib::Library::Png); }

}  // namespace

bool decode_png(const uint8_t* data, size_t size, image::Bitmap& out) {
    const Png* lib = png_library();
    if (!lib) return false;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!lib->png_image_begin_read_from_memory(&png, data, size)) return false;
    png.format = PNG_FORMAT_BGRA;
    if (!reserve(out, png.width, png.height)) {
        lib->png_image_free(&png);
        return false;
    }
    const bool ok = lib->png_image_finish_read(&png, nullptr, out.bgra.data(), 0, nullptr) != 0;
    lib->png_image_free(&png);
    return ok;
}

bool encode_png(const image::Bitmap& bitmap, std::vector<uint8_t>& out) {
    const Png* lib = png_library();
    if (!lib) return false;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = bitmap.width;
    png.height = bitmap.height;
    png.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!lib->png_image_write_to_memory(&png, nullptr, &size, 0, bitmap.bgra.data(), 0, nullptr)) return false;
    out.resize(size);
    const bool ok = lib->png_image_write_to_memory(&png, out.data(), &size, 0, bitmap.bgra.data(), 0, nullptr) != 0;
    out.resize(ok ? size : 0);
    return ok;
}

}  // namespace qel::image_codec
