// tuple!, pair!, the point types, triple! and handle!: their QELBIN
// records (exact bytes, round trips, refusals), the tuple cell layout that
// other code reads directly, the texts of the two types that have no
// literal (triple! and handle!), and the scan hook that the conversions of
// texts to pair! and time! go through.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/text.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/actions.hpp"
#include "runtime/scan_hook.hpp"
#include "qelbin_support.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::Bytes;
using testutil::encoded;

// The records area of a compact image without symbols: after the magic,
// the version, the flags and the two one-byte varints.
Bytes records(const Bytes& img) { return Bytes(img.begin() + 10, img.end()); }

Cell tuple_of(std::initializer_list<uint8_t> bytes) {
    Cell c{0, 0, 0, 0};
    return *tuple::make_at(&c, bytes.begin(), static_cast<uint32_t>(bytes.size()));
}

Cell pair_of(int32_t x, int32_t y) {
    Cell c{0, 0, 0, 0};
    return *pair::make_at(&c, x, y);
}

Cell point_of(double x, double y) {
    Cell c{0, 0, 0, 0};
    return *point::make2_at(&c, x, y);
}

Cell point_of(double x, double y, double z) {
    Cell c{0, 0, 0, 0};
    return *point::make3_at(&c, x, y, z);
}

// triple! and handle! have no literal and no maker: their cells are built
// by hand, a handle's word 3 -1 as the platform layer leaves it.
Cell triple_of(int32_t a, int32_t b, int32_t c) {
    return Cell{TYPE_TRIPLE, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)};
}

Cell handle_of(uint32_t value, handle::Kind kind) { return Cell{TYPE_HANDLE, kind, value, 0xFFFFFFFFu}; }

std::string text_of(const Cell& v, bool mold, bool all = false) {
    const node_t out = text::make_buffer(40);
    if (mold) actions::mold(&v, out, datatype::MoldOptions{.all = all}, 1000, 0);
    else actions::form(&v, out, false, 1000);
    return text::to_utf8(out);
}

class Composite : public testutil::StartedRuntime {};

TEST_F(Composite, TupleCellLayout) {
    // The length lives in header bits 19-22; byte 1 is the lowest byte of
    // word 1 and bytes past the length are 0.
    const Cell t = tuple_of({1, 2, 3, 4, 5});
    EXPECT_EQ(t.header, TYPE_TUPLE | (5u << 19));
    EXPECT_EQ(payload_word(t, 0), 0x04030201u);
    EXPECT_EQ(payload_word(t, 1), 0x00000005u);
    EXPECT_EQ(payload_word(t, 2), 0u);
    const Cell short_one = tuple_of({7});
    EXPECT_EQ(tuple_length(&short_one), 3u);
    EXPECT_EQ(text_of(short_one, true), "7.0.0");
}

