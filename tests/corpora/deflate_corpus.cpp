// Inflater conformance against public streams: the vectors that zlib's own
// coverage test feeds its inflater (each marked ok or error), and the wuffs
// test data (hand-built deflate streams with their output, and texts with
// their .gz, .zlib and .deflate forms). Every ok vector must decode, every
// error vector must fail with a result code, and every stream must give
// exactly its plain file. The corpus lives next to the project
// (../shared/corpora/deflate, or the folder named by QEL_CORPORA_DIR);
// without it the tests skip.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/deflate.hpp"
#include "tests/unit/deflate_support.hpp"

namespace {

using namespace qel;
using testutil::Bytes;
using testutil::Codec;

std::string corpus_dir() {
    const char* env = std::getenv("QEL_CORPORA_DIR");
    return std::string(env && *env ? env : QEL_CORPORA_DIR) + "/deflate";
}

bool read_file(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string s = ss.str();
    out.assign(s.begin(), s.end());
    return true;
}

bool ends_with(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

Codec codec_for(const std::string& wrapper) {
    if (wrapper == "gzip" || ends_with(wrapper, ".gz")) return gzip::decompress;
    if (wrapper == "zlib" || ends_with(wrapper, ".zlib")) return zlib::decompress;
    return deflate::decompress;
}

TEST(DeflateCorpus, ZlibCoverageVectors) {
    std::ifstream in(corpus_dir() + "/zlib-infcover.tsv");
    if (!in) GTEST_SKIP() << "corpus not found at " << corpus_dir();
    std::string line;
    std::getline(in, line);  // column names
    int ok = 0, errors = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        ASSERT_GE(f.size(), 4u) << line;
        Bytes stream;
        for (size_t i = 0; i + 1 < f[0].size(); i += 2)
            stream.push_back(uint8_t(std::stoul(f[0].substr(i, 2), nullptr, 16)));
        Bytes out;
        const int r = testutil::run_codec(codec_for(f[1]), stream, out);
        if (f[2] == "ok") {
            EXPECT_EQ(r, deflate::DONE) << f[3];
            ok++;
        } else {
            EXPECT_NE(r, deflate::DONE) << f[3];
            EXPECT_GE(r, deflate::MALFORMED) << f[3];
            errors++;
        }
    }
    EXPECT_GT(ok, 0);
    EXPECT_GT(errors, 0);
}

TEST(DeflateCorpus, WuffsStreams) {
    const std::string dir = corpus_dir() + "/wuffs";
    int checked = 0;
    for (const std::string sub : {"", "/artificial-deflate"}) {
        DIR* d = opendir((dir + sub).c_str());
        if (!d) GTEST_SKIP() << "corpus not found at " << dir;
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) names.push_back(e->d_name);
        closedir(d);
        for (const std::string& name : names) {
            if (!ends_with(name, ".gz") && !ends_with(name, ".zlib") && !ends_with(name, ".deflate")) continue;
            const std::string path = dir + sub + "/" + name;
            Bytes stream, want, out;
            ASSERT_TRUE(read_file(path, stream)) << path;
            const int r = testutil::run_codec(codec_for(name), stream, out);
            if (name == "distance-code-31.deflate") {
                // Distance codes 30 and 31 exist in the fixed code but mean
                // nothing; the stream must be refused.
                EXPECT_EQ(r, deflate::MALFORMED) << name;
                checked++;
                continue;
            }
            // The plain file: name.decompressed, else the name without its
            // suffix (and without .fixed-huff).
            std::string plain = path + ".decompressed";
            if (!read_file(plain, want)) {
                plain = path.substr(0, path.rfind('.'));
                if (ends_with(plain, ".fixed-huff")) plain = plain.substr(0, plain.size() - 11);
                ASSERT_TRUE(read_file(plain, want)) << "no plain file for " << path;
            }
            ASSERT_EQ(r, deflate::DONE) << name;
            EXPECT_TRUE(out == want) << name;
            checked++;
        }
    }
    EXPECT_GE(checked, 14);
}

}  // namespace
