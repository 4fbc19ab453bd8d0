// Deflate, zlib and gzip: the exact streams of an empty input, round trips
// through every wrapper, the sizing protocol (a count without a buffer,
// then a buffer of exactly that size), streams that are damaged, cut short
// or lie about their size, and the independent tools (gzip, Python's zlib)
// reading our output and writing input for us. Inputs are handed over in
// blocks of exactly their size, so that the sanitizers see a read past the
// end.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/deflate.hpp"
#include "tests/unit/deflate_support.hpp"
#include "tests/unit/test_support.hpp"

namespace {

using namespace qel;
using testutil::Bytes;
using testutil::Codec;

struct Format {
    const char* name;
    Codec compress;
    Codec decompress;
};
const Format FORMATS[] = {
    {"deflate", deflate::compress, deflate::decompress},
    {"zlib", zlib::compress, zlib::decompress},
    {"gzip", gzip::compress, gzip::decompress},
};

Bytes hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes text_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(gen());
    return b;
}

// Words from a small vocabulary: text with plenty of matches near and far.
Bytes words(size_t n, uint32_t seed) {
    static const char* const vocabulary[] = {"alpha ", "beta ", "gamma ", "block ", "series ", "the ",
                                             "of ",    "and ",  "word ",  "\n",     "compress "};
    std::mt19937 gen(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = vocabulary[gen() % 11];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

// ---- what we write ---------------------------------------------------------

TEST(DeflateTest, EmptyInputStreams) {
    const struct {
        Codec codec;
        const char* expected;
    } cases[] = {
        {deflate::compress, "0300"},
        {zlib::compress, "7801030000000001"},
        {gzip::compress, "1f8b0800000000000404030000000000000000000000"},
    };
    for (const auto& c : cases) {
        Bytes out;
        ASSERT_EQ(testutil::run_codec(c.codec, {}, out), deflate::DONE);
        Bytes want = hex(c.expected);
        if (c.codec == gzip::compress) want.resize(20);
        EXPECT_EQ(out, want) << c.expected;
    }
}

TEST(DeflateTest, RoundTripsThroughEveryWrapper) {
    Bytes run_of_one(70000, 'a');
    Bytes period3;
    for (int i = 0; i < 5000; i++) period3.push_back(uint8_t("xyz"[i % 3]));
    const Bytes inputs[] = {
        {},
        {0x41},
        {1, 2},
        {1, 2, 3},
        text_bytes("abcabcabcabcabcabc"),
        random_bytes(300, 1),
        random_bytes(100000, 2),
        run_of_one,
        period3,
        words(200000, 3),  // matches reach across the 32 KiB window's edge
    };
    for (const Format& f : FORMATS) {
        for (const Bytes& in : inputs) {
            Bytes packed, unpacked;
            ASSERT_EQ(testutil::run_codec(f.compress, in, packed), deflate::DONE) << f.name << " " << in.size();
            ASSERT_EQ(testutil::run_codec(f.decompress, packed, unpacked), deflate::DONE) << f.name << " " << in.size();
            EXPECT_EQ(unpacked, in) << f.name << " " << in.size();
        }
    }
}

TEST(DeflateTest, RepeatsBecomeMatches) {
    // 70000 equal bytes: a few literals, then matches of 258 (each of them
    // about 4 bytes, the distance growing until it leaves the window).
    Bytes out;
    ASSERT_EQ(testutil::run_codec(deflate::compress, Bytes(70000, 'a'), out), deflate::DONE);
    EXPECT_LT(out.size(), 1000u);
    ASSERT_EQ(testutil::run_codec(deflate::compress, words(100000, 4), out), deflate::DONE);
    EXPECT_LT(out.size(), 60000u);
}

TEST(DeflateTest, ShortBufferCountsWhatItNeeds) {
    const Bytes in = words(5000, 5);
    for (const Format& f : FORMATS) {
        Bytes packed;
        ASSERT_EQ(testutil::run_codec(f.compress, in, packed), deflate::DONE);
        // One byte short, both ways: the answer is the full size, and what
        // fits is the start of the true output.
        struct Pass {
            Codec codec;
            const Bytes& input;
            const Bytes& output;
        };
        for (const Pass& p : {Pass{f.compress, in, packed}, Pass{f.decompress, packed, in}}) {
            Bytes buffer(p.output.size() - 1);
            size_t size = buffer.size();
            ASSERT_EQ(p.codec(buffer.data(), &size, p.input.data(), p.input.size()), deflate::TOO_SMALL) << f.name;
            EXPECT_EQ(size, p.output.size()) << f.name;
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), p.output.begin())) << f.name;
        }
    }
}

