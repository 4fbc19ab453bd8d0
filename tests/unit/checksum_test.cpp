// Checksums, digests and HMAC: published known answers, the key-length
// edges of HMAC, sums continued across pieces, and a differential run
// against Python's zlib, hashlib and hmac on data of many lengths (the
// internet checksum against a short RFC 1071 model in the same script).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "codecs/checksum.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "tests/unit/output_capture.hpp"
#include "tests/unit/startup_support.hpp"

namespace {

using namespace qel;
using checksum::Digest;

std::string hex(const Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint32_t i = 0; i < d.size; i++) {
        s += digits[d.bytes[i] >> 4];
        s += digits[d.bytes[i] & 15];
    }
    return s;
}

std::string unhex(const std::string& h) {
    std::string s;
    for (size_t i = 0; i + 1 < h.size(); i += 2) s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return s;
}

Digest digest(const std::string& s, int code) { return crypto::digest(s.data(), s.size(), code); }
Digest hmac(const std::string& msg, const std::string& key, int code) {
    return checksum::hmac_digest(msg.data(), msg.size(), key.data(), key.size(), code);
}

constexpr int DIGESTS[] = {checksum::MD5, checksum::SHA1, checksum::SHA256, checksum::SHA384, checksum::SHA512};
constexpr const char* DIGEST_NAMES[] = {"md5", "sha1", "sha256", "sha384", "sha512"};

TEST(ChecksumSums, KnownAnswers) {
    struct Case {
        std::string data;
        uint32_t crc32, adler32;
    };
    const Case cases[] = {
        {"", 0, 1},
        {"abc", 0x352441C2, 0x024D0127},
        {"123456789", 0xCBF43926, 0x091E01DE},
        {"Wikipedia", 0xADAAC02E, 0x11E60398},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checksum::crc32(c.data.data(), c.data.size()), c.crc32) << c.data;
        EXPECT_EQ(checksum::adler32(c.data.data(), c.data.size()), c.adler32) << c.data;
    }
}

