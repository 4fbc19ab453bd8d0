// image!: its QELBIN records (exact bytes, round trips, a shared pixel
// buffer, damaged records) and the size checks of a new image. What the
// language reaches is tested in tests/lang/image.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/image.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

class ImageTest : public testutil::StartedRuntime {};

// A w x h image whose pixel i is stored as the bytes i, i+1, i+2, 255.
Cell picture(uint32_t w, uint32_t h, uint32_t index = 0) {
    Cell c{};
    image::make_at(&c, w, h);
    for (uint32_t i = 0; i < w * h; i++) image::set_pixel(&c, i, 0xFF000000u | (i + 2) << 16 | (i + 1) << 8 | i);
    series_index(c) = index;
    return c;
}

Bytes pixels_of(const Cell& c) {
    const uint8_t* p = image::pixels(&c);
    return Bytes(p, p + 4 * static_cast<size_t>(image::pixel_count(&c)));
}

Bytes encoded(const Cell& v, bool compact) {
    const node_t n = qelbin::encode(&v, compact);
    SeriesBuffer* s = series::buffer_of(n);
    return Bytes(series::head_ptr(s), series::tail_ptr(s));
}

TEST_F(ImageTest, QelbinRecordBytes) {
    struct Case {
        const char* name;
        Cell v;
        bool compact;
        size_t header;  // bytes before the records
        Bytes records;
    } cases[] = {
        {"compact at head", picture(2, 1), true, 10, {0x35, 2, 1, 0, 1, 2, 255, 1, 2, 3, 255}},
        {"compact past head", picture(2, 1, 1), true, 10, {0x75, 1, 2, 1, 0, 1, 2, 255, 1, 2, 3, 255}},
        {"compact without pixels", picture(0, 3), true, 10, {0x35, 0, 3}},
        {"fixed", picture(1, 2, 1), false, 16, {0x35, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 0, 0, 1, 2, 255, 1, 2, 3, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes img = encoded(c.v, c.compact);
        ASSERT_GE(img.size(), c.header);
        EXPECT_EQ(Bytes(img.begin() + static_cast<ptrdiff_t>(c.header), img.end()), c.records);
        const Cell back = qelbin::decode(img.data(), img.size());
        EXPECT_EQ(cell::type_of(&back), TYPE_IMAGE);
        EXPECT_EQ(series_index(back), series_index(c.v));
        EXPECT_EQ(image_size(back), image_size(c.v));
        EXPECT_EQ(pixels_of(back), pixels_of(c.v));
    }
}

TEST_F(ImageTest, QelbinKeepsOneBufferShared) {
    const Cell a = picture(2, 2);
    const Cell block = testutil::block_of({a, testutil::at_index(a, 3)});
    for (bool compact : {true, false}) {
        SCOPED_TRACE(compact ? "compact" : "fixed");
        const Bytes img = encoded(block, compact);
        const Cell back = qelbin::decode(img.data(), img.size());
        const Cell* cells = series::cells_of(series_node(back));
        EXPECT_EQ(cell::type_of(&cells[1]), TYPE_IMAGE);
        EXPECT_EQ(series_node(cells[0]), series_node(cells[1]));
        EXPECT_EQ(series_index(cells[1]), 3u);
        EXPECT_EQ(image_size(cells[1]), image_size(a));
    }
}

TEST_F(ImageTest, QelbinRefusesDamagedRecords) {
    struct Case {
        const char* name;
        bool compact;
        uint32_t index;  // of the image encoded
        size_t at;       // the byte changed
        uint8_t value;
    } cases[] = {
        {"compact: more rows than pixel bytes", true, 0, 10 + 2, 9},
        {"compact: a head index past the pixels", true, 1, 10 + 1, 7},
        {"fixed: more rows than pixel bytes", false, 0, 16 + 10, 9},
        {"fixed: a head index past the pixels", false, 0, 16 + 4, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes img = encoded(picture(2, 1, c.index), c.compact);
        img[c.at] = c.value;
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::QB_INVALID_RECORD);
    }
    // A compact record whose width runs past 16 bits.
    Bytes wide = encoded(picture(1, 1), true);
    wide.insert(wide.begin() + 11, {0x80, 0x80});
    wide[11] = 0x80, wide[12] = 0x80, wide[13] = 0x04;  // 65536
    EXPECT_EQ(testutil::raised([&] { qelbin::decode(wide.data(), wide.size()); }), err::QB_INVALID_RECORD);
}

TEST_F(ImageTest, SizesBeyondTheLimitsRaise) {
    struct Case {
        uint32_t w, h;
        int error;
    } cases[] = {{65536, 1, err::SIZE_LIMIT}, {1, 70000, err::SIZE_LIMIT}, {65535, 65535, err::NO_MEMORY},
                 {50000, 50000, err::NO_MEMORY}};
    for (const Case& c : cases) {
        Cell img{};
        EXPECT_EQ(testutil::raised([&] { image::make_at(&img, c.w, c.h); }), c.error) << c.w << "x" << c.h;
    }
    Cell ok{};
    image::make_at(&ok, 300, 200);
    EXPECT_EQ(image::pixel_count(&ok), 60000u);
    EXPECT_EQ(image::get_pixel(&ok, 59999), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace qel