TEST(DeflateTest, GzipWrapsDataThatAlreadyLooksLikeGzip) {
    Bytes once, twice, back;
    ASSERT_EQ(testutil::run_codec(gzip::compress, text_bytes("payload"), once), deflate::DONE);
    ASSERT_EQ(testutil::run_codec(gzip::compress, once, twice), deflate::DONE);
    EXPECT_NE(twice, once);
    ASSERT_EQ(testutil::run_codec(gzip::decompress, twice, back), deflate::DONE);
    EXPECT_EQ(back, once);
}

// ---- what we read ------------------------------------------------------------

TEST(DeflateTest, BlockTypesAndTheirFaults) {
    const struct {
        const char* stream;
        int result;
        const char* output;
    } cases[] = {
        // Stored: final, LEN 3, NLEN, "abc"; an empty one; two in a row.
        {"010300fcff616263", deflate::DONE, "abc"},
        {"010000ffff", deflate::DONE, ""},
        {"000100feff61010100feff62", deflate::DONE, "ab"},
        // Trailing bytes after the final block are not read.
        {"010100feff61ffff", deflate::DONE, "a"},
        // NLEN that is not the complement of LEN.
        {"010300fcfe616263", deflate::MALFORMED, ""},
        {"0103000000616263", deflate::MALFORMED, ""},
        // LEN beyond the input; its header cut short.
        {"010400fbff616263", deflate::STORED_PAST_INPUT, ""},
        {"010300fc", deflate::MALFORMED, ""},
        // Fixed: "a" then a match of 3 at distance 1.
        {"4b04020000", deflate::DONE, "aaaa"},
        // Codes the fixed code has but the format gives no meaning: length
        // symbol 286, distance 30.
        {"4b1c03", deflate::MALFORMED, ""},
        {"4b043e00", deflate::MALFORMED, ""},
        // Reserved block type 3.
        {"07", deflate::RESERVED_BLOCK, ""},
        // A match before anything was written.
        {"0302020000", deflate::TOO_FAR_BACK, ""},
        // Input ends before the final block: a non-final stored block alone,
        // a non-final fixed block that ends cleanly, a fixed block cut in
        // its middle, nothing at all.
        {"000100feff61", deflate::MALFORMED, ""},
        {"4a040000", deflate::MALFORMED, ""},
        {"4b", deflate::MALFORMED, ""},
        {"", deflate::MALFORMED, ""},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(testutil::run_codec(deflate::decompress, hex(c.stream), out), c.result) << c.stream;
        if (c.result == deflate::DONE) {
            EXPECT_EQ(out, text_bytes(c.output)) << c.stream;
        }
    }
}

TEST(DeflateTest, EveryCutOfAStreamFails) {
    // A dynamic block and a stored block, cut at every byte: the decoder
    // must notice each time, never answer a short output as done.
    Bytes packed;
    ASSERT_EQ(testutil::run_codec(deflate::compress, words(3000, 6), packed), deflate::DONE);
    const Bytes samples[] = {packed, hex("000300fcff616263010000ffff")};
    for (const Bytes& whole : samples) {
        for (size_t cut = 0; cut < whole.size(); cut++) {
            Bytes out;
            const Bytes part(whole.begin(), whole.begin() + cut);
            EXPECT_NE(testutil::run_codec(deflate::decompress, part, out), deflate::DONE) << cut;
        }
    }
}

TEST(DeflateTest, ZlibHeaderAndChecksum) {
    Bytes good;
    ASSERT_EQ(testutil::run_codec(zlib::compress, text_bytes("zlib data"), good), deflate::DONE);
    auto with = [&](size_t at, uint8_t byte) {
        Bytes b = good;
        b[at] = byte;
        return b;
    };
    auto header = [&](uint8_t cmf, uint8_t flg) {
        Bytes b = with(0, cmf);
        b[1] = flg;
        return b;
    };
    const struct {
        Bytes stream;
        int result;
        const char* what;
    } cases[] = {
        {header(0x78, 0x9C), deflate::DONE, "the usual default header"},
        {header(0x78, 0xDA), deflate::DONE, "best-compression header"},
        {header(0x78, 0x9D), deflate::MALFORMED, "check bits wrong"},
        // The check bits of the three below are right.
        {header(0x79, 0x18), deflate::MALFORMED, "method 9"},
        {header(0x88, 0x1C), deflate::MALFORMED, "window beyond 32 KiB"},
        {header(0x78, 0x20), deflate::MALFORMED, "preset dictionary"},
        {with(good.size() - 1, uint8_t(good.back() ^ 1)), deflate::MALFORMED, "Adler-32 wrong"},
        {Bytes(good.begin(), good.begin() + 5), deflate::MALFORMED, "shorter than 6 bytes"},
        {hex("7801"), deflate::MALFORMED, "header alone"},
        {hex("78010300000000"), deflate::MALFORMED, "7 bytes"},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(testutil::run_codec(zlib::decompress, c.stream, out), c.result) << c.what;
    }
}

