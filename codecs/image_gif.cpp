// GIF through giflib. Decoding paints the first frame onto a transparent
// canvas of the logical screen's size. Encoding writes one frame with a
// 256-entry colour table: the image's own colours when there are at most
// 255 opaque ones, a 6 x 7 x 6 colour cube otherwise; pixels less than half
// opaque take the transparent entry 255.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "codecs/image_formats.hpp"

namespace qel::image_codec {

namespace {

constexpr int TRANSPARENT_ENTRY = 255;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int read_bytes(GifFileType* gif, GifByteType* into, int n) {
    auto* r = static_cast<Reader*>(gif->UserData);
    const size_t take = std::min(static_cast<size_t>(n), r->size - r->at);
    std::memcpy(into, r->data + r->at, take);
    r->at += take;
    return static_cast<int>(take);
}

int write_bytes(GifFileType* gif, const GifByteType* from, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), from, from + n);
    return n;
}

// The colour table of a bitmap and each pixel's entry in it.
struct Palette {
    GifColorType colours[256];
    std::vector<GifByteType> indexes;
    bool transparent = false;
};

uint32_t rgb_of(const uint8_t* p) { return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0]; }

int cube_entry(const uint8_t* p) {
    const int r = (p[2] * 5 + 127) / 255, g = (p[1] * 6 + 127) / 255, b = (p[0] * 5 + 127) / 255;
    return (r * 7 + g) * 6 + b;
}

void make_palette(const image::Bitmap& bitmap, Palette& pal) {
    const size_t count = static_cast<size_t>(bitmap.width) * bitmap.height;
    std::memset(pal.colours, 0, sizeof pal.colours);
    pal.indexes.resize(count);
    std::unordered_map<uint32_t, int> seen;
    bool exact = true;
    for (size_t i = 0; i < count && exact; i++) {
        const uint8_t* p = bitmap.bgra.data() + 4 * i;
        if (p[3] < 128) continue;
        const uint32_t rgb = rgb_of(p);
        if (seen.count(rgb)) continue;
        if (seen.size() == TRANSPARENT_ENTRY) {
            exact = false;
            break;
        }
        const int e = static_cast<int>(seen.size());
        seen.emplace(rgb, e);
        pal.colours[e] = {p[2], p[1], p[0]};
    }
    if (!exact) {
        for (int r = 0; r < 6; r++)
            for (int g = 0; g < 7; g++)
                for (int b = 0; b < 6; b++)
                    pal.colours[(r * 7 + g) * 6 + b] = {static_cast<GifByteType>(r * 51), static_cast<GifByteType>(g * 255 / 6),
                                                        static_cast<GifByteType>(b * 51)};
    }
    for (size_t i = 0; i < count; i++) {
        const uint8_t* p = bitmap.bgra.data() + 4 * i;
        if (p[3] < 128) {
            pal.indexes[i] = TRANSPARENT_ENTRY;
            pal.transparent = true;
        } else {
            pal.indexes[i] = static_cast<GifByteType>(exact ? seen[rgb_of(p)] : cube_entry(p));
        }
    }
}

}  // namespace

bool decode_gif(const uint8_t* data, size_t size, image::Bitmap& out) {
    Reader r{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&r, &read_bytes, &error);
    if (!gif) return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1;
    if (ok) {
        const SavedImage& frame = gif->SavedImages[0];
        const GifImageDesc& d = frame.ImageDesc;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        GraphicsControlBlock gcb;
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, 0, &gcb);
        const int64_t width = std::max<int64_t>(gif->SWidth, static_cast<int64_t>(d.Left) + d.Width);
        const int64_t height = std::max<int64_t>(gif->SHeight, static_cast<int64_t>(d.Top) + d.Height);
        ok = map && frame.RasterBits && d.Width > 0 && d.Height > 0 && reserve(out, width, height);
        for (int y = 0; ok && y < d.Height; y++) {
            for (int x = 0; x < d.Width; x++) {
                const int e = frame.RasterBits[static_cast<size_t>(y) * d.Width + x];
                if (e == gcb.TransparentColor || e >= map->ColorCount) continue;
                uint8_t* p = out.bgra.data() + 4 * (static_cast<size_t>(d.Top + y) * out.width + d.Left + x);
                p[0] = map->Colors[e].Blue, p[1] = map->Colors[e].Green, p[2] = map->Colors[e].Red, p[3] = 255;
            }
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

bool encode_gif(const image::Bitmap& bitmap, std::vector<uint8_t>& out) {
    if (bitmap.width > 0xFFFF || bitmap.height > 0xFFFF) return false;
    Palette pal;
    make_palette(bitmap, pal);
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &write_bytes, &error);
    if (!gif) return false;
    ColorMapObject* map = GifMakeMapObject(256, pal.colours);
    const int w = static_cast<int>(bitmap.width), h = static_cast<int>(bitmap.height);
    bool ok = map && EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK;
    if (ok && pal.transparent) {
        EGifSetGifVersion(gif, true);
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, TRANSPARENT_ENTRY};
        GifByteType ext[4];
        const size_t n = EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; y++) ok = EGifPutLine(gif, pal.indexes.data() + static_cast<size_t>(y) * w, w) == GIF_OK;
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    return ok;
}

}  // namespace qel::image_codec
