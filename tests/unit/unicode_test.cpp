// Unicode codecs: the strict UTF-8 decoders (every ill-formed class, how
// far an ill-formed run reaches, truncation), the encoders, the string
// writers, loading UTF-8 into string buffers (byte order mark, line ends,
// unit choice, ill-formed input), widening in place, and case mapping
// across the cased scripts and the table bounds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/test_support.hpp"

namespace {

using namespace qel;
using Bytes = std::vector<uint8_t>;

// "C3 A9 41" -> {0xC3, 0xA9, 0x41}
Bytes hex(const char* text) {
    Bytes out;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            p++;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

using testutil::raised;

class UnicodeFixture : public testutil::FreshMemory {
protected:

    static std::u32string contents(node_t n) {
        std::u32string out;
        for (uint32_t i = 0; i < series::buffer_length(n); i++) out += static_cast<char32_t>(unicode::codepoint_at(n, i));
        return out;
    }
    static uint32_t unit(node_t n) { return series::unit(series::buffer_of(n)); }
    static Bytes bytes_in(node_t n) {
        SeriesBuffer* s = series::buffer_of(n);
        return Bytes(series::head_ptr(s), series::tail_ptr(s));
    }
    static node_t load(const Bytes& b, bool crlf = false, node_t target = 0) {
        return unicode::load_utf8(b.data(), static_cast<uint32_t>(b.size()), target, crlf).node;
    }
    // A string buffer of the given unit holding the code points.
    static node_t string_of(const std::u32string& cps, uint32_t width) {
        const node_t n = memory::alloc_codepoints(static_cast<uint32_t>(cps.size()), width);
        SeriesBuffer* s = series::buffer_of(n);
        for (char32_t c : cps) {
            uint8_t* at = series::tail_ptr(s);
            if (width == 1) *at = static_cast<uint8_t>(c);
            else if (width == 2) { uint16_t v = static_cast<uint16_t>(c); std::memcpy(at, &v, 2); }
            else { uint32_t v = c; std::memcpy(at, &v, 4); }
            s->tail += width;
        }
        return n;
    }
    static Cell string_value(node_t n, uint32_t index = 0) { return Cell{TYPE_STRING, index, n, 0}; }
};

using UnicodeLoad = UnicodeFixture;
using UnicodeWriters = UnicodeFixture;
using UnicodeWiden = UnicodeFixture;
using UnicodeChangeCase = UnicodeFixture;

// ---- decoding ------------------------------------------------------------------

TEST(UnicodeDecode, OneSequence) {
    using unicode::INCOMPLETE;
    using unicode::INVALID;
    struct Case {
        const char* bytes;
        int32_t result;
        uint32_t size;
    } cases[] = {
        // well-formed, 1 to 4 bytes, at the edges of each length
        {"00", 0, 1}, {"41", 0x41, 1}, {"7F", 0x7F, 1},
        {"C2 80", 0x80, 2}, {"C3 A9 41", 0xE9, 2}, {"DF BF", 0x7FF, 2},
        {"E0 A0 80", 0x800, 3}, {"E2 82 AC", 0x20AC, 3}, {"ED 9F BF", 0xD7FF, 3},
        {"EE 80 80", 0xE000, 3}, {"EF BF BF", 0xFFFF, 3},
        {"F0 90 80 80", 0x10000, 4}, {"F0 9F 98 80", 0x1F600, 4}, {"F3 BF BF BF", 0xFFFFF, 4},
        {"F4 8F BF BF", 0x10FFFF, 4},
        // bytes that never start a sequence: continuations, overlong leads, leads past U+10FFFF
        {"80", INVALID, 1}, {"BF 41", INVALID, 1}, {"C0 AF", INVALID, 1}, {"C0 80", INVALID, 1},
        {"C1 BF", INVALID, 1}, {"F5 80 80 80", INVALID, 1}, {"F7 BF BF BF", INVALID, 1},
        {"F8 88 80 80 80", INVALID, 1}, {"FE", INVALID, 1}, {"FF", INVALID, 1},
        // second bytes excluded after E0 (overlong), ED (surrogates), F0 (overlong), F4 (too big)
        {"E0 80 AF", INVALID, 1}, {"E0 9F BF", INVALID, 1}, {"ED A0 80", INVALID, 1},
        {"ED B0 80", INVALID, 1}, {"ED BF BF", INVALID, 1}, {"F0 80 80 AF", INVALID, 1},
        {"F0 8F BF BF", INVALID, 1}, {"F4 90 80 80", INVALID, 1}, {"F4 BF BF BF", INVALID, 1},
        // a missing continuation ends the run before the byte that breaks it
        {"C2 41", INVALID, 1}, {"C2 C2 80", INVALID, 1}, {"E1 80 41", INVALID, 2},
        {"E2 82 E2", INVALID, 2}, {"F1 80 80 C0", INVALID, 3}, {"F0 90 80 7F", INVALID, 3},
        // cut short by the end, but a valid start
        {"C2", INCOMPLETE, 1}, {"E0", INCOMPLETE, 1}, {"E1 80", INCOMPLETE, 2}, {"E0 A0", INCOMPLETE, 2},
        {"F0 90 80", INCOMPLETE, 3}, {"F4 8F", INCOMPLETE, 2},
        // cut short, and no continuation could have made it valid
        {"E0 80", INVALID, 1}, {"ED A0", INVALID, 1}, {"F4 90", INVALID, 1},
    };
    for (const Case& c : cases) {
        const Bytes b = hex(c.bytes);
        uint32_t size = 99;
        EXPECT_EQ(unicode::decode_one(b.data(), b.data() + b.size(), size), c.result) << c.bytes;
        EXPECT_EQ(size, c.size) << c.bytes;
    }
}

TEST(UnicodeDecode, LenientSteppingReadsOneRunPerCall) {
    // A, overlong C0 AF (two runs: C0 never starts a sequence, AF is a
    // stray continuation), the euro sign, then an emoji cut short.
    const Bytes b = hex("41 C0 AF E2 82 AC F0 9F 98");
    const uint8_t* p = b.data();
    const uint8_t* end = b.data() + b.size();
    std::vector<int32_t> got;
    while (p < end) got.push_back(unicode::decode_utf8(p, end));
    EXPECT_EQ(got, (std::vector<int32_t>{0x41, -1, -1, 0x20AC, -1}));
    EXPECT_EQ(p, end);
}

TEST(UnicodeDecode, CountSkipAndFindAcrossTheAsciiFastPath) {
    // Multi-byte sequences placed on both sides of 8-byte boundaries.
    struct Case {
        std::string text;
        size_t count;
        size_t invalid_at;  // npos when well-formed
    } cases[] = {
        {"", 0, std::string::npos},
        {"1234567", 7, std::string::npos},
        {"1234567\xC3\xA9", 8, std::string::npos},
        {"12345678\xE2\x82\xAC" "abcdefgh", 17, std::string::npos},
        {"abcdefg\xF0\x9F\x98\x80xyz", 11, std::string::npos},
        {"abcdefghi\xC0\xAF", 11, 9},
        {"abcdefgh\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", 13, 8},
        {"\xE2\x82", 1, 0},
    };
    for (const Case& c : cases) {
        const Bytes b = bytes_of(c.text);
        const uint8_t* begin = b.data();
        const uint8_t* end = begin + b.size();
        EXPECT_EQ(unicode::count_utf8(begin, end), c.count) << c.text;
        const uint8_t* bad = unicode::find_invalid_utf8(begin, end);
        EXPECT_EQ(bad ? static_cast<size_t>(bad - begin) : std::string::npos, c.invalid_at) << c.text;
        // Skipping k code points lands where k steps of the decoder do.
        const uint8_t* step = begin;
        for (size_t k = 0; k <= c.count; k++) {
            EXPECT_EQ(unicode::skip_utf8(begin, k, end), step) << c.text << " k=" << k;
            if (step < end) unicode::decode_utf8(step, end);
        }
        EXPECT_EQ(unicode::skip_utf8(begin, c.count + 5, end), end);
    }
}

// ---- encoding ------------------------------------------------------------------

TEST(UnicodeEncode, EveryScalarValueRoundTrips) {
    uint8_t buf[4];
    for (uint32_t cp = 0; cp <= unicode::MAX_CODEPOINT; cp++) {
        if (cp == 0xD800) cp = 0xE000;
        const uint32_t n = unicode::encode_utf8(cp, buf);
        ASSERT_EQ(n, unicode::utf8_size(cp)) << cp;
        uint32_t size;
        ASSERT_EQ(unicode::decode_one(buf, buf + n, size), static_cast<int32_t>(cp)) << cp;
        ASSERT_EQ(size, n) << cp;
    }
}

TEST(UnicodeEncode, SurrogatesAndCodePointsBeyondTheRange) {
    uint8_t buf[4];
    // A lone surrogate has no UTF-8 form: it goes out as U+FFFD, keeping the output valid.
    EXPECT_EQ(unicode::encode_utf8(0xDC00, buf), 3u);
    EXPECT_EQ(Bytes(buf, buf + 3), hex("EF BF BD"));
    EXPECT_EQ(unicode::utf8_size(0xD800), 3u);
    EXPECT_EQ(raised([&] { unicode::encode_utf8(0x110000, buf); }), err::INVALID_CHAR);
    EXPECT_EQ(raised([] { unicode::utf8_size(0xFFFFFFFF); }), err::INVALID_CHAR);
}

TEST(UnicodeEncode, SizeOfUnitsByWidth) {
    const uint8_t latin[] = {'a', 0xE9, 0xFF, 0x7F};
    const uint16_t bmp[] = {'a', 0x7FF, 0x800, 0xFFFF};
    const uint32_t all[] = {'a', 0x10000, 0x10FFFF};
    EXPECT_EQ(unicode::utf8_size_of_units(latin, 4, 1), 6u);
    EXPECT_EQ(unicode::utf8_size_of_units(bmp, 4, 2), 9u);
    EXPECT_EQ(unicode::utf8_size_of_units(all, 3, 4), 9u);
    const uint32_t beyond[] = {'a', 0x110000};
    EXPECT_EQ(raised([&] { unicode::utf8_size_of_units(beyond, 2, 4); }), err::INVALID_CHAR);
}

// ---- writers -------------------------------------------------------------------

TEST_F(UnicodeWriters, WholeAndPartFromTheIndex) {
    const node_t n = string_of(U"a\u00e9\u20ac\U0001F600", 4);
    struct Case {
        uint32_t index;
        int32_t n;
        const char* utf8;
    } cases[] = {
        {0, -1, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {2, -1, "\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {1, 2, "\xC3\xA9\xE2\x82\xAC"},
        {1, 0, ""},
        {3, 9, "\xF0\x9F\x98\x80"},
        {4, -1, ""},
        {7, -1, ""},  // an index past the tail takes nothing
    };
    for (const Case& c : cases) {
        const Cell v = string_value(n, c.index);
        const std::string want = c.utf8;
        EXPECT_EQ(unicode::utf8_length(&v, c.n), want.size()) << c.index;
        uint8_t out[32];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_EQ(unicode::write_utf8(&v, c.n, out, true), want.size()) << c.index;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), want) << c.index;
        const node_t b = unicode::to_utf8(&v, c.n);
        EXPECT_EQ(unit(b), 1u);
        EXPECT_EQ(bytes_in(b), bytes_of(want)) << c.index;
    }
}

// ---- loading UTF-8 ---------------------------------------------------------------

TEST_F(UnicodeLoad, NarrowestUnitThenWidenedByLaterStores) {
    const unicode::Loaded cafe = unicode::load_utf8(hex("63 61 66 C3 A9").data(), 5, 0, false);
    EXPECT_EQ(cafe.count, 4u);
    EXPECT_EQ(unit(cafe.node), 1u);
    EXPECT_EQ(contents(cafe.node), U"caf\u00e9");
    unicode::append_codepoint(cafe.node, 0x20AC);
    EXPECT_EQ(unit(cafe.node), 2u);
    EXPECT_EQ(contents(cafe.node), U"caf\u00e9\u20ac");
    unicode::append_codepoint(cafe.node, 0x1F600);
    EXPECT_EQ(unit(cafe.node), 4u);
    EXPECT_EQ(contents(cafe.node), U"caf\u00e9\u20ac\U0001F600");
}

TEST_F(UnicodeLoad, UnitFollowsTheWidestCodePoint) {
    const struct {
        const char* utf8;
        uint32_t unit;
        std::u32string text;
    } cases[] = {
        {"", 1, U""},
        {"plain ascii text, longer than a word", 1, U"plain ascii text, longer than a word"},
        {"\xC3\xBF", 1, U"\u00ff"},
        {"long ascii prefix then \xC4\x80", 2, U"long ascii prefix then \u0100"},
        {"\xEF\xBF\xBF", 2, U"\uffff"},
        {"x\xF0\x90\x80\x80y\xC3\xA9", 4, U"x\U00010000y\u00e9"},
    };
    for (const auto& c : cases) {
        const node_t n = load(bytes_of(c.utf8));
        EXPECT_EQ(unit(n), c.unit) << c.utf8;
        EXPECT_EQ(contents(n), c.text) << c.utf8;
    }
}

TEST_F(UnicodeLoad, ByteOrderMarkAndLineEnds) {
    // CR LF pairs on both sides of 8-byte boundaries, a lone CR, a final CR.
    const std::string text = "\xEF\xBB\xBF" "0123456\r\n89\r\nb\rcdefghij\r\n\xC3\xA9\r";
    const struct {
        bool crlf;
        std::u32string want;
    } cases[] = {
        {true, U"0123456\n89\nb\ncdefghij\n\u00e9\n"},
        {false, U"0123456\r\n89\r\nb\rcdefghij\r\n\u00e9\r"},
    };
    for (const auto& c : cases) {
        const unicode::Loaded r = unicode::load_utf8(reinterpret_cast<const uint8_t*>(text.data()),
                                                     static_cast<uint32_t>(text.size()), 0, c.crlf);
        EXPECT_EQ(contents(r.node), c.want) << c.crlf;
        EXPECT_EQ(r.count, c.want.size()) << c.crlf;
    }
    // Only the leading mark is dropped.
    EXPECT_EQ(contents(load(hex("EF BB BF"))), U"");
    EXPECT_EQ(contents(load(hex("41 EF BB BF"))), U"A\ufeff");
}

TEST_F(UnicodeLoad, IllFormedInputRaisesAndLeavesTheTargetAlone) {
    const node_t target = load(bytes_of("keep me"));
    for (const char* bad : {"41 C0 AF", "ED A0 80", "F4 90 80 80", "E2 82", "61 62 63 64 65 66 67 68 FF",
                            "F0 9F 98"}) {
        EXPECT_EQ(raised([&] { load(hex(bad), true, target); }), err::INVALID_UTF8) << bad;
        EXPECT_EQ(contents(target), U"keep me") << bad;
        EXPECT_EQ(raised([&] { load(hex(bad)); }), err::INVALID_UTF8) << bad;
    }
}

TEST_F(UnicodeLoad, IntoATargetReplacesItsContentAndNeverNarrows) {
    const node_t wide = string_of(U"\u20ac\u20ac", 2);
    EXPECT_EQ(unicode::load_utf8(reinterpret_cast<const uint8_t*>("abc"), 3, wide, false).node, wide);
    EXPECT_EQ(unit(wide), 2u);
    EXPECT_EQ(contents(wide), U"abc");

    // A small 1-byte target grows and widens for a long 4-byte text.
    const node_t small = string_of(U"x", 1);
    std::string big(1000, 'z');
    big += "\xF0\x9F\x98\x80";
    const unicode::Loaded r = unicode::load_utf8(reinterpret_cast<const uint8_t*>(big.data()),
                                                 static_cast<uint32_t>(big.size()), small, false);
    EXPECT_EQ(r.node, small);
    EXPECT_EQ(r.count, 1001u);
    EXPECT_EQ(unit(small), 4u);
    EXPECT_EQ(unicode::codepoint_at(small, 999), U'z');
    EXPECT_EQ(unicode::codepoint_at(small, 1000), 0x1F600u);
}

TEST_F(UnicodeLoad, FromASeries) {
    const node_t source = memory::alloc_bytes(32);
    const Bytes raw = hex("00 00 63 61 66 C3 A9 0D 0A 78");
    series::append_bytes(source, raw.data(), static_cast<uint32_t>(raw.size()));
    const unicode::Loaded r = unicode::load_utf8_series(source, 2, 8, 0, true);
    EXPECT_EQ(contents(r.node), U"caf\u00e9\nx");
}

// ---- widening ------------------------------------------------------------------

TEST_F(UnicodeWiden, InPlaceOrExpandedKeepingEveryUnit) {
    const std::u32string latin = U"ab\u00e9\u00ff";
    const std::u32string bmp = U"ab\u20ac\uffff";
    const struct {
        std::u32string text;
        uint32_t from, to;
        uint32_t capacity;  // units of room in the original buffer
    } cases[] = {
        {latin, 1, 2, 64}, {latin, 1, 4, 64}, {bmp, 2, 4, 64},
        {latin, 1, 2, 4},  {latin, 1, 4, 4},  {bmp, 2, 4, 4},  // full: must expand
        {U"", 1, 4, 1},
    };
    for (const auto& c : cases) {
        const node_t n = memory::alloc_codepoints(c.capacity, c.from);
        SeriesBuffer* s = series::buffer_of(n);
        for (char32_t ch : c.text) {
            const uint32_t v = ch;
            std::memcpy(series::tail_ptr(s), &v, c.from);  // little-endian low bytes
            s->tail += c.from;
        }
        s = unicode::widen(n, c.to);
        EXPECT_EQ(s, series::buffer_of(n));
        EXPECT_EQ(series::unit(s), c.to);
        EXPECT_EQ(contents(n), c.text);
        EXPECT_GE(s->size - s->tail, c.to) << "one spare unit";
    }
}

TEST_F(UnicodeWiden, HeadOffsetStaysAligned) {
    // A buffer whose head is not at the data start: the head keeps its unit
    // index, so the units stay aligned to their new width.
    const node_t n = memory::alloc_series(64, 1, 3);
    SeriesBuffer* s = series::buffer_of(n);
    std::memcpy(series::tail_ptr(s), "xyz", 3);
    s->tail += 3;
    s = unicode::widen(n, 4);
    EXPECT_EQ(s->head, 12u);
    EXPECT_EQ(contents(n), U"xyz");
}

TEST_F(UnicodeWiden, NeverNarrows) {
    const node_t n = string_of(U"\u20ac", 2);
    unicode::widen(n, 2);
    EXPECT_EQ(unit(n), 2u);
    unicode::ensure_width(n, 'a');
    EXPECT_EQ(unit(n), 2u);
    unicode::ensure_width(n, 0x10000);
    EXPECT_EQ(unit(n), 4u);
    EXPECT_EQ(contents(n), U"\u20ac");
}

// ---- case mapping ----------------------------------------------------------------

TEST(UnicodeCase, EveryCasedScript) {
    const struct {
        uint32_t cp, upper, lower;
    } cases[] = {
        {0x61, 0x41, 0x61}, {0x41, 0x41, 0x61}, {0x7A, 0x5A, 0x7A},           // Basic Latin
        {0xE9, 0xC9, 0xE9}, {0xC9, 0xC9, 0xE9},                               // Latin-1
        {0xFF, 0x178, 0xFF}, {0x178, 0x178, 0xFF}, {0xB5, 0x39C, 0xB5},       // leaving Latin-1
        {0xDF, 0xDF, 0xDF}, {0x1E9E, 0x1E9E, 0xDF},                           // sharp s: no simple upper
        {0x131, 0x49, 0x131}, {0x130, 0x130, 0x69},                           // dotless and dotted i
        {0x1C5, 0x1C4, 0x1C6},                                                // title case DZ caron
        {0x3B1, 0x391, 0x3B1}, {0x3C2, 0x3A3, 0x3C2}, {0x391, 0x391, 0x3B1},  // Greek
        {0x44F, 0x42F, 0x44F}, {0x42F, 0x42F, 0x44F},                         // Cyrillic
        {0x561, 0x531, 0x561},                                                // Armenian
        {0x10D0, 0x1C90, 0x10D0}, {0x1C90, 0x1C90, 0x10D0},                   // Georgian
        {0x13A0, 0x13A0, 0xAB70}, {0xAB70, 0x13A0, 0xAB70},                   // Cherokee
        {0x2C00, 0x2C00, 0x2C30}, {0x2C81, 0x2C80, 0x2C81},                   // Glagolitic, Coptic
        {0x2170, 0x2160, 0x2170}, {0x24D0, 0x24B6, 0x24D0},                   // numerals, circled
        {0xFF41, 0xFF21, 0xFF41}, {0xFF5A, 0xFF3A, 0xFF5A}, {0xFF3A, 0xFF3A, 0xFF5A},  // fullwidth
        {0x10428, 0x10400, 0x10428}, {0x10400, 0x10400, 0x10428},             // Deseret
        {0x104D8, 0x104B0, 0x104D8}, {0x10CC0, 0x10C80, 0x10CC0},             // Osage, Old Hungarian
        {0x118C0, 0x118A0, 0x118C0}, {0x16E60, 0x16E40, 0x16E60},             // Warang Citi, Medefaidrin
        {0x1E922, 0x1E900, 0x1E922},                                          // Adlam
        {0x1E943, 0x1E921, 0x1E943}, {0x1E921, 0x1E921, 0x1E943},             // last supplementary pair
        // nothing to map, at and beyond the table edges
        {0x31, 0x31, 0x31}, {0x4E00, 0x4E00, 0x4E00}, {0xFFFF, 0xFFFF, 0xFFFF},
        {0x10000, 0x10000, 0x10000}, {0x1E944, 0x1E944, 0x1E944}, {0x1F600, 0x1F600, 0x1F600},
        {0x1FFFF, 0x1FFFF, 0x1FFFF}, {0x20000, 0x20000, 0x20000}, {0x10FFFF, 0x10FFFF, 0x10FFFF},
        {0x110000, 0x110000, 0x110000}, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unicode::to_upper(c.cp), c.upper) << std::hex << c.cp;
        EXPECT_EQ(unicode::to_lower(c.cp), c.lower) << std::hex << c.cp;
        EXPECT_EQ(unicode::case_of(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(unicode::case_of(c.cp, false), c.lower) << std::hex << c.cp;
    }
}

TEST(UnicodeCase, TablesHoldExactlyTheGeneratedPairs) {
    // Catches blocks shared wrongly or cut off by the two-stage packing.
    uint32_t upper_bmp = 0, upper_supp = 0, lower_bmp = 0, lower_supp = 0;
    for (uint32_t cp = 0; cp < 0x110000; cp++) {
        const bool bmp = cp < 0x10000;
        if (unicode::to_upper(cp) != cp) (bmp ? upper_bmp : upper_supp)++;
        if (unicode::to_lower(cp) != cp) (bmp ? lower_bmp : lower_supp)++;
        // Nothing maps across the BMP boundary, so a 2-byte string stays 2-byte.
        ASSERT_EQ(unicode::to_upper(cp) < 0x10000, bmp) << cp;
        ASSERT_EQ(unicode::to_lower(cp) < 0x10000, bmp) << cp;
    }
    EXPECT_EQ(upper_bmp, unicode::tables::UPPER_PAIRS_BMP);
    EXPECT_EQ(upper_supp, unicode::tables::UPPER_PAIRS_SUPPLEMENTARY);
    EXPECT_EQ(lower_bmp, unicode::tables::LOWER_PAIRS_BMP);
    EXPECT_EQ(lower_supp, unicode::tables::LOWER_PAIRS_SUPPLEMENTARY);
}

TEST_F(UnicodeChangeCase, RangeAndWidening) {
    const struct {
        std::u32string text;
        uint32_t width;
        uint32_t index, count;
        bool upper;
        std::u32string want;
        uint32_t unit;
    } cases[] = {
        {U"abc", 1, 0, 3, true, U"ABC", 1},
        {U"\u00ffabc", 1, 0, 99, true, U"\u0178ABC", 2},  // count clipped to the tail
        {U"\u00b5ab", 1, 1, 1, true, U"\u00b5Ab", 1},     // only the range is looked at
        {U"\u00b5ab", 1, 0, 1, true, U"\u039cab", 2},
        {U"ABC", 1, 5, 2, false, U"ABC", 1},               // index past the tail
        {U"\u0410\u0411", 2, 0, 2, false, U"\u0430\u0431", 2},
        {U"a\U00010400", 4, 0, 2, false, U"a\U00010428", 4},
    };
    for (const auto& c : cases) {
        const node_t n = string_of(c.text, c.width);
        unicode::change_case(n, c.index, c.count, c.upper);
        EXPECT_EQ(contents(n), c.want);
        EXPECT_EQ(unit(n), c.unit);
    }
}

}  // namespace
