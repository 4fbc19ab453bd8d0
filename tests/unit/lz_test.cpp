// LZ codec of serialized data: exact streams for inputs whose tokens can be
// worked out by hand (runs, repeats, the distance and length code borders,
// the chain walk, its distance penalty and the far short-match rule), round
// trips from empty to several chunks, and containers that are corrupt or
// cut short, handed over in blocks of exactly their size so that the
// sanitizers see any read past the end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codecs/lz.hpp"
#include "runtime/heap.hpp"

namespace {

using namespace qel;
using Bytes = std::vector<uint8_t>;

// ---- an encoder of token lists, written apart from the codec ----------

struct Token {
    uint32_t length;    // 0 for a literal
    uint32_t distance;
    uint8_t byte;
};
Token lit(uint8_t b) { return {0, 0, b}; }
Token match(uint32_t length, uint32_t distance) { return {length, distance, 0}; }

struct Bits {
    std::vector<int> bits;
    void put(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) bits.push_back(int(v >> i) & 1);
    }
    void zeros_then_one(unsigned zeros) {
        for (unsigned i = 0; i < zeros; ++i) bits.push_back(0);
        bits.push_back(1);
    }
    Bytes bytes() const {
        Bytes out((bits.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i) out[i / 8] |= uint8_t(bits[i] << (i % 8));
        return out;
    }
};

void put_u32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

Bytes chunk_bytes(const std::vector<Token>& tokens) {
    Bits s;
    uint32_t produced = 0;
    for (const Token& t : tokens) {
        if (t.length == 0) {
            s.put(0, 1);
            s.put(t.byte, 8);
            ++produced;
            continue;
        }
        s.put(1, 1);
        const uint32_t n = t.length - 3;
        struct Band { uint32_t below, base; unsigned zeros, extra; };
        static const Band bands[] = {{4, 0, 0, 2}, {8, 4, 1, 2}, {12, 8, 2, 2}, {20, 12, 3, 3}, {52, 20, 4, 5}};
        bool done = false;
        for (const Band& b : bands)
            if (n < b.below) {
                s.zeros_then_one(b.zeros);
                s.put(n - b.base, b.extra);
                done = true;
                break;
            }
        if (!done) {
            s.put(0, 5);
            s.put(n - 52, 9);
        }
        const uint32_t d = t.distance - 1;
        unsigned j = 2;
        while (d >= (2u << j)) ++j;
        s.put(j - 2, 4);
        s.put(j == 2 ? d : d - (1u << j), j == 2 ? 3 : j);
        produced += t.length;
    }
    Bytes out;
    put_u32(out, produced);
    const Bytes body = s.bytes();
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes container(const std::vector<std::vector<Token>>& chunks, std::optional<uint32_t> unpacked = {}) {
    Bytes data;
    uint32_t total = 0;
    for (const auto& c : chunks) {
        const Bytes b = chunk_bytes(c);
        total += uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        data.insert(data.end(), b.begin(), b.end());
    }
    Bytes out;
    put_u32(out, uint32_t(data.size()));
    put_u32(out, unpacked.value_or(total));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Tokens of a run of `count` equal bytes that the compressor starts fresh:
// one literal, then matches one byte back; a tail under 3 stays literal.
void run_tokens(std::vector<Token>& t, uint8_t b, uint32_t count) {
    t.push_back(lit(b));
    uint32_t left = count - 1;
    while (left >= 3) {
        const uint32_t n = std::min<uint32_t>(566, left);
        t.push_back(match(n, 1));
        left -= n;
    }
    while (left--) t.push_back(lit(b));
}

// ---- calling the codec -------------------------------------------------

// Room for the stream of any input.
Bytes pack(const Bytes& in) {
    Bytes out(in.size() + in.size() / 8 + 64);
    const int64_t n = lzcomp::pack(in.data(), in.size(), out.data(), out.size());
    EXPECT_GE(n, 8);
    out.resize(size_t(std::max<int64_t>(n, 0)));
    return out;
}

// The container is copied into a block of exactly its size; the answer is
// copied out and the tracked block given back.
std::optional<Bytes> decompress(const Bytes& in, size_t length) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[std::max<size_t>(length, 1)]);
    if (length) std::memcpy(exact.get(), in.data(), length);
    const size_t blocks = heap::count();
    uint32_t out_len = 12345;
    uint8_t* out = lzcomp::decompress(exact.get(), length, &out_len);
    if (!out) {
        EXPECT_EQ(out_len, 0u);
        EXPECT_EQ(heap::count(), blocks) << "a refused container leaves no block behind";
        return std::nullopt;
    }
    EXPECT_EQ(heap::count(), blocks + 1);
    Bytes result(out, out + out_len);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[out_len + i], 0) << "spare byte " << i;
    heap::free(out);
    return result;
}
std::optional<Bytes> decompress(const Bytes& in) { return decompress(in, in.size()); }

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes from_hex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return b;
}