TEST(DeflateTest, GzipHeaderFieldsAndTrailer) {
    Bytes body;  // raw deflate of "gz"
    ASSERT_EQ(testutil::run_codec(deflate::compress, text_bytes("gz"), body), deflate::DONE);
    // Builds a member: header with the given flags and fields, the body,
    // the trailer with the given CRC and length.
    auto member = [&](uint8_t flags, const Bytes& fields, uint32_t crc, uint32_t isize) {
        Bytes b = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
        for (uint8_t f : fields) b.push_back(f);
        for (uint8_t c : body) b.push_back(c);
        for (uint32_t v : {crc, isize})
            for (int k = 0; k < 4; k++) b.push_back(uint8_t(v >> (8 * k)));
        return b;
    };
    const uint32_t crc = 0xDBB577BD;  // CRC-32 of "gz"
    {
        Bytes out;
        ASSERT_EQ(testutil::run_codec(gzip::compress, text_bytes("gz"), out), deflate::DONE);
        ASSERT_EQ(out.size(), 10 + body.size() + 8);
        ASSERT_EQ(out[out.size() - 8] | out[out.size() - 7] << 8 | out[out.size() - 6] << 16 |
                      uint32_t(out[out.size() - 5]) << 24,
                  crc);
    }
    const struct {
        Bytes stream;
        int result;
        const char* what;
    } cases[] = {
        {member(0, {}, crc, 2), deflate::DONE, "plain"},
        {member(4, {3, 0, 'a', 'b', 'c'}, crc, 2), deflate::DONE, "extra field"},
        {member(8, text_bytes(std::string("name\0", 5)), crc, 2), deflate::DONE, "name"},
        {member(16 | 8, text_bytes(std::string("n\0c\0", 4)), crc, 2), deflate::DONE, "name and comment"},
        {member(0, {}, crc ^ 1, 2), deflate::MALFORMED, "CRC-32 wrong"},
        {member(0, {}, crc, 3), deflate::MALFORMED, "length larger than the data"},
        {member(0, {}, crc, 1), deflate::MALFORMED, "length smaller than the data"},
        {member(0, {}, crc, 0xFFFFFFFF), deflate::MALFORMED, "a huge length is not believed"},
        {member(32, {}, crc, 2), deflate::MALFORMED, "reserved flag"},
        {member(4, {0xFF, 0x7F}, crc, 2), deflate::MALFORMED, "extra field past the input"},
        {member(8, text_bytes("no end"), crc, 2), deflate::MALFORMED, "name without its zero"},
        // Header CRC: the low 16 bits of the CRC-32 of the ten bytes before.
        {member(2, {0xA7, 0x77}, crc, 2), deflate::DONE, "header CRC"},
        {member(2, {0xA7, 0x76}, crc, 2), deflate::MALFORMED, "header CRC wrong"},
        {Bytes(17, 0), deflate::MALFORMED, "17 bytes"},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(testutil::run_codec(gzip::decompress, c.stream, out), c.result) << c.what;
        if (c.result == deflate::DONE) {
            EXPECT_EQ(out, text_bytes("gz")) << c.what;
        }
    }
}

// ---- against the independent tools ----------------------------------------------

bool have_tools() {
    return std::system("command -v gzip >/dev/null 2>&1 && python3 -c 'import zlib' >/dev/null 2>&1") == 0;
}

