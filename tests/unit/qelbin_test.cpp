// QELBIN: exact bytes of the short forms, round trips in both encodings,
// shared and cyclic structure, and the errors of truncated and damaged
// images (language errors, never a fault).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "codecs/lz.hpp"
#include "codecs/qelbin.hpp"
#include "datatypes/money.hpp"
#include "datatypes/object.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/unicode.hpp"
#include "qelbin_support.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

using testutil::Bytes;
using testutil::encoded;

Cell number(uint32_t type, double d) {
    Cell c{type, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}

// The records area of a compact image without symbols.
Bytes records(const Bytes& img) { return Bytes(img.begin() + 10, img.end()); }

bool same_value(const Cell& a, const Cell& b, int depth = 0) {
    const uint32_t t = cell::type_of(&a);
    if (t != cell::type_of(&b) || depth > 20) return t == cell::type_of(&b);
    switch (t) {
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double x = cell::get_double(&a), y = cell::get_double(&b);
            return std::memcmp(&x, &y, 8) == 0;
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_LIT_PATH: {
            const node_t x = series_node(a), y = series_node(b);
            if (series_index(a) != series_index(b) || series::cell_count(x) != series::cell_count(y)) return false;
            for (uint32_t i = 0; i < series::cell_count(x); i++)
                if (!same_value(series::cells_of(x)[i], series::cells_of(y)[i], depth + 1)) return false;
            return true;
        }
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BITSET: {
            SeriesBuffer* x = series::buffer_of(series_node(a));
            SeriesBuffer* y = series::buffer_of(series_node(b));
            return series_index(a) == series_index(b) && x->tail - x->head == y->tail - y->head &&
                   series::unit(x) == series::unit(y) &&
                   std::memcmp(series::head_ptr(x), series::head_ptr(y), x->tail - x->head) == 0 &&
                   (x->flags & series_flag::NOT) == (y->flags & series_flag::NOT);
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_GET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_REFINEMENT:
        case TYPE_ISSUE: return word_symbol(a) == word_symbol(b);
        case TYPE_OBJECT: {
            const node_t x = object_context(a), y = object_context(b);
            const uint32_t n = context::word_count(x);
            if (n != context::word_count(y)) return false;
            for (uint32_t i = 0; i < n; i++)
                if (!same_value(*context::slot_at(x, i), *context::slot_at(y, i), depth + 1)) return false;
            return true;
        }
        default: return std::memcmp(&a, &b, sizeof(Cell)) == 0;
    }
}

class Qelbin : public testutil::StartedRuntime {};

TEST_F(Qelbin, ExactBytesOfIntegers) {
    const Bytes magic = {0x51, 0x45, 0x4C, 0x42, 0x49, 0x4E, 0x02, 0x01, 0x01};
    struct Case {
        int32_t v;
        Bytes tail;
    } cases[] = {
        {63, {0x01, 0xBF}},
        {64, {0x03, 0x0B, 0x80, 0x01}},
        {-1, {0x02, 0x0B, 0x01}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v);
        Bytes want = magic;
        want.insert(want.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(encoded(testutil::int_cell(c.v), true), want);
    }
}

TEST_F(Qelbin, CompactRecordsOfNumbersAndText) {
    struct Case {
        const char* name;
        Cell v;
        Bytes rec;
    } cases[] = {
        {"25%", number(TYPE_PERCENT, 0.25), {0x66, 0x32}},
        {"12.5% takes the long form", number(TYPE_PERCENT, 0.125), {0x26, 0, 0, 0, 0, 0, 0, 0xC0, 0x3F}},
        {"0.0", number(TYPE_FLOAT, 0.0), {0x4C, 0x00}},
        {"-0.0", number(TYPE_FLOAT, -0.0), {0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"\"abc\"", testutil::string_of("abc"), {0x07, 0x0C, 'a', 'b', 'c'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(records(encoded(c.v, true)), c.rec);
    }
}

TEST_F(Qelbin, EveryExistingTypeRoundTripsInBothModes) {
    Cell ts{TYPE_TYPESET, 0x00000820, 0, 0x80000000};
    const node_t bits = memory::alloc_bytes_filled(2, 0);
    series::append_bytes(bits, "\x81\x02", 2);
    const Cell values[] = {
        testutil::int_cell(0), testutil::int_cell(-2147483647 - 1), testutil::int_cell(1000000),
        testutil::logic_cell(true), testutil::logic_cell(false), testutil::none_cell(), Cell{TYPE_UNSET, 0, 0, 0},
        testutil::datatype_of(TYPE_BLOCK), testutil::character(0x1F600), number(TYPE_FLOAT, 1.5),
        number(TYPE_FLOAT, 1e300), number(TYPE_FLOAT, -7.0), number(TYPE_PERCENT, 0.125), ts,
        testutil::string_of("hello"), testutil::at_index(testutil::string_of("hello"), 2),
        testutil::word_cell("foo"), testutil::word_cell("foo", TYPE_SET_WORD),
        testutil::word_cell("foo", TYPE_REFINEMENT), Cell{TYPE_BITSET, 0, bits, 0},
        testutil::block_of({testutil::int_cell(1), testutil::string_of("x"), testutil::block_of({})}),
        testutil::block_of({testutil::word_cell("a"), testutil::word_cell("b")}, TYPE_PATH),
        testutil::at_index(testutil::block_of({testutil::int_cell(1), testutil::int_cell(2)}, TYPE_PAREN), 1),
    };
    for (bool compact : {true, false})
        for (const Cell& v : values) {
            SCOPED_TRACE(testing::Message() << "type " << cell::type_of(&v) << (compact ? " compact" : " fixed"));
            const Bytes img = encoded(v, compact);
            const Cell back = qelbin::decode(img.data(), img.size());
            EXPECT_TRUE(same_value(v, back));
        }
}

Cell money_cell(money::Amount v, uint8_t currency) {
    Cell c;
    return *money::store(&c, v, currency);
}

// A money! record is the currency byte and the 11 digit bytes; the sign is
// the compact short-form flag or bit 22 of a fixed header.
TEST_F(Qelbin, MoneyRecordsCarryTheSignCurrencyAndDigits) {
    const Bytes digits_1_5 = {0, 0, 0, 0, 0, 0, 0, 0, 0x15, 0, 0};
    Bytes negative = {0x40 | TYPE_MONEY, 3};
    negative.insert(negative.end(), digits_1_5.begin(), digits_1_5.end());
    EXPECT_EQ(records(encoded(money_cell(-150000, 3), true)), negative);
    Bytes positive = {TYPE_MONEY, 0};
    positive.insert(positive.end(), digits_1_5.begin(), digits_1_5.end());
    EXPECT_EQ(records(encoded(money_cell(150000, 0), true)), positive);
    const Bytes fixed = encoded(money_cell(-150000, 3), false);
    const Bytes header = {TYPE_MONEY, 0, 0x40, 0};  // type 49 and bit 22, little-endian
    EXPECT_NE(std::search(fixed.begin(), fixed.end(), header.begin(), header.end()), fixed.end());

    const money::Amount largest = money::Amount(10000000000000000) * 1000000 - 1;
    const Cell values[] = {money_cell(0, 0), money_cell(150000, 0), money_cell(-150000, 3),
                           money_cell(largest, 255), money_cell(-largest, 170), money_cell(1, 1)};
    for (bool compact : {true, false})
        for (const Cell& v : values) {
            SCOPED_TRACE(testing::Message() << (compact ? "compact " : "fixed ") << money::to_float(&v));
            const Bytes img = encoded(v, compact);
            const Cell back = qelbin::decode(img.data(), img.size());
            EXPECT_TRUE(same_value(v, back));
        }
}

// file!, url!, tag!, email! and ref! are string records under their own
// type ids: the same payload as string!, in each unit width, and a buffer
// shared between two text types stays shared.
TEST_F(Qelbin, TheStringKindsAreStringRecordsOfTheirOwnType) {
    const uint32_t kinds[] = {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF};
    for (uint32_t t : kinds) {
        SCOPED_TRACE(testing::Message() << "type " << t);
        EXPECT_EQ(records(encoded(testutil::string_of("abc", t), true)), (Bytes{static_cast<uint8_t>(t), 0x0C, 'a', 'b', 'c'}));
        for (uint32_t width : {1u, 2u, 4u})
            for (bool compact : {true, false}) {
                SCOPED_TRACE(testing::Message() << "width " << width << (compact ? " compact" : " fixed"));
                Cell v = testutil::at_index(testutil::string_of("a b/c", t), 1);
                if (width > 1) unicode::widen(series_node(v), width);
                const Bytes img = encoded(v, compact);
                const Cell back = qelbin::decode(img.data(), img.size());
                EXPECT_TRUE(same_value(v, back));
            }
    }
    const Cell f = testutil::string_of("x/y", TYPE_FILE);
    Cell u = f;
    cell::set_type(&u, TYPE_URL);
    for (bool compact : {true, false}) {
        const Bytes img = encoded(testutil::block_of({f, u}), compact);
        const Cell back = qelbin::decode(img.data(), img.size());
        ASSERT_EQ(cell::type_of(&back), TYPE_BLOCK);
        const Cell* cells = series::cells_of(series_node(back));
        EXPECT_EQ(cell::type_of(&cells[0]), TYPE_FILE);
        EXPECT_EQ(cell::type_of(&cells[1]), TYPE_URL);
        EXPECT_EQ(series_node(cells[0]), series_node(cells[1]));
    }
}

TEST_F(Qelbin, ABlockThatContainsItselfStaysCyclic) {
    const Cell b = testutil::block_of({testutil::int_cell(7)});
    *series::reserve_cell(&b) = b;
    for (bool compact : {true, false}) {
        const Bytes img = encoded(b, compact);
        const Cell back = qelbin::decode(img.data(), img.size());
        ASSERT_EQ(cell::type_of(&back), TYPE_BLOCK);
        ASSERT_EQ(series::cell_count(series_node(back)), 2u);
        EXPECT_EQ(series_node(series::cells_of(series_node(back))[1]), series_node(back));
    }
}

TEST_F(Qelbin, TwoWordsOfOneObjectShareTheObject) {
    Cell* obj = stack::push_slot();
    object::make_at_empty(obj, 1);
    const Cell a = testutil::word_cell("a");
    context::add_symbol(object_context(obj), &a);
    *context::slot_at(object_context(obj), 0) = testutil::int_cell(42);
    const Cell w{TYPE_WORD, object_context(obj), static_cast<uint32_t>(word_symbol(a)), 0};
    const Cell blk = testutil::block_of({w, w, *obj});
    for (bool compact : {true, false}) {
        const Bytes img = encoded(blk, compact);
        const Cell back = qelbin::decode(img.data(), img.size());
        const Cell* cells = series::cells_of(series_node(back));
        ASSERT_EQ(cell::type_of(&cells[0]), TYPE_WORD);
        EXPECT_NE(word_context(cells[0]), context::global);
        EXPECT_EQ(word_context(cells[0]), word_context(cells[1]));
        EXPECT_EQ(object_context(cells[2]), word_context(cells[0]));
        EXPECT_EQ(integer_value(context::slot_at(word_context(cells[0]), 0)), 42);
    }
}

TEST_F(Qelbin, ShortInputIsInvalidData) {
    const Bytes img = encoded(testutil::int_cell(63), true);
    for (size_t n = 0; n < 11; n++)
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), n); }), err::INVALID_DATA) << n;
    const Bytes bad = {'Q', 'E', 'L', 'B', 'I', 'X', 2, 1, 1, 1, 0xBF};
    EXPECT_EQ(testutil::raised([&] { qelbin::decode(bad.data(), bad.size()); }), err::INVALID_DATA);
}

TEST_F(Qelbin, BadRecordBytesReportTheirPosition) {
    struct Case {
        const char* name;
        Bytes rec;
    } cases[] = {
        {"type 0", {0x00}},
        {"invalid byte", {0xC7}},
        {"prefix before whole record", {0xC1, 0x85}},
        {"assignment outside the boot image", {0xC4, 0x0F}},
        {"string width code 3", {0x07, 0x03}},
        {"empty path", {0xFF, 0x00}},
        {"type without values yet", {0x23, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes img = {'Q', 'E', 'L', 'B', 'I', 'N', 2, 1, 1, static_cast<uint8_t>(c.rec.size())};
        img.insert(img.end(), c.rec.begin(), c.rec.end());
        while (img.size() < 11) img.push_back(0);
        sys.pending_error = 0;
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(img.data(), img.size()); }), err::QB_INVALID_RECORD);
    }
    // The position is 1-based from the magic: the record starts at byte 11.
    Bytes img = {'Q', 'E', 'L', 'B', 'I', 'N', 2, 1, 1, 1, 0xC7};
    Cell error{};
    stack::Saved saved;
    stack::mark_try(nullptr);
    try {
        qelbin::decode(img.data(), img.size());
    } catch (const NonLocalExit&) {
        error = *stack::top();  // the thrower leaves it on top
    }
    ASSERT_EQ(err::code_of(&error), err::QB_INVALID_RECORD);
    const Cell arg = err::field(&error, err::F_ARG1);
    EXPECT_EQ(cell::type_of(&arg), TYPE_INTEGER);
    EXPECT_EQ(integer_value(arg), 11);
}