// Deterministic noise (xorshift), so failures repeat.
Bytes noise(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed;
    for (auto& c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = uint8_t(x >> 11);
    }
    return b;
}

// Words from a small vocabulary: long chains in the 4-byte hash and many
// matches of middling length, like molded source or serialized blocks.
Bytes prose(size_t n, uint32_t seed) {
    static const char* words[] = {"block ", "word ", "func ", "[a b c] ", "make object! ", "print ", "either ",
                                  "none ", "12345 ", "\"text\" ", "foreach ", "series ", "#{DEADBEEF} ", "\n"};
    Bytes b;
    const Bytes r = noise(n, seed);
    for (size_t i = 0; b.size() < n; ++i) {
        const char* w = words[r[i % n] % 14];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

Bytes distinct(uint32_t n, uint8_t first = 0) {
    Bytes b(n);
    for (uint32_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<Token> literals(const Bytes& b) {
    std::vector<Token> t;
    for (uint8_t c : b) t.push_back(lit(c));
    return t;
}

// ---- exact streams -------------------------------------------------------

TEST(LzExact, RunOfOneByteIsALiteralThenLongestOverlappingMatches) {
    EXPECT_EQ(pack(Bytes(1000, 'a')), from_hex("0b000000e8030000e8030000c282ff80402f00"));
    EXPECT_EQ(pack(Bytes(128, 'a')), from_hex("080000008000000080000000c2022400"));
}

TEST(LzExact, PackedFormMayFillTheDestinationExactly) {
    // 8 + 3 + 1 bytes.
    Bytes in = Bytes(128, 'a');
    Bytes out(16);
    EXPECT_EQ(lzcomp::pack(in.data(), in.size(), out.data(), 16), 16);
    EXPECT_EQ(lzcomp::pack(in.data(), in.size(), out.data(), 15), -1);
    EXPECT_EQ(lzcomp::pack(in.data(), in.size(), out.data(), 7), -1);
}

struct ExactCase {
    const char* name;
    Bytes input;
    std::vector<Token> tokens;
};

std::vector<Token> operator+(std::vector<Token> a, const std::vector<Token>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<ExactCase> exact_cases() {
    std::vector<ExactCase> cases;
    // A period of D distinct bytes repeated: literals, then one match D back.
    for (uint32_t d : {1u, 2u, 3u, 7u, 8u, 9u, 16u, 17u, 32u, 33u, 64u, 65u, 128u, 129u, 255u, 256u}) {
        const Bytes period = distinct(d, 1);
        Bytes in;
        while (in.size() < d + 200) in.insert(in.end(), period.begin(), period.end());
        in.resize(d + 200);
        cases.push_back({"period", in, literals(period) + std::vector<Token>{match(200, d)}});
    }
    // Every border of the length code, at distance 10.
    for (uint32_t len : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 565u, 566u}) {
        const Bytes period = distinct(10, 0x40);
        Bytes in = period;
        for (uint32_t i = 0; i < len; ++i) in.push_back(period[i % 10]);
        cases.push_back({"length", in, literals(period) + std::vector<Token>{match(len, 10)}});
    }
    // Past 566 the match is cut and the rest starts a new one.
    {
        const Bytes period = distinct(10, 0x40);
        Bytes in = period;
        for (uint32_t i = 0; i < 600; ++i) in.push_back(period[i % 10]);
        cases.push_back({"split", in, literals(period) + std::vector<Token>{match(566, 10), match(34, 10)}});
    }
    // The most recent "abc" matches 3 bytes; the 4-byte chain finds the
    // older "abcde" and its 5 bytes win.
    cases.push_back({"chain", text("abcdefghabczijkabcde"),
                     literals(text("abcdefgh")) + std::vector<Token>{match(3, 8)} + literals(text("zijk")) +
                         std::vector<Token>{match(5, 15)}});
    // One byte more, far away, does not pay for a distance more than 16
    // times the near one (penalty 1); just inside that reach it does.
    {
        const Bytes far = text("abcdefg"), near = text("abcdeQ"), now = text("abcdefR");
        const Bytes fill105 = distinct(105, 0x80), fill90 = distinct(90, 0x80);
        cases.push_back({"penalty", cat({far, fill105, near, now}),
                         literals(far) + literals(fill105) +
                             std::vector<Token>{match(5, 112), lit('Q'), match(5, 6), lit('f'), lit('R')}});
        cases.push_back({"no penalty", cat({far, fill90, near, now}),
                         literals(far) + literals(fill90) +
                             std::vector<Token>{match(5, 97), lit('Q'), match(6, 103), lit('R')}});
        // 50 times the near distance costs 1 byte, not 2: two bytes more
        // 804 back beat the match 6 back.
        const Bytes far7 = text("abcdefgX"), now7 = text("abcdefgR");
        std::vector<Token> t = literals(far7);
        run_tokens(t, 0, 790);
        t = t + std::vector<Token>{match(5, 798), lit('Q'), match(7, 804), lit('R')};
        cases.push_back({"penalty of one", cat({far7, Bytes(790, 0), near, now7}), t});
    }
    // The chain walk stops after 256 candidates: the one match of 12 lies
    // 257 steps down the "abcd" chain, behind 256 copies of "abcdY".
    {
        Bytes in = text("abcdZZZZZZZZ");
        for (int i = 0; i < 256; ++i) in = cat({in, text("abcdY")});
        in = cat({in, text("#abcdZZZZZZZZ")});
        cases.push_back({"chain bound", in,
                         literals(text("abcdZ")) +
                             std::vector<Token>{match(7, 1), match(4, 12), lit('Y'), match(566, 5), match(566, 5),
                                                match(143, 5), lit('#'), match(4, 6), match(8, 1293)}});
    }
    // A 3-byte match is worth its bits only up to 65536 back; a 4-byte one
    // is taken at any distance in the window.
    for (uint32_t zeros : {65533u, 65534u}) {
        std::vector<Token> t = literals(text("xyz"));
        run_tokens(t, 0, zeros);
        if (zeros == 65533)
            t.push_back(match(3, 65536));
        else
            t = t + literals(text("xyz"));
        cases.push_back({"far short match", cat({text("xyz"), Bytes(zeros, 0), text("xyz")}), t});
    }
    {
        std::vector<Token> t = literals(text("xyzw"));
        run_tokens(t, 0, 70000);
        t.push_back(match(4, 70004));
        cases.push_back({"far long match", cat({text("xyzw"), Bytes(70000, 0), text("xyzw")}), t});
    }
    // The window ends 262144 bytes back, the farthest distance code.
    for (uint32_t zeros : {262140u, 262141u}) {
        std::vector<Token> t = literals(text("abcd"));
        run_tokens(t, 0, zeros);
        if (zeros == 262140)
            t.push_back(match(4, 262144));
        else
            t = t + literals(text("abcd"));
        cases.push_back({"window edge", cat({text("abcd"), Bytes(zeros, 0), text("abcd")}), t});
    }
    return cases;
}

TEST(LzExact, StreamsOfHandWorkedTokens) {
    for (const ExactCase& c : exact_cases()) {
        SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(c.input.size()) + " bytes");
        const Bytes expected = container({c.tokens});
        EXPECT_EQ(pack(c.input), expected);
        EXPECT_EQ(decompress(expected), c.input);
    }
}

TEST(LzExact, ChunksStartAfresh) {
    // The second chunk repeats the first byte for byte, yet begins with
    // literals: nothing reaches back across a chunk border.
    const Bytes period = distinct(200, 1);
    Bytes in;
    while (in.size() < (1u << 20) + 300) in.insert(in.end(), period.begin(), period.end());
    in.resize((1u << 20) + 300);
    const Bytes out = pack(in);
    const Bytes rotated(in.begin() + (1 << 20), in.begin() + (1 << 20) + 200);
    std::vector<Token> first = literals(period), second = literals(rotated);
    uint32_t left = (1u << 20) - 200;
    while (left) {
        const uint32_t n = std::min<uint32_t>(566, left);
        first.push_back(match(n, 200));
        left -= n;
    }
    second.push_back(match(100, 200));
    EXPECT_EQ(out, container({first, second}));
    EXPECT_EQ(decompress(out), in);
}

// ---- round trips ---------------------------------------------------------

TEST(LzRoundTrip, TableOfInputs) {
    Bytes mixed = cat({prose(400000, 3), noise(300000, 4), Bytes(500000, 0xFF), prose(1 << 20, 5)});
    const struct {
        const char* name;
        Bytes input;
    } cases[] = {
        {"empty", {}},
        {"one byte", {0x5A}},
        {"two bytes", text("ab")},
        {"short text", text("the rain in the plain, the rain in the plain")},
        {"128 repeated", Bytes(128, 0)},
        {"repetitive", Bytes(300000, 'q')},
        {"random", noise(5000, 1)},
        {"random 1 MB", noise(1 << 20, 2)},
        {"prose 1 MB", prose(1 << 20, 6)},
        {"exactly one chunk", prose(1 << 20, 7)},
        {"one chunk and a byte", prose((1 << 20) + 1, 8)},
        {"several chunks", mixed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decompress(pack(c.input)), c.input);
    }
}

TEST(LzRoundTrip, HandBuiltContainersOfLiterals) {
    // Streams of literals only, chunked by hand, read back.
    const Bytes r = noise(3000, 9);
    const struct {
        const char* name;
        Bytes container, expected;
    } cases[] = {
        {"empty", container({}), {}},
        {"one byte", container({{lit(7)}}), {7}},
        {"random", container({literals(r)}), r},
        {"two chunks", container({literals(text("ab")), {lit('c'), match(5, 1)}}), text("abcccccc")},
        {"three chunks of one", container({{lit(1)}, {lit(2)}, {lit(3)}}), {1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decompress(c.container), c.expected);
    }
}

TEST(LzRoundTrip, BytesAfterThePackedDataAreNotRead) {
    Bytes in = cat({container({{lit('x'), lit('y'), match(4, 2)}}), Bytes{0xFF, 0xFF, 0xFF}});
    EXPECT_EQ(decompress(in), text("xyxyxy"));
}

// ---- corrupt and truncated containers ------------------------------------

Bytes with_u32(Bytes b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    return b;
}

TEST(LzCorrupt, TableOfContainers) {
    const Bytes good = container({{lit('a'), lit('b'), match(6, 2)}});
    // A chunk header claiming `len`, followed by enough zero bytes that the
    // unpacked length is not refused before the chunk is looked at.
    auto bare_chunk = [](uint32_t len, uint32_t unpacked) {
        Bytes b;
        put_u32(b, 4 + 50000);
        put_u32(b, unpacked);
        put_u32(b, len);
        b.resize(b.size() + 50000);
        return b;
    };
    const struct {
        const char* name;
        Bytes input;
    } cases[] = {
        {"no header", {}},
        {"half a header", {0, 0, 0, 0}},
        {"packed length past the input", with_u32(good, 0, uint32_t(good.size() - 7))},
        {"packed length of 4 GB", with_u32(good, 0, 0xFFFFFFFF)},
        {"unpacked length larger", with_u32(good, 4, 9)},
        {"unpacked length smaller", with_u32(good, 4, 7)},
        {"no data for a declared length", with_u32(Bytes(8, 0), 4, 1)},
        {"forged huge unpacked length", with_u32(good, 4, 0xFFFFFFF0)},
        {"chunk length 0", bare_chunk(0, 0)},
        {"chunk length over 1 MiB", bare_chunk((1u << 20) + 1, (1u << 20) + 1)},
        {"chunk length of 4 GB", bare_chunk(0xFFFFFFFF, 2u << 20)},
        {"chunk length over the unpacked length", bare_chunk(100, 99)},
        {"chunk header cut", cat({with_u32(good, 0, uint32_t(good.size() - 8 + 3)), Bytes{1, 0, 0}})},
        {"stream ends inside a chunk", with_u32(with_u32(good, 8, 9), 4, 9)},
        {"distance before the data", container({{lit('a'), match(3, 2)}})},
        {"distance at the start", container({{match(3, 1)}})},
        {"distance into the chunk before", container({{lit('a'), lit('b')}, {lit('c'), match(3, 2)}})},
        {"farthest distance", container({{lit('a'), match(3, 262144)}})},
        {"length past the chunk", with_u32(with_u32(container({{lit('a'), match(300, 1)}}), 8, 4), 4, 4)},
        {"chunk past the unpacked length", container({{lit('a')}, {lit('b'), lit('c')}}, 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decompress(c.input), std::nullopt);
    }
    EXPECT_EQ(decompress(good), text("abababab"));
}

TEST(LzCorrupt, EveryCutIsRefused) {
    const Bytes in = cat({prose(3000, 11), Bytes(700, 'z'), noise(200, 12)});
    const Bytes packed = pack(in);
    for (size_t cut = 0; cut < packed.size(); ++cut) {
        SCOPED_TRACE(cut);
        // As given, the header says more than there is.
        EXPECT_EQ(decompress(packed, cut), std::nullopt);
        // With the header made to agree, the stream itself runs out.
        if (cut >= 8) {
            const Bytes head(packed.begin(), packed.begin() + long(cut));
            EXPECT_EQ(decompress(with_u32(head, 0, uint32_t(cut - 8))), std::nullopt);
        }
    }
}

TEST(LzCorrupt, FlippedBitsNeverReadOrWriteOutOfBounds) {
    const Bytes in = cat({prose(600, 13), Bytes(100, 'z'), noise(50, 14)});
    const Bytes packed = pack(in);
    size_t refused = 0;
    for (size_t bit = 0; bit < packed.size() * 8; ++bit) {
        Bytes b = packed;
        b[bit / 8] ^= uint8_t(1u << (bit % 8));
        const auto out = decompress(b);
        if (!out)
            ++refused;
        else
            EXPECT_EQ(out->size(), size_t(b[4] | b[5] << 8 | b[6] << 16 | b[7] << 24));
    }
    EXPECT_GT(refused, 0u);
}

}  // namespace