TEST_F(Composite, CompactRecords) {
    struct Case {
        const char* name;
        Cell v;
        Bytes rec;
    } cases[] = {
        {"three bytes: no length byte", tuple_of({1, 2, 3}), {39, 1, 2, 3}},
        {"four bytes: short flag and length", tuple_of({1, 2, 3, 4}), {39 | 0x40, 4, 1, 2, 3, 4}},
        {"pair: zigzag components", pair_of(-1, 64), {37, 0x01, 0x80, 0x01}},
        {"point2D!: float32 patterns", point_of(1.0, -2.0), {51, 0, 0, 0x80, 0x3F, 0, 0, 0, 0xC0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(records(encoded(c.v, true)), c.rec);
    }
}

TEST_F(Composite, FixedTupleRecordCarriesItsLengthInTheHeader) {
    const Bytes img = encoded(tuple_of({9, 8, 7, 6}), false);
    const Bytes rec(img.begin() + 16, img.end());
    const Bytes want = {39, 4, 0, 0, 9, 8, 7, 6, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(rec, want);
}

TEST_F(Composite, RecordsRoundTripInBothModes) {
    const Cell values[] = {
        tuple_of({1, 2, 3}), tuple_of({255, 0, 0, 128}), tuple_of({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
        pair_of(0, 0), pair_of(-2147483647 - 1, 2147483647), point_of(1.5, -0.25),
        point_of(1e30, -3.0, 0.1), testutil::block_of({pair_of(1, 2), tuple_of({3, 4, 5})}),
    };
    for (bool compact : {true, false})
        for (const Cell& v : values) {
            SCOPED_TRACE(testing::Message() << text_of(v, true) << (compact ? " compact" : " fixed"));
            const Bytes img = encoded(v, compact);
            const Cell back = qelbin::decode(img.data(), img.size());
            EXPECT_EQ(text_of(back, true), text_of(v, true));
            if (cell::type_of(&v) != TYPE_BLOCK) {
                EXPECT_EQ(back.header, v.header);
                EXPECT_TRUE(same_payload(&back, &v));
            }
        }
}

TEST_F(Composite, BadTupleLengthsAreInvalidRecords) {
    const Bytes head = {'Q', 'E', 'L', 'B', 'I', 'N', 2, 1, 1};
    for (uint8_t len : {0, 13}) {
        SCOPED_TRACE(static_cast<int>(len));
        Bytes img = head;
        const Bytes rec = {39 | 0x40, len, 1, 2, 3};
        img.push_back(static_cast<uint8_t>(rec.size()));
        img.insert(img.end(), rec.begin(), rec.end());
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::QB_INVALID_RECORD);
    }
    // A length byte that promises more bytes than follow.
    Bytes img = head;
    const Bytes rec = {39 | 0x40, 6, 1, 2, 3};
    img.push_back(static_cast<uint8_t>(rec.size()));
    img.insert(img.end(), rec.begin(), rec.end());
    EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::QB_INVALID_RECORD);
}

TEST_F(Composite, TripleAndHandleHaveNoRecord) {
    const Cell t = triple_of(1, 2, 3);
    const Cell h = handle_of(5, handle::FD);
    for (const Cell& v : {t, h})
        for (bool compact : {true, false})
            EXPECT_EQ(testutil::raised([&] { encoded(v, compact); }), err::NO_CODEC);
    for (uint8_t type : {TYPE_TRIPLE, TYPE_HANDLE}) {
        const Bytes img = {'Q', 'E', 'L', 'B', 'I', 'N', 2, 1, 1, 1, type};
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::NO_CODEC);
    }
}

TEST_F(Composite, TripleText) {
    const Cell t = triple_of(-2147483647 - 1, 2147483647, -2);
    EXPECT_EQ(text_of(t, false), "make triple! [-2147483648 2147483647 -2]");
    EXPECT_EQ(text_of(t, true), "make triple! [-2147483648 2147483647 -2]");
}

TEST_F(Composite, HandleTextAndComparison) {
    const Cell w = handle_of(0x1A2B, handle::WINDOW);
    EXPECT_EQ(text_of(w, false), "00001A2Bh");
    EXPECT_EQ(text_of(w, true), "handle!");
    EXPECT_EQ(text_of(w, true, true), "#[handle! 00001A2Bh window]");
    const Cell null_handle = handle_of(0xFFFFFFFF, handle::NONE);
    EXPECT_EQ(text_of(null_handle, true, true), "#[handle! FFFFFFFFh]");

    const Cell same_value = testutil::int_cell(0x1A2B);
    EXPECT_FALSE(actions::compare(&w, &same_value, CompareOp::Equal));
    const Cell other = handle_of(0x1A2B, handle::FONT);
    EXPECT_TRUE(actions::compare(&w, &other, CompareOp::Equal));
    EXPECT_TRUE(actions::compare(&null_handle, &w, CompareOp::Lesser));  // -1 orders before 0x1A2B
    // integer!'s actions are not a handle's.
    EXPECT_EQ(datatype::action(TYPE_HANDLE, datatype::ADD), nullptr);
}

// The scans a fake scanner was asked for; it answers error! to each.
std::vector<scan_hook::Scan> asked;
uint32_t refusing_scanner(const Cell*, scan_hook::Scan what, Cell*) {
    asked.push_back(what);
    return TYPE_ERROR;
}

TEST_F(Composite, TextsConvertThroughTheScanHook) {
    EXPECT_NE(scan_hook::scan_text, nullptr) << "the lexer installs it at start-up";
    EXPECT_NE(scan_hook::value_at, nullptr);
    const Cell text = testutil::string_of("1x2");
    Cell out{};
    ASSERT_TRUE(composite::from_text(&text, TYPE_PAIR, &out));
    EXPECT_EQ(text_of(out, true), "1x2");

    auto to_time = datatype::action<datatype::TO>(TYPE_TIME);
    struct Case {
        const char* name;
        std::function<void()> convert;
        scan_hook::Scan first_ask;
        int error;  // raised once the scanner refuses the text
    } cases[] = {
        {"to pair!", [&] { EXPECT_FALSE(composite::from_text(&text, TYPE_PAIR, &out)); }, scan_hook::Scan::Check, 0},
        {"to time!", [&] { to_time(&out, stack::push(&text), TYPE_TIME); }, scan_hook::Scan::FirstType,
         err::BAD_TO_ARG},
    };
    const auto saved = scan_hook::scan_text;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const stack::Saved kept;
        asked.clear();
        scan_hook::scan_text = &refusing_scanner;
        EXPECT_EQ(testutil::raised(c.convert), c.error);
        EXPECT_EQ(asked, std::vector<scan_hook::Scan>{c.first_ask});
        scan_hook::scan_text = nullptr;
        EXPECT_EQ(testutil::raised(c.convert), err::NOT_DONE);
    }
    scan_hook::scan_text = saved;
}

}  // namespace
}  // namespace qel
