// Format recognition and the dispatch to the single codecs (see
// image_codec.hpp).
#include "codecs/image_codec.hpp"

#include <cstring>

#include "codecs/image_bmp.hpp"
#include "codecs/image_formats.hpp"

namespace qel::image_codec {

namespace {

bool starts(const uint8_t* data, size_t size, const char* magic, size_t n) {
    return size >= n && std::memcmp(data, magic, n) == 0;
}

}  // namespace

std::optional<Format> sniff(const uint8_t* data, size_t size) {
    if (starts(data, size, "\x89PNG", 4)) return Format::Png;
    if (starts(data, size, "\xFF\xD8\xFF", 3)) return Format::Jpeg;
    if (starts(data, size, "BM", 2)) return Format::Bmp;
    if (starts(data, size, "GIF87a", 6) || starts(data, size, "GIF89a", 6)) return Format::Gif;
    if (starts(data, size, "II*\0", 4) || starts(data, size, "MM\0*", 4)) return Format::Tiff;
    return std::nullopt;
}

bool reserve(image::Bitmap& out, uint64_t width, uint64_t height) {
    uint64_t bytes = 0;
    if (width == 0 || height == 0 || !image::pixel_bytes(width, height, bytes)) return false;
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);
    out.bgra.assign(bytes, 0);
    return true;
}

bool decode(const uint8_t* data, size_t size, image::Bitmap& out) {
    const std::optional<Format> f = sniff(data, size);
    if (!f) return false;
    switch (*f) {
        case Format::Bmp: return bmp::read(data, size, out);
        case Format::Png: return decode_png(data, size, out);
        case Format::Gif: return decode_gif(data, size, out);
        case Format::Jpeg: return decode_jpeg(data, size, out);
        case Format::Tiff: return decode_tiff(data, size, out);
    }
    return false;
}

bool encode(const image::Bitmap& bitmap, Format format, std::vector<uint8_t>& out) {
    out.clear();
    if (bitmap.width == 0 || bitmap.height == 0) return true;
    if (bitmap.bgra.size() < 4 * static_cast<size_t>(bitmap.width) * bitmap.height) return false;
    switch (format) {
        case Format::Bmp: bmp::write(bitmap, out); return true;
        case Format::Png: return encode_png(bitmap, out);
        case Format::Gif: return encode_gif(bitmap, out);
        case Format::Jpeg: return encode_jpeg(bitmap, out);
        case Format::Tiff: return encode_tiff(bitmap, out);
    }
    return false;
}

}  // namespace qel::image_codec