// A block holding a string, a word, a float, a block and itself, in both
// encodings.
std::vector<Bytes> damage_samples() {
    const Cell b = testutil::block_of({testutil::string_of("abc"), testutil::word_cell("w"), number(TYPE_FLOAT, 2.5),
                                       testutil::block_of({testutil::int_cell(900)})});
    *series::reserve_cell(&b) = b;
    return {encoded(b, true), encoded(b, false)};
}

// Every record is needed: an image cut anywhere, even inside the header,
// raises a language error (raised() also checks that the exit is an error
// and not another kind).
TEST_F(Qelbin, TruncatedImagesRaiseLanguageErrors) {
    for (const Bytes& img : damage_samples())
        for (size_t n = 0; n < img.size(); n++)
            EXPECT_NE(testutil::raised([&] { qelbin::decode(img.data(), n); }), 0) << n << " of " << img.size();
}

// A changed byte may still spell a valid image (the reader does not check
// the version byte, and a changed string or number is another value), so
// the honest claim is: a language error, or a value of a known type that
// can be molded (again without anything but a language error).
TEST_F(Qelbin, DamagedImagesRaiseLanguageErrorsOrDecodeToValues) {
    int errors = 0, values = 0;
    for (const Bytes& img : damage_samples())
        for (size_t i = 0; i < img.size(); i++)
            for (uint8_t x : {0x01, 0x80, 0xFF}) {
                Bytes c = img;
                c[i] ^= x;
                Cell v{};
                if (testutil::raised([&] { v = qelbin::decode(c.data(), c.size()); })) {
                    errors++;
                    continue;
                }
                values++;
                EXPECT_GE(cell::type_of(&v), 1u) << i << " ^ " << int{x};
                EXPECT_LE(cell::type_of(&v), datatype::highest()) << i << " ^ " << int{x};
                testutil::raised([&] {
                    const node_t out = text::make_buffer(64);
                    actions::mold(&v, out, datatype::MoldOptions{.all = true}, INT32_MAX, 0);
                });
            }
    // Both outcomes occur in these samples: the header and the magic are
    // refused, while changed string bytes decode.
    EXPECT_GT(errors, 0);
    EXPECT_GT(values, 0);
}

