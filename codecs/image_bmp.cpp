// BMP reader and writer (see image_bmp.hpp).
#include "codecs/image_bmp.hpp"

#include <algorithm>
#include <cstring>

#include "codecs/image_formats.hpp"

namespace qel::bmp {

namespace {

enum class Compression : uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, Bitfields = 3, AlphaBitfields = 6 };

constexpr uint32_t CORE_HEADER_SIZE = 12;
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint32_t COLOR_SPACE_WINDOWS = 0x57696E20;  // 'Win '
constexpr uint32_t INTENT_IMAGES = 4;

uint32_t u16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A channel of a pixel word under a bit mask, scaled to 0-255.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (!m) return;
        shift = static_cast<uint32_t>(__builtin_ctz(m));
        max = m >> shift;
    }
    uint32_t of(uint32_t word) const {
        if (!mask) return 0;
        const uint64_t v = (word & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

}  // namespace

uint64_t row_bytes(uint64_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

bool read(const uint8_t* data, size_t size, image::Bitmap& out) {
    if (size < FILE_HEADER_SIZE + 4 || data[0] != 'B' || data[1] != 'M') return false;
    const uint64_t offset = u32(data + 10);
    const uint8_t* h = data + FILE_HEADER_SIZE;
    const uint64_t header = u32(h);
    if (header < CORE_HEADER_SIZE || FILE_HEADER_SIZE + header > size) return false;
    int64_t width, height;
    uint32_t bits;
    Compression compression = Compression::Rgb;
    uint64_t stated = 0, colours = 0;
    uint32_t masks[4] = {0, 0, 0, 0};
    bool has_masks = false;
    uint32_t palette_entry = 4;
    if (header == CORE_HEADER_SIZE) {
        width = u16(h + 4);
        height = u16(h + 6);
        bits = u16(h + 10);
        palette_entry = 3;
    } else {
        if (header < INFO_HEADER_SIZE) return false;
        width = static_cast<int32_t>(u32(h + 4));
        height = static_cast<int32_t>(u32(h + 8));
        bits = u16(h + 14);
        compression = static_cast<Compression>(u32(h + 16));
        stated = u32(h + 20);
        colours = u32(h + 32);
        if (compression == Compression::Bitfields || compression == Compression::AlphaBitfields) {
            // Masks follow a 40-byte header; the later headers hold them.
            const uint64_t count = compression == Compression::AlphaBitfields || header >= 56 ? 4 : 3;
            const uint64_t at = FILE_HEADER_SIZE + INFO_HEADER_SIZE;
            if (at + 4 * count > size) return false;
            for (uint64_t i = 0; i < count; i++) masks[i] = u32(data + at + 4 * i);
            has_masks = true;
        } else if (compression != Compression::Rgb) {
            return false;
        }
    }
    const bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (has_masks && bits != 16 && bits != 32) return false;
    const uint64_t stride = row_bytes(static_cast<uint64_t>(width), bits);
    const uint64_t need = stride * static_cast<uint64_t>(height);
    // The pixel data: inside the file, and as large as the header says.
    if (offset > size || size - offset < need) return false;
    if (stated != 0 && stated < need) return false;
    // The palette, for 8 bits a pixel or fewer.
    const uint8_t* palette = nullptr;
    uint64_t palette_size = 0;
    if (bits <= 8) {
        const uint64_t most = uint64_t{1} << bits;
        palette_size = colours && colours < most ? colours : most;
        const uint64_t at = FILE_HEADER_SIZE + header + (has_masks && header == INFO_HEADER_SIZE ? 12 : 0);
        const uint64_t room = offset > at ? (offset - at) / palette_entry : 0;
        palette_size = std::min(palette_size, room);
        palette = data + at;
    }
    if (!has_masks) {
        if (bits == 16) {
            masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        } else {
            masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
        }
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    if (!image_codec::reserve(out, static_cast<uint64_t>(width), static_cast<uint64_t>(height))) return false;
    const uint32_t w = out.width, rows = out.height;
    for (uint32_t r = 0; r < rows; r++) {
        const uint8_t* row = data + offset + stride * r;
        uint8_t* dst = out.bgra.data() + 4 * static_cast<size_t>(top_down ? r : rows - 1 - r) * w;
        for (uint32_t x = 0; x < w; x++, dst += 4) {
            uint32_t R, G, B, A = 255;
            if (bits <= 8) {
                const uint32_t per = 8 / bits;
                const uint32_t byte = row[x / per];
                const uint32_t index = (byte >> (8 - bits * (x % per + 1))) & ((1u << bits) - 1);
                if (index < palette_size) {
                    const uint8_t* e = palette + palette_entry * index;
                    B = e[0], G = e[1], R = e[2];
                } else {
                    B = G = R = 0;
                }
            } else if (bits == 24) {
                const uint8_t* p = row + 3 * static_cast<size_t>(x);
                B = p[0], G = p[1], R = p[2];
            } else {
                const uint32_t word = bits == 16 ? u16(row + 2 * static_cast<size_t>(x)) : u32(row + 4 * static_cast<size_t>(x));
                R = red.of(word), G = green.of(word), B = blue.of(word);
                if (masks[3]) A = alpha.of(word);
            }
            dst[0] = static_cast<uint8_t>(B), dst[1] = static_cast<uint8_t>(G), dst[2] = static_cast<uint8_t>(R);
            dst[3] = static_cast<uint8_t>(A);
        }
    }
    return true;
}

void write(const image::Bitmap& bitmap, std::vector<uint8_t>& out) {
    const uint32_t pixels = 4 * bitmap.width * bitmap.height;
    const uint32_t offset = FILE_HEADER_SIZE + V5_HEADER_SIZE;
    out.clear();
    out.reserve(offset + pixels);
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + pixels);
    put32(out, 0);
    put32(out, offset);
    put32(out, V5_HEADER_SIZE);
    put32(out, bitmap.width);
    put32(out, static_cast<uint32_t>(-static_cast<int32_t>(bitmap.height)));  // rows run top-down
    put16(out, 1);
    put16(out, 32);
    put32(out, static_cast<uint32_t>(Compression::Bitfields));
    put32(out, pixels);
    put32(out, 2835);  // 72 dots an inch, in dots a metre
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, COLOR_SPACE_WINDOWS);
    out.resize(out.size() + 36 + 12, 0);  // end points, gamma
    put32(out, INTENT_IMAGES);
    out.resize(offset, 0);  // profile data, profile size, reserved
    out.insert(out.end(), bitmap.bgra.begin(), bitmap.bgra.begin() + pixels);
}

}  // namespace qel::bmp
