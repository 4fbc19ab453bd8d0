// BMP files: the sizes the writer states and the reader's checks of the
// sizes a file states against the bytes it holds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codecs/image_bmp.hpp"
#include "codecs/image_codec.hpp"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t u32_at(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void put_u32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_u16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

image::Bitmap bitmap(uint32_t w, uint32_t h) {
    image::Bitmap b;
    b.width = w;
    b.height = h;
    b.bgra.resize(4 * static_cast<size_t>(w) * h);
    for (size_t i = 0; i < b.bgra.size(); i++) b.bgra[i] = static_cast<uint8_t>(i * 7 + 1);
    return b;
}

// A file with a 40-byte header: width, height (negative: top-down), bits
// a pixel, the stated image size, and rows of stride bytes filled with a
// pattern; colours entries of palette before the rows.
Bytes info_file(int32_t w, int32_t h, uint32_t bits, uint32_t stated, uint32_t stride, uint32_t colours = 0) {
    const uint32_t rows = static_cast<uint32_t>(h < 0 ? -h : h);
    const uint32_t offset = 14 + 40 + 4 * colours;
    Bytes b(offset + static_cast<size_t>(stride) * rows, 0);
    b[0] = 'B', b[1] = 'M';
    put_u32(b, 2, static_cast<uint32_t>(b.size()));
    put_u32(b, 10, offset);
    put_u32(b, 14, 40);
    put_u32(b, 18, static_cast<uint32_t>(w));
    put_u32(b, 22, static_cast<uint32_t>(h));
    put_u16(b, 26, 1);
    put_u16(b, 28, bits);
    put_u32(b, 34, stated);
    put_u32(b, 46, colours);
    for (size_t i = offset; i < b.size(); i++) b[i] = static_cast<uint8_t>(i);
    return b;
}

TEST(ImageBmp, RowBytesArePaddedToFour) {
    struct Case {
        uint64_t width;
        uint32_t bits;
        uint64_t bytes;
    } cases[] = {{1, 1, 4}, {33, 1, 8}, {3, 4, 4}, {9, 4, 8}, {3, 8, 4}, {5, 8, 8},
                 {3, 16, 8}, {1, 24, 4}, {3, 24, 12}, {5, 24, 16}, {3, 32, 12}, {65535, 32, 262140}};
    for (const Case& c : cases) EXPECT_EQ(bmp::row_bytes(c.width, c.bits), c.bytes) << c.width << "x" << c.bits;
}

TEST(ImageBmp, WriterStatesItsSizes) {
    struct Case {
        uint32_t w, h;
    } cases[] = {{1, 1}, {3, 2}, {7, 5}, {640, 1}};
    for (const Case& c : cases) {
        Bytes out;
        bmp::write(bitmap(c.w, c.h), out);
        const uint32_t pixels = 4 * c.w * c.h;
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        EXPECT_EQ(out.size(), 14u + 124u + pixels);
        EXPECT_EQ(u32_at(out, 2), out.size());        // file size
        EXPECT_EQ(u32_at(out, 10), 14u + 124u);       // pixel offset
        EXPECT_EQ(u32_at(out, 14), bmp::V5_HEADER_SIZE);
        EXPECT_EQ(u32_at(out, 18), c.w);
        EXPECT_EQ(static_cast<int32_t>(u32_at(out, 22)), -static_cast<int32_t>(c.h));  // top-down
        EXPECT_EQ(out[28], 32);                       // bits a pixel
        EXPECT_EQ(u32_at(out, 30), 3u);               // bit masks
        EXPECT_EQ(u32_at(out, 34), pixels);           // stated image size
        EXPECT_EQ(u32_at(out, 54), 0x00FF0000u);      // red mask
        EXPECT_EQ(u32_at(out, 66), 0xFF000000u);      // alpha mask
        image::Bitmap back;
        ASSERT_TRUE(bmp::read(out.data(), out.size(), back));
        EXPECT_EQ(back.width, c.w);
        EXPECT_EQ(back.height, c.h);
        EXPECT_EQ(back.bgra, bitmap(c.w, c.h).bgra);
    }
}

