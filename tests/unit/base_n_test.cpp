// Base 2, 16, 58 and 64 codecs: agreement with independent encoders on
// random data, the decoders' skipping, comments and invalid input, and
// text read in every unit width.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/base_n.hpp"

namespace qel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes from_hex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

// The text as units of the given width, for decoders that read strings
// of any width.
std::vector<uint8_t> widened(const std::string& text, uint32_t width) {
    std::vector<uint8_t> out(text.size() * width, 0);
    for (size_t i = 0; i < text.size(); i++) out[i * width] = static_cast<uint8_t>(text[i]);
    return out;
}

bool decode(int32_t base, const std::string& text, Bytes& out, bool strict = false, uint32_t width = 1) {
    const std::vector<uint8_t> units = widened(text, width);
    out.clear();
    return binary::decode_base(base, binary::Units{units.data(), text.size(), width}, out, strict);
}

std::string encode(int32_t base, const Bytes& b) {
    std::string s;
    binary::encode_base(base, b.data(), b.size(), s);
    return s;
}

// Made with python3 from random bytes (random.seed(20240611), two vectors
// given two leading zero bytes): binascii.hexlify(b).upper(),
// base64.b64encode(b), and base 58 by int.from_bytes(b, 'big') written in
// the alphabet with one "1" per leading zero byte.
struct Vector {
    const char* hex;
    const char* b64;
    const char* b58;
};
const Vector VECTORS[] = {
    {"", "", ""},
    {"AC", "rA==", "3y"},
    {"844C", "hEw=", "B4w"},
    {"BBBCAB", "u7yr", "264Qr"},
    {"08769B3F", "CHabPw==", "DYjtr"},
    {"0000B7992B", "AAC3mSs=", "1124fnS"},
    {"5D3F0F67A70178", "XT8PZ6cBeA==", "4Xx6GNMVE7"},
    {"0000D4CD6BECBFD37E1C84BD8EC1746F", "AADUzWvsv9N+HIS9jsF0bw==", "112MEYBWPJLvYwA7TyzxPG"},
    {"4DDB1CC00FA8CFB930D4E1A91E3B5C1F94A66A05AB08797FB8BEDA174A2681",
     "TdscwA+oz7kw1OGpHjtcH5SmagWrCHl/uL7aF0omgQ==", "2Brf7wSV1dGjgAFG7V7ShuGZ83b8kiBRJSFBPW57udz"},
    {"8605E887452C7AA0B2E0EFC01827937150FCD25F5E911D1AE4AB24C0BED43293",
     "hgXoh0UseqCy4O/AGCeTcVD80l9ekR0a5KskwL7UMpM=", "A2ArhRLQ6rtsjtVggpCZiSrhgfBdRbUQbkUrEgBXN9yU"},
    {"01B862556FA54BD026B1A2D98D2815D3F398987DD4532D9B9B7158DEC4BE62D8EC",
     "AbhiVW+lS9AmsaLZjSgV0/OYmH3UUy2bm3FY3sS+Ytjs", "We5MXQziWLNQJ478Pn7zzn2oN1jVsxE3gybz1rKfG8b5"},
    {"0D7E0336BA44A1B079E8DA0B1F37E05E0E108E1BD6916700E5915E5D82C215543203AB4C9235A7FEBDB081BF6F",
     "DX4DNrpEobB56NoLHzfgXg4QjhvWkWcA5ZFeXYLCFVQyA6tMkjWn/r2wgb9v",
     "LN2f4pdzAWCbBNmbso4naRstKMBDjDcvM431n6oWEmivdC7Aht5W5AqgRzWAA"},
};

