// UTF-8 decoder conformance against the public utf8tests corpus: every test
// line's bytes are decoded once replacing each ill-formed run with U+FFFD and
// once dropping it, and compared with the corpus's two reference outputs;
// its valid lines must load and its invalid ones must raise invalid-utf8.
// The corpus lives next to the project (../shared/corpora/utf8, or the
// folder named by QEL_CORPORA_DIR); without it the tests skip.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/test_support.hpp"

namespace {

using namespace qel;
using Bytes = std::string;

std::string corpus_dir() {
    const char* env = std::getenv("QEL_CORPORA_DIR");
    return std::string(env && *env ? env : QEL_CORPORA_DIR) + "/utf8";
}

bool read_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(' ');
    const size_t b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// "EF BF BD 41" or "efbfbd41" -> bytes.
Bytes from_hex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    Bytes out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoul(digits.substr(i, 2), nullptr, 16));
    return out;
}

struct TestLine {
    std::string id;
    bool valid;
    Bytes input;
};

// Test lines are "id:valid:ASCII", "id:valid hex:HEX" or
// "id:invalid hex:HEX:skipped:replaced"; the expected outputs are read from
// the reference files instead of the last two fields.
std::vector<TestLine> parse_tests(const std::string& text) {
    std::vector<TestLine> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        size_t start = 0;
        for (size_t at; (at = line.find(':', start)) != std::string::npos; start = at + 1)
            f.push_back(line.substr(start, at - start));
        f.push_back(line.substr(start));
        if (f.size() < 3) continue;
        const std::string kind = trim(f[1]);
        if (kind == "valid") out.push_back({trim(f[0]), true, f[2]});
        else if (kind == "valid hex") out.push_back({trim(f[0]), true, from_hex(f[2])});
        else if (kind == "invalid hex") out.push_back({trim(f[0]), false, from_hex(f[2])});
    }
    return out;
}

struct Reference {
    bool valid;
    Bytes output;
};

// Reference lines are "id:valid:BYTES" or "id:invalid:BYTES", raw bytes to
// the end of the line.
std::map<std::string, Reference> parse_reference(const std::string& text) {
    std::map<std::string, Reference> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        out[line.substr(0, a)] = {line.substr(a + 1, b - a - 1) == "valid", line.substr(b + 1)};
    }
    return out;
}

// Decodes leniently: each ill-formed or truncated run becomes U+FFFD, or
// nothing when dropping.
Bytes decode_lenient(const Bytes& input, bool replace) {
    const auto* p = reinterpret_cast<const uint8_t*>(input.data());
    const uint8_t* end = p + input.size();
    Bytes out;
    while (p < end) {
        int32_t cp = unicode::decode_utf8(p, end);
        if (cp < 0 && !replace) continue;
        if (cp < 0) cp = unicode::REPLACEMENT;
        uint8_t buf[4];
        out.append(reinterpret_cast<char*>(buf), unicode::encode_utf8(static_cast<uint32_t>(cp), buf));
    }
    return out;
}

class UnicodeCorpus : public testutil::FreshMemory {
protected:
    void SetUp() override {
        const std::string dir = corpus_dir();
        std::string tests, replaced, skipped;
        if (!read_file(dir + "/utf8tests.txt", tests) ||
            !read_file(dir + "/artifacts/utf8.replace.ref.txt", replaced) ||
            !read_file(dir + "/artifacts/utf8.skip.ref.txt", skipped)) {
            GTEST_SKIP() << "UTF-8 corpus not found in " << dir << ": conformance not checked";
        }
        lines_ = parse_tests(tests);
        replaced_ = parse_reference(replaced);
        skipped_ = parse_reference(skipped);
        FreshMemory::SetUp();
    }

    std::vector<TestLine> lines_;
    std::map<std::string, Reference> replaced_, skipped_;
};

TEST_F(UnicodeCorpus, EveryLineHasBothReferences) {
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.size(), replaced_.size());
    EXPECT_EQ(lines_.size(), skipped_.size());
    for (const TestLine& t : lines_) {
        ASSERT_TRUE(replaced_.count(t.id)) << t.id;
        ASSERT_TRUE(skipped_.count(t.id)) << t.id;
        EXPECT_EQ(replaced_[t.id].valid, t.valid) << t.id;
        EXPECT_EQ(skipped_[t.id].valid, t.valid) << t.id;
    }
}

TEST_F(UnicodeCorpus, ReplacingAndDroppingIllFormedRuns) {
    for (const TestLine& t : lines_) {
        EXPECT_EQ(decode_lenient(t.input, true), replaced_[t.id].output) << t.id;
        EXPECT_EQ(decode_lenient(t.input, false), skipped_[t.id].output) << t.id;
        // Counting agrees with the replacing decoder: one per run.
        const auto* p = reinterpret_cast<const uint8_t*>(t.input.data());
        const Bytes& r = replaced_[t.id].output;
        EXPECT_EQ(unicode::count_utf8(p, p + t.input.size()),
                  unicode::count_utf8(reinterpret_cast<const uint8_t*>(r.data()),
                                      reinterpret_cast<const uint8_t*>(r.data()) + r.size()))
            << t.id;
    }
}

TEST_F(UnicodeCorpus, StrictLoadAcceptsExactlyTheValidLines) {
    for (const TestLine& t : lines_) {
        const auto* p = reinterpret_cast<const uint8_t*>(t.input.data());
        const uint32_t size = static_cast<uint32_t>(t.input.size());
        EXPECT_EQ(unicode::find_invalid_utf8(p, p + size) == nullptr, t.valid) << t.id;
        sys.pending_error = 0;
        int error = 0;
        try {
            const unicode::Loaded r = unicode::load_utf8_new(p, size);
            EXPECT_EQ(r.count, unicode::count_utf8(p, p + size)) << t.id;
        } catch (const NonLocalExit&) {
            error = sys.pending_error;
        }
        EXPECT_EQ(error, t.valid ? 0 : err::INVALID_UTF8) << t.id;
    }
}

}  // namespace