TEST(ImageBmp, ReaderTakesTheCommonLayouts) {
    // 24 bits, bottom-up, rows padded from 6 to 8 bytes.
    Bytes f = info_file(2, 2, 24, 0, 8);
    image::Bitmap b;
    ASSERT_TRUE(bmp::read(f.data(), f.size(), b));
    const uint8_t* last_row = f.data() + 54;  // the file's first row is the image's last
    EXPECT_EQ(0, std::memcmp(b.bgra.data() + 8, last_row, 3));
    EXPECT_EQ(b.bgra[11], 255);
    // 8 bits with a palette of two entries: index 1 is green.
    f = info_file(4, 1, 8, 0, 4, 2);
    put_u32(f, 54, 0x00000000);
    put_u32(f, 58, 0x0000FF00);
    f[62] = 1, f[63] = 0, f[64] = 1, f[65] = 7;  // 7 is past the palette: black
    ASSERT_TRUE(bmp::read(f.data(), f.size(), b));
    EXPECT_EQ(Bytes(b.bgra.begin(), b.bgra.begin() + 4), (Bytes{0, 255, 0, 255}));
    EXPECT_EQ(Bytes(b.bgra.begin() + 12, b.bgra.end()), (Bytes{0, 0, 0, 255}));
    // 16 bits, 5-5-5: pure red.
    f = info_file(1, -1, 16, 0, 4);
    put_u16(f, 54, 0x7C00);
    ASSERT_TRUE(bmp::read(f.data(), f.size(), b));
    EXPECT_EQ(b.bgra, (Bytes{0, 0, 255, 255}));
}

TEST(ImageBmp, ReaderRefusesSizesTheBytesDoNotBear) {
    struct Case {
        const char* name;
        Bytes file;
    };
    Bytes cut = info_file(3, 2, 24, 0, 12);
    cut.pop_back();
    Bytes far_offset = info_file(3, 2, 24, 0, 12);
    put_u32(far_offset, 10, 0xFFFFFFF0);
    Bytes header_past_end = info_file(1, 1, 24, 0, 4);
    put_u32(header_past_end, 14, 4000);
    Bytes rle = info_file(2, 2, 8, 0, 4, 2);
    put_u32(rle, 30, 1);
    const Case cases[] = {
        {"pixel data cut short by one byte", cut},
        {"stated image size below the rows", info_file(3, 2, 24, 23, 12)},
        {"pixel offset past the end", far_offset},
        {"header longer than the file", header_past_end},
        {"a height of rows the file does not hold", info_file(1, 1000000, 24, 0, 4)},
        {"rows that would overflow 32 bits", info_file(0x40000000, 0x40000000, 32, 0, 0)},
        {"a side beyond 16 bits", info_file(70000, 1, 32, 0, 280000)},
        {"width 0", info_file(0, 1, 24, 0, 0)},
        {"negative width", info_file(-2, 1, 24, 0, 8)},
        {"height 0", info_file(1, 0, 24, 0, 4)},
        {"bits a pixel not known", info_file(1, 1, 7, 0, 4)},
        {"run-length compression", rle},
        {"file header only", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"not a BMP", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        image::Bitmap b;
        EXPECT_FALSE(bmp::read(c.file.data(), c.file.size(), b)) << c.name;
        EXPECT_TRUE(b.bgra.empty()) << c.name;
    }
}

TEST(ImageBmp, PixelBytesAreComputedWithoutOverflow) {
    struct Case {
        uint64_t w, h;
        bool ok;
        uint64_t bytes;
    } cases[] = {{0, 0, true, 0},          {2, 2, true, 16},          {65535, 1, true, 262140},
                 {65536, 1, false, 0},     {1, 65536, false, 0},      {30000, 17895, true, 2147400000},
                 {40000, 40000, false, 0}, {65535, 65535, false, 0},  {UINT64_MAX, UINT64_MAX, false, 0}};
    for (const Case& c : cases) {
        uint64_t bytes = 0;
        EXPECT_EQ(image::pixel_bytes(c.w, c.h, bytes), c.ok) << c.w << "x" << c.h;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.w << "x" << c.h;
        }
    }
}

}  // namespace
}  // namespace qel