// An image whose bytes after the flags are one LZ stream reads as the
// plain image does; a damaged stream is invalid data.
TEST_F(Qelbin, CompressedImagesAreUnpackedFirst) {
    const Cell b = testutil::block_of({});
    for (int i = 0; i < 40; i++) {
        const Cell s = testutil::string_of("the same text again and again");
        *series::reserve_cell(&b) = s;
    }
    for (bool compact : {true, false}) {
        const Bytes img = encoded(b, compact);
        Bytes packed(img.size());
        const int64_t n = lzcomp::pack(img.data() + 8, img.size() - 8, packed.data(), packed.size());
        ASSERT_GT(n, 0);
        Bytes z(img.begin(), img.begin() + 8);
        z[7] |= 2;
        z.insert(z.end(), packed.begin(), packed.begin() + n);
        EXPECT_TRUE(same_value(qelbin::decode(z.data(), z.size()), b)) << compact;
        Bytes cut(z.begin(), z.end() - 4);
        EXPECT_EQ(testutil::raised([&] { qelbin::decode(cut.data(), cut.size()); }), err::INVALID_DATA);
    }
    // A stream that unpacks to nothing (found by the fuzzer).
    const Bytes empty = {'Q', 'E', 'L', 'B', 'I', 'N', 8, 2, 0, 0, 0, 0, 0, 0, 0, 0, 'B', 'Q', 'E', 'L', 'B', 'I', 'N', '@', 'Q'};
    EXPECT_EQ(testutil::raised([&] { qelbin::decode(empty.data(), empty.size()); }), err::INVALID_DATA);
}

}  // namespace
}  // namespace qel