// A scratch folder, removed with what it holds.
struct Scratch {
    std::string dir;
    Scratch() {
        char name[] = "/tmp/qel-deflate-XXXXXX";
        dir = mkdtemp(name) ? name : "";
    }
    ~Scratch() {
        if (!dir.empty()) std::system(("rm -rf " + dir).c_str());
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

void write_file(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string s = ss.str();
    return Bytes(s.begin(), s.end());
}

struct Sample {
    const char* name;
    Bytes data;
};

std::vector<Sample> samples() {
    return {{"empty", {}},
            {"one", {0x5A}},
            {"r300", random_bytes(300, 7)},
            {"r100k", random_bytes(100 * 1024, 8)},
            {"text10m", words(10 * 1024 * 1024, 9)}};
}

TEST(DeflateTest, ToolsReadOurStreams) {
    if (!have_tools()) GTEST_SKIP() << "gzip or python3 with zlib not found";
    Scratch tmp;
    ASSERT_FALSE(tmp.dir.empty());
    for (const Sample& s : samples()) {
        const std::string plain = tmp.path(s.name);
        write_file(plain, s.data);
        for (const Format& f : FORMATS) {
            Bytes packed;
            ASSERT_EQ(testutil::run_codec(f.compress, s.data, packed), deflate::DONE) << s.name << " " << f.name;
            const std::string file = plain + "." + f.name;
            write_file(file, packed);
            // Python reads every form: raw deflate (wbits -15), zlib (15) and
            // gzip (31), and must find no bytes left over.
            const int wbits = f.compress == deflate::compress ? -15 : f.compress == zlib::compress ? 15 : 31;
            const std::string py = "python3 -c \"import sys, zlib\n"
                                   "d = zlib.decompressobj(" + std::to_string(wbits) + ")\n"
                                   "out = d.decompress(open(sys.argv[1], 'rb').read()) + d.flush()\n"
                                   "sys.exit(0 if d.eof and not d.unused_data and out == open(sys.argv[2], 'rb').read() else 1)\" ";
            EXPECT_EQ(std::system((py + file + " " + plain).c_str()), 0) << "python: " << s.name << " " << f.name;
            if (f.compress == gzip::compress) {
                EXPECT_EQ(std::system(("gzip -dc " + file + " | cmp -s - " + plain).c_str()), 0) << "gzip: " << s.name;
            }
        }
    }
}

TEST(DeflateTest, WeReadToolStreams) {
    if (!have_tools()) GTEST_SKIP() << "gzip or python3 with zlib not found";
    Scratch tmp;
    ASSERT_FALSE(tmp.dir.empty());
    // Python writes zlib streams at levels 0 (stored blocks), 6 and 9, and a
    // raw stream of a stored, a fixed and a dynamic block in a row; gzip
    // writes its fastest and its best.
    const char* const script =
        "import sys, zlib\n"
        "p = sys.argv[1]\n"
        "data = open(p, 'rb').read()\n"
        "for level in (0, 6, 9):\n"
        "    open(p + '.z%d' % level, 'wb').write(zlib.compress(data, level))\n"
        "third = len(data) // 3\n"
        "a, b, c = data[:third], data[third:2 * third], data[2 * third:]\n"
        "stored = zlib.compressobj(0, zlib.DEFLATED, -15)\n"
        "mixed = stored.compress(a) + stored.flush(zlib.Z_SYNC_FLUSH)\n"
        "fixed = zlib.compressobj(6, zlib.DEFLATED, -15, 8, zlib.Z_FIXED)\n"
        "mixed += fixed.compress(b) + fixed.flush(zlib.Z_SYNC_FLUSH)\n"
        "dynamic = zlib.compressobj(6, zlib.DEFLATED, -15)\n"
        "mixed += dynamic.compress(c) + dynamic.flush()\n"
        "open(p + '.mixed', 'wb').write(mixed)\n";
    write_file(tmp.path("make.py"), text_bytes(script));
    for (const Sample& s : samples()) {
        const std::string plain = tmp.path(s.name);
        write_file(plain, s.data);
        ASSERT_EQ(std::system(("python3 " + tmp.path("make.py") + " " + plain).c_str()), 0);
        for (int level : {1, 9}) {
            const std::string cmd = "gzip -" + std::to_string(level) + " -c " + plain + " > " + plain + ".g" +
                                    std::to_string(level);
            ASSERT_EQ(std::system(cmd.c_str()), 0);
        }
        const struct {
            const char* suffix;
            Codec codec;
        } streams[] = {{".g1", gzip::decompress},   {".g9", gzip::decompress}, {".z0", zlib::decompress},
                       {".z6", zlib::decompress},   {".z9", zlib::decompress}, {".mixed", deflate::decompress}};
        for (const auto& st : streams) {
            Bytes out;
            EXPECT_EQ(testutil::run_codec(st.codec, read_file(plain + st.suffix), out), deflate::DONE) << s.name << st.suffix;
            EXPECT_TRUE(out == s.data) << s.name << st.suffix;
        }
    }
}

}  // namespace