TEST(BaseN, AgreesWithIndependentEncodersBothWays) {
    for (const Vector& v : VECTORS) {
        SCOPED_TRACE(v.hex);
        const Bytes data = from_hex(v.hex);
        EXPECT_EQ(encode(16, data), v.hex);
        EXPECT_EQ(encode(64, data), v.b64);
        EXPECT_EQ(encode(58, data), v.b58);
        EXPECT_LE(std::strlen(v.b58), binary::encoded_size(58, data.size()));
        const struct {
            int32_t base;
            std::string text;
        } texts[] = {{16, v.hex}, {64, v.b64}, {58, v.b58}};
        for (const auto& t : texts)
            for (uint32_t width : {1u, 2u, 4u}) {
                SCOPED_TRACE(testing::Message() << "base " << t.base << " width " << width);
                Bytes back;
                EXPECT_TRUE(decode(t.base, t.text, back, false, width));
                EXPECT_EQ(back, data);
            }
        // Base 2 has no outside reference; it must at least come back.
        Bytes back;
        EXPECT_TRUE(decode(2, encode(2, data), back));
        EXPECT_EQ(back, data);
    }
}

TEST(BaseN, DecodersSkipCommentAndRefuse) {
    struct Case {
        int32_t base;
        std::string text;
        bool strict;
        bool valid;
        const char* hex;  // the bytes when valid
    };
    const Case cases[] = {
        // base 64: blanks skipped, "=" ends the data, pending digits at the end
        {64, "YWJj", false, true, "616263"},
        {64, " Y W\tJ\r\nj\b\f'", false, true, "616263"},
        {64, "YQ==garbage!", false, true, "61"},
        {64, "YWI", false, true, "6162"},
        {64, "YQ", false, true, "61"},
        {64, "Y", false, false, ""},
        {64, "YWJjY", false, false, ""},
        {64, "=", false, false, ""},
        {64, "YWJj=", false, false, ""},
        {64, "YW!j", false, false, ""},
        {64, "Y;comment = !\nQ==", false, true, "61"},
        {64, "YWI", true, false, ""},
        {64, "YQ==YWJj", true, false, ""},
        {64, "YQ= = ;x\n", true, true, "61"},
        {64, std::string("YQ\xE9="), false, false, ""},
        // base 16: odd digit dropped unless strict; nothing above 127
        {16, "0a 1B", false, true, "0A1B"},
        {16, "abc", false, true, "AB"},
        {16, "abc", true, false, ""},
        {16, "", false, true, ""},
        {16, "0G", false, false, ""},
        {16, std::string("0\xC1"), false, false, ""},
        {16, "01;ff\n02", false, true, "0102"},
        // base 2: whole groups of 8
        {2, "0100 0001", false, true, "41"},
        {2, "0100", false, false, ""},
        {2, "01000012", false, false, ""},
        // base 58: leading "1" digits are zero bytes
        {58, "12", false, true, "0001"},
        {58, "11", false, true, "0000"},
        {58, "", false, true, ""},
        {58, "1 2\n", false, true, "0001"},
        {58, "0", false, false, ""},
        {58, "l", false, false, ""},
        {58, std::string("2\xC3"), false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "base " << c.base << " \"" << c.text << "\"" << (c.strict ? " strict" : ""));
        Bytes out;
        EXPECT_EQ(decode(c.base, c.text, out, c.strict), c.valid);
        if (c.valid) {
            EXPECT_EQ(out, from_hex(c.hex));
        }
    }
    Bytes out;
    EXPECT_FALSE(decode(10, "10", out));
    EXPECT_FALSE(binary::supported_base(8));
}

TEST(BaseN, WideCharactersAreInvalidNotFolded) {
    // U+0141 is "A" + 256 and U+0F30 ends in "0" in its low byte: only the
    // whole code point may decide.
    for (const uint32_t cp : {0x141u, 0xF30u, 0x10041u}) {
        for (const int32_t base : {2, 16, 58, 64}) {
            SCOPED_TRACE(testing::Message() << "base " << base << " U+" << std::hex << cp);
            uint32_t units[3] = {'1', cp, '1'};
            Bytes out;
            EXPECT_FALSE(binary::decode_base(base, binary::Units{reinterpret_cast<uint8_t*>(units), 3, 4}, out));
        }
    }
}

}  // namespace
}  // namespace qel
