// TIFF through libtiff, over memory instead of a file. Decoding takes the
// first directory through the library's RGBA reader, which handles every
// photometric kind and layout; encoding writes 8-bit R, G, B with an
// unassociated alpha sample, LZW-compressed. The library's messages are
// silenced: a failure is answered by the return value.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "codecs/image_formats.hpp"

namespace qel::image_codec {

namespace {

// The memory behind a TIFF handle: bytes read from, or written to.
struct Memory {
    const uint8_t* in = nullptr;
    std::vector<uint8_t>* out = nullptr;
    size_t size = 0;
    size_t at = 0;
};

Memory& mem(thandle_t h) { return *static_cast<Memory*>(h); }

tmsize_t read_proc(thandle_t h, void* into, tmsize_t n) {
    Memory& m = mem(h);
    if (!m.in || n < 0 || m.at >= m.size) return 0;
    const size_t take = std::min(static_cast<size_t>(n), m.size - m.at);
    std::memcpy(into, m.in + m.at, take);
    m.at += take;
    return static_cast<tmsize_t>(take);
}

tmsize_t write_proc(thandle_t h, void* from, tmsize_t n) {
    Memory& m = mem(h);
    if (!m.out || n < 0) return 0;
    const size_t end = m.at + static_cast<size_t>(n);
    if (m.out->size() < end) m.out->resize(end);
    std::memcpy(m.out->data() + m.at, from, static_cast<size_t>(n));
    m.at = end;
    m.size = std::max(m.size, end);
    return n;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
    Memory& m = mem(h);
    int64_t base = whence == SEEK_CUR ? static_cast<int64_t>(m.at) : whence == SEEK_END ? static_cast<int64_t>(m.size) : 0;
    const int64_t to = base + static_cast<int64_t>(offset);
    if (to < 0) return static_cast<toff_t>(-1);
    m.at = static_cast<size_t>(to);
    return static_cast<toff_t>(to);
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return mem(h).size; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

TIFF* open(Memory& m, const char* mode) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return TIFFClientOpen("memory", mode, &m, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                          unmap_proc);
}

// 8-bit R, G, B (and an alpha sample) in strips, read row by row as they
// lie: the library's RGBA reader would premultiply an unassociated alpha.
bool read_rgb_rows(TIFF* tif, image::Bitmap& out) {
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    uint16_t extra_count = 0;
    const uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    const bool unassociated = samples == 4 && extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
    if (bits != 8 || planar != PLANARCONFIG_CONTIG || photometric != PHOTOMETRIC_RGB || TIFFIsTiled(tif) ||
        !(samples == 3 || unassociated))
        return false;
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
    if (row.size() < static_cast<size_t>(samples) * out.width) return false;
    for (uint32_t y = 0; y < out.height; y++) {
        if (TIFFReadScanline(tif, row.data(), y, 0) != 1) return false;
        uint8_t* p = out.bgra.data() + 4 * static_cast<size_t>(y) * out.width;
        for (uint32_t x = 0; x < out.width; x++, p += 4) {
            const uint8_t* s = row.data() + static_cast<size_t>(samples) * x;
            p[0] = s[2], p[1] = s[1], p[2] = s[0], p[3] = samples == 4 ? s[3] : 255;
        }
    }
    return true;
}

// Any other layout through the library's RGBA reader: packed words whose
// low byte is red, rows top first.
bool read_rgba_image(TIFF* tif, image::Bitmap& out) {
    std::vector<uint32_t> raster(static_cast<size_t>(out.width) * out.height);
    if (!TIFFReadRGBAImageOriented(tif, out.width, out.height, raster.data(), ORIENTATION_TOPLEFT, 1)) return false;
    for (size_t i = 0; i < raster.size(); i++) {
        const uint32_t px = raster[i];
        uint8_t* p = out.bgra.data() + 4 * i;
        p[0] = static_cast<uint8_t>(TIFFGetB(px)), p[1] = static_cast<uint8_t>(TIFFGetG(px));
        p[2] = static_cast<uint8_t>(TIFFGetR(px)), p[3] = static_cast<uint8_t>(TIFFGetA(px));
    }
    return true;
}

}  // namespace

bool decode_tiff(const uint8_t* data, size_t size, image::Bitmap& out) {
    Memory m;
    m.in = data;
    m.size = size;
    TIFF* tif = open(m, "rm");
    if (!tif) return false;
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    bool ok = reserve(out, width, height);
    if (ok && !read_rgb_rows(tif, out)) {
        // The rows may have been read partly: start the directory afresh.
        ok = TIFFSetDirectory(tif, 0) && read_rgba_image(tif, out);
    }
    TIFFClose(tif);
    return ok;
}

bool encode_tiff(const image::Bitmap& bitmap, std::vector<uint8_t>& out) {
    Memory m;
    m.out = &out;
    out.clear();
    TIFF* tif = open(m, "w");
    if (!tif) return false;
    const uint32_t w = bitmap.width, h = bitmap.height;
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> row(4 * static_cast<size_t>(w));
    bool ok = true;
    for (uint32_t y = 0; ok && y < h; y++) {
        const uint8_t* p = bitmap.bgra.data() + 4 * static_cast<size_t>(y) * w;
        for (uint32_t x = 0; x < w; x++) {
            row[4 * x] = p[4 * x + 2], row[4 * x + 1] = p[4 * x + 1], row[4 * x + 2] = p[4 * x];
            row[4 * x + 3] = p[4 * x + 3];
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    if (!ok) out.clear();
    return ok;
}

}  // namespace qel::image_codec