TEST(ChecksumSums, InternetChecksum) {
    struct Case {
        std::string data;
        uint32_t sum;
    };
    const Case cases[] = {
        {"", 0xFFFF},
        {std::string("\x01", 1), 0xFEFF},  // an odd byte is the high half of its word
        // The worked example of RFC 1071: the folded sum is 0xDDF2.
        {unhex("0001f203f4f5f6f7"), 0x220D},
        {unhex("0001f203f4f5f6f7ff"), 0x230C},
        {unhex("ffff"), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(checksum::tcp(c.data.data(), c.data.size()), c.sum) << c.data.size();
}

// Pieces summed one after the other give the sum of the whole, also when a
// piece ends inside the Adler-32 chunk of 5552 bytes or its 16-byte steps.
TEST(ChecksumSums, ContinuedAcrossPieces) {
    std::mt19937 gen(7);
    std::string data(20000, '\0');
    for (char& ch : data) ch = static_cast<char>(gen());
    const uint32_t crc = checksum::crc32(data.data(), data.size());
    const uint32_t adler = checksum::adler32(data.data(), data.size());
    for (size_t cut : {0, 1, 15, 16, 17, 5551, 5552, 5553, 11104, 19999, 20000}) {
        uint32_t c = checksum::crc32(data.data(), cut);
        c = checksum::crc32(data.data() + cut, data.size() - cut, c);
        EXPECT_EQ(c, crc) << cut;
        uint32_t a = checksum::adler32(data.data(), cut);
        a = checksum::adler32(data.data() + cut, data.size() - cut, a);
        EXPECT_EQ(a, adler) << cut;
    }
}

TEST(ChecksumDigests, KnownAnswers) {
    struct Case {
        int code;
        std::string empty, abc;
    };
    const Case cases[] = {
        {checksum::MD5, "d41d8cd98f00b204e9800998ecf8427e", "900150983cd24fb0d6963f7d28e17f72"},
        {checksum::SHA1, "da39a3ee5e6b4b0d3255bfef95601890afd80709", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {checksum::SHA256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {checksum::SHA384,
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {checksum::SHA512,
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hex(digest("", c.code)), c.empty) << c.code;
        EXPECT_EQ(hex(digest("abc", c.code)), c.abc) << c.code;
        EXPECT_EQ(digest("abc", c.code).size, checksum::digest_size(c.code));
    }
}

TEST(ChecksumDigests, CodesWithoutADigestAreRefused) {
    for (int code : {int{checksum::TCP}, int{checksum::CRC32}, 7, -1, 1000}) {
        EXPECT_EQ(checksum::digest_size(code), 0u) << code;
        EXPECT_EQ(testutil::raised([&] { digest("abc", code); }), err::INVALID_ARG) << code;
        EXPECT_EQ(testutil::raised([&] { hmac("abc", "key", code); }), err::INVALID_ARG) << code;
    }
}

// RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-2): a short key, a key shorter
// than the text, and a key longer than the block, which is hashed first.
TEST(ChecksumHmac, PublishedVectors) {
    struct Case {
        int code;
        std::string key, data, mac;
    };
    const std::string key16(16, '\x0b'), key20(20, '\x0b'), key80(80, '\xaa'), key131(131, '\xaa');
    const std::string big_key_text = "Test Using Larger Than Block-Size Key - Hash Key First";
    const Case cases[] = {
        {checksum::MD5, key16, "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {checksum::MD5, "Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {checksum::MD5, key80, big_key_text, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {checksum::SHA1, key20, "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {checksum::SHA1, "Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {checksum::SHA1, key80, big_key_text, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {checksum::SHA256, key20, "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {checksum::SHA256, "Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {checksum::SHA256, key131, big_key_text, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {checksum::SHA384, key20, "Hi There",
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
        {checksum::SHA384, "Jefe", "what do ya want for nothing?",
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
        {checksum::SHA384, key131, big_key_text,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {checksum::SHA512, key20, "Hi There",
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
        {checksum::SHA512, "Jefe", "what do ya want for nothing?",
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
        {checksum::SHA512, key131, big_key_text,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex(hmac(c.data, c.key, c.code)), c.mac) << c.code << " key " << c.key.size();
}

// An empty key is the block of zeros it is padded to; a key one byte past
// the block is its digest; a key of exactly the block is used as it is.
TEST(ChecksumHmac, KeyLengthEdges) {
    for (int code : DIGESTS) {
        const size_t block = (code == checksum::SHA384 || code == checksum::SHA512) ? 128 : 64;
        const std::string msg = "message";
        EXPECT_EQ(hex(hmac(msg, "", code)), hex(hmac(msg, std::string(block, '\0'), code))) << code;

        const std::string longer(block + 1, 'k');
        const Digest d = digest(longer, code);
        EXPECT_EQ(hex(hmac(msg, longer, code)), hex(hmac(msg, std::string(d.bytes, d.bytes + d.size), code)));

        const std::string exact(block, 'k');
        const Digest e = digest(exact, code);
        EXPECT_NE(hex(hmac(msg, exact, code)), hex(hmac(msg, std::string(e.bytes, e.bytes + e.size), code)));
        EXPECT_EQ(hmac(msg, exact, code).size, checksum::digest_size(code));
    }
}

TEST(ChecksumHash, IntegerKeyPrintsTheNoticeAndAnswersZero) {
    int32_t result = -1;
    const std::string out = testutil::capture_output([&] { result = checksum::hash_not_implemented("abc", 3, 7); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "** /hash support not yet implemented; algorithm TBD.\n");
}

using ChecksumMethods = testutil::SymbolTables;

// Method words are compared without regard to case: a method word first
// interned in capitals still names its method, through its canonical id.
TEST_F(ChecksumMethods, WordsMapToTheirCodes) {
    symbol::intern_cstr("SHA256");
    checksum::init_methods();
    struct Case {
        const char* name;
        bool method;
        int code;
    };
    const Case cases[] = {
        {"tcp", true, checksum::TCP},       {"crc32", true, checksum::CRC32},   {"md5", true, checksum::MD5},
        {"Sha1", true, checksum::SHA1},     {"sha256", true, checksum::SHA256}, {"SHA384", true, checksum::SHA384},
        {"sha512", true, checksum::SHA512}, {"adler32", true, -1},              {"hash", true, -1},
        {"sha224", false, -1},              {"crc", false, -1},
    };
    for (const Case& c : cases) {
        const int32_t sym = symbol::intern_any_case(c.name);
        EXPECT_EQ(checksum::is_method(sym), c.method) << c.name;
        EXPECT_EQ(checksum::method_code(sym), c.code) << c.name;
    }
}

// ---- differential run against Python ------------------------------------

const char* const ORACLE = R"PY(
import hashlib, hmac, sys, zlib, os
d = sys.argv[1]
def tcp(b):
    if len(b) % 2: b += b'\0'
    s = 0
    for i in range(0, len(b), 2):
        s += (b[i] << 8) | b[i + 1]
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF
algs = ['md5', 'sha1', 'sha256', 'sha384', 'sha512']
keys = [open(os.path.join(d, 'k%d' % j), 'rb').read() for j in range(int(sys.argv[3]))]
for i in range(int(sys.argv[2])):
    b = open(os.path.join(d, 'd%d' % i), 'rb').read()
    print('sum', i, zlib.crc32(b), zlib.adler32(b), tcp(b))
    for a in algs:
        print('dig', i, a, hashlib.new(a, b).hexdigest())
        for j, k in enumerate(keys):
            print('mac', i, j, a, hmac.new(k, b, a).hexdigest())
)PY";

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qel-sum-XXXXXX").string();
        path = mkdtemp(tmpl.data()) ? tmpl : "";
    }
    ~TempDir() {
        if (!path.empty()) std::filesystem::remove_all(path);
    }
};

void write_file(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(ChecksumOracle, MatchesPythonOnManyLengths) {
    std::mt19937 gen(20240229);
    std::vector<std::string> data;
    for (size_t n : {0, 1, 2, 3, 15, 16, 17, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000, 3854, 3855, 5552, 5553,
                     65535, 65536, 65537, 300001}) {
        std::string s(n, '\0');
        for (char& ch : s) ch = static_cast<char>(gen());
        data.push_back(s);
    }
    // All-ones words drive the internet checksum's sum highest: a 32-bit sum
    // would wrap before the carries are folded back.
    data.push_back(std::string(300000, '\xff'));
    data.push_back(std::string(300001, '\xff'));
    data.push_back(std::string(70000, '\0'));
    std::vector<std::string> keys;
    for (size_t n : {0, 1, 20, 63, 64, 65, 127, 128, 129, 300}) {
        std::string k(n, '\0');
        for (char& ch : k) ch = static_cast<char>(gen());
        keys.push_back(k);
    }

    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    for (size_t i = 0; i < data.size(); i++) write_file(dir.path / ("d" + std::to_string(i)), data[i]);
    for (size_t j = 0; j < keys.size(); j++) write_file(dir.path / ("k" + std::to_string(j)), keys[j]);
    write_file(dir.path / "oracle.py", ORACLE);

    const std::string cmd = "python3 '" + (dir.path / "oracle.py").string() + "' '" + dir.path.string() + "' " +
                            std::to_string(data.size()) + " " + std::to_string(keys.size()) + " 2>&1";
    std::string out;
    const int status = testutil::run_command(cmd, out);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(status, 0) << out;

    size_t sums = 0, digests = 0, macs = 0;
    std::istringstream lines(out);
    std::string kind;
    while (lines >> kind) {
        if (kind == "sum") {
            size_t i;
            uint32_t crc, adler, tcp;
            lines >> i >> crc >> adler >> tcp;
            const std::string& b = data.at(i);
            EXPECT_EQ(checksum::crc32(b.data(), b.size()), crc) << "length " << b.size();
            EXPECT_EQ(checksum::adler32(b.data(), b.size()), adler) << "length " << b.size();
            EXPECT_EQ(checksum::tcp(b.data(), b.size()), tcp) << "length " << b.size();
            sums++;
        } else if (kind == "dig" || kind == "mac") {
            size_t i, j = 0;
            std::string alg, want;
            lines >> i;
            if (kind == "mac") lines >> j;
            lines >> alg >> want;
            int code = -1;
            for (int a = 0; a < 5; a++)
                if (alg == DIGEST_NAMES[a]) code = DIGESTS[a];
            const std::string& b = data.at(i);
            if (kind == "dig") {
                EXPECT_EQ(hex(digest(b, code)), want) << alg << " length " << b.size();
                digests++;
            } else {
                EXPECT_EQ(hex(hmac(b, keys.at(j), code)), want)
                    << alg << " length " << b.size() << " key " << keys[j].size();
                macs++;
            }
        } else {
            FAIL() << "unexpected oracle output: " << kind;
        }
    }
    EXPECT_EQ(sums, data.size());
    EXPECT_EQ(digests, data.size() * 5);
    EXPECT_EQ(macs, data.size() * 5 * keys.size());
}

// CRC-32 and Adler-32 take their input in groups of sixteen bytes and the
// rest one at a time: every length from 0 to 300 at every start offset in
// a group, summed from the start value and continued from another sum,
// plus long runs of random and of all-ones bytes (the largest Adler-32
// sums), against Python's zlib.
const char* const SUMS_ORACLE = R"PY(
import sys, zlib
b = open(sys.argv[1], 'rb').read()
for line in open(sys.argv[2]):
    o, n = map(int, line.split())
    s = b[o:o + n]
    print(zlib.crc32(s), zlib.crc32(s, 0x9E3779B9), zlib.adler32(s), zlib.adler32(s, 0xFFF0FFF0))
)PY";

TEST(ChecksumOracle, SumsAtEveryLengthAndOffset) {
    std::mt19937 gen(61);
    std::string bytes(1 << 20, '\0');
    for (char& ch : bytes) ch = static_cast<char>(gen());
    bytes += std::string(3 * 5552 + 17, '\xff');
    struct Case {
        size_t offset, length;
    };
    std::vector<Case> cases;
    for (size_t offset = 0; offset < 16; offset++)
        for (size_t length = 0; length <= 300; length++) cases.push_back({offset, length});
    cases.push_back({0, bytes.size()});
    cases.push_back({5, (1 << 20) - 5});
    cases.push_back({1 << 20, 3 * 5552 + 17});
    cases.push_back({(1 << 20) + 3, 3 * 5552 + 13});

    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string list;
    for (const Case& c : cases) list += std::to_string(c.offset) + " " + std::to_string(c.length) + "\n";
    write_file(dir.path / "bytes", bytes);
    write_file(dir.path / "cases", list);
    write_file(dir.path / "oracle.py", SUMS_ORACLE);
    const std::string cmd = "python3 '" + (dir.path / "oracle.py").string() + "' '" + (dir.path / "bytes").string() +
                            "' '" + (dir.path / "cases").string() + "' 2>&1";
    std::string out;
    const int status = testutil::run_command(cmd, out);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(status, 0) << out;

    std::istringstream lines(out);
    size_t seen = 0;
    uint32_t crc, crc_on, adler, adler_on;
    while (lines >> crc >> crc_on >> adler >> adler_on) {
        ASSERT_LT(seen, cases.size());
        const Case& c = cases[seen++];
        const char* p = bytes.data() + c.offset;
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
        EXPECT_EQ(checksum::crc32(p, c.length), crc);
        EXPECT_EQ(checksum::crc32(p, c.length, 0x9E3779B9), crc_on);
        EXPECT_EQ(checksum::adler32(p, c.length), adler);
        EXPECT_EQ(checksum::adler32(p, c.length, 0xFFF0FFF0), adler_on);
    }
    EXPECT_EQ(seen, cases.size());
}

// The openssl command line as a second, independent oracle for the digests
// and their keyed forms.
TEST(ChecksumOpenssl, DigestsAndHmacAgreeWithTheCommandLine) {
    std::string probe;
    if (testutil::run_command("openssl version 2>/dev/null", probe) != 0) GTEST_SKIP() << "openssl is not available";
    char path[] = "/tmp/qel-digest-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string data(70000, '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>((i * 7919) >> 3);
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    const struct {
        const char* name;
        int code;
    } methods[] = {{"md5", checksum::MD5},       {"sha1", checksum::SHA1},     {"sha256", checksum::SHA256},
                   {"sha384", checksum::SHA384}, {"sha512", checksum::SHA512}};
    for (const auto& m : methods) {
        SCOPED_TRACE(m.name);
        std::string plain, keyed;
        ASSERT_EQ(testutil::run_command(std::string("openssl dgst -") + m.name + " -r " + path, plain), 0);
        ASSERT_EQ(testutil::run_command(std::string("openssl dgst -") + m.name + " -hmac qel-key -r " + path, keyed), 0);
        EXPECT_EQ(plain.substr(0, plain.find(' ')), hex(digest(data, m.code)));
        EXPECT_EQ(keyed.substr(0, keyed.find(' ')), hex(hmac(data, "qel-key", m.code)));
    }
    unlink(path);
}

}  // namespace
