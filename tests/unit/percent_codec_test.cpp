// The percent codec on bytes: decoding of escapes (single bytes, whole
// UTF-8 sequences, and the incomplete or invalid ones that stay as text),
// encoding under both character tables, the tables themselves against an
// independent list, and round trips of mixed text.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "datatypes/percent_codec.hpp"

namespace {

using namespace qel;

std::string utf8(const std::vector<uint32_t>& cps) {
    std::string s;
    for (uint32_t cp : cps) {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | cp >> 6);
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += static_cast<char>(0xE0 | cp >> 12);
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | cp >> 18);
            s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return s;
}

std::vector<uint32_t> decode(const std::string& in) {
    std::vector<uint32_t> out;
    url::decode_bytes(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out);
    return out;
}

std::string encode(const std::string& in, uint32_t selector) {
    std::string out;
    url::encode_bytes(reinterpret_cast<const uint8_t*>(in.data()), in.size(), selector, out);
    return out;
}

TEST(PercentCodec, Decodes) {
    struct Case {
        const char* in;
        std::vector<uint32_t> want;
    };
    const Case cases[] = {
        {"", {}},
        {"a%20b", {'a', ' ', 'b'}},
        {"%41%42", {'A', 'B'}},
        {"%4a%4A", {'J', 'J'}},                        // either case of digit
        {"%C3%A9", {0xE9}},                            // two-byte sequence
        {"%E2%82%AC", {0x20AC}},                       // three bytes
        {"%F0%9F%98%80", {0x1F600}},                   // four bytes
        {"%A9", {0xA9}},                               // a lone continuation byte is its own code point
        {"%e9", {'%', 'e', '9'}},                      // lead byte without its continuation escapes
        {"%E2%82", {'%', 'E', '2', 0x82}},             // one escape short: the lead stays text
        {"%C3%41", {'%', 'C', '3', 'A'}},              // second byte not a continuation
        {"%C0%80", {'%', 'C', '0', 0x80}},             // overlong form
        {"%ED%A0%80", {'%', 'E', 'D', 0xA0, 0x80}},    // a surrogate has no UTF-8 form
        {"%F8%80%80%80", {'%', 'F', '8', 0x80, 0x80, 0x80}},
        {"100%", {'1', '0', '0', '%'}},
        {"%4", {'%', '4'}},
        {"%g1", {'%', 'g', '1'}},
        {"%%41", {'%', 'A'}},
        {"\x25\xC3\xA9", {'%', 0xE9}},                 // a percent sign before a non-ASCII character
        {"\xC3\xA9%20\xE2\x82\xAC", {0xE9, ' ', 0x20AC}},
    };
    for (const Case& c : cases) EXPECT_EQ(utf8(decode(c.in)), utf8(c.want)) << "input " << c.in;
}

TEST(PercentCodec, Encodes) {
    struct Case {
        const char* in;
        const char* strict;
        const char* url;
    };
    const Case cases[] = {
        {"", "", ""},
        {"a b/c", "a%20b%2Fc", "a%20b/c"},
        {"AZaz09-._~", "AZaz09-._~", "AZaz09-._~"},
        {"!#$&'()*+,:=?@", "%21%23%24%26%27%28%29%2A%2B%2C%3A%3D%3F%40", "!#$&'()*+,:=?@"},
        {"%\"<>[]\\^`{|};", "%25%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D%3B", "%25%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D%3B"},
        {"\xC3\xA9", "%C3%A9", "%C3%A9"},
        {"\t\x7F", "%09%7F", "%09%7F"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode(c.in, url::STRICT_TABLE), c.strict) << "input " << c.in;
        EXPECT_EQ(encode(c.in, url::URL_TABLE), c.url) << "input " << c.in;
    }
}

TEST(PercentCodec, TablesMatchTheirCharacterLists) {
    const std::string unreserved = "-._~";
    const std::string url_marks = "!#$&'()*+,-./:=?@_~";
    for (int c = 0; c < 256; c++) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool strict = alnum || (c < 128 && unreserved.find(static_cast<char>(c)) != std::string::npos);
        const bool url = alnum || (c < 128 && c > 0 && url_marks.find(static_cast<char>(c)) != std::string::npos);
        EXPECT_EQ(url::strict_literal(static_cast<uint8_t>(c)), strict) << c;
        EXPECT_EQ(url::url_literal(static_cast<uint8_t>(c)), url) << c;
        char text[3];
        EXPECT_EQ(url::encode_byte(url::STRICT_TABLE, static_cast<uint8_t>(c), text), strict ? 1u : 3u) << c;
        // Any selector other than the strict one picks the URL table.
        EXPECT_EQ(url::encode_byte(7, static_cast<uint8_t>(c), text), url ? 1u : 3u) << c;
        if (c < 128) {
            const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
            EXPECT_EQ(url::hex_digit[c] != 255, hex) << c;
        }
    }
}

TEST(PercentCodec, EscapeNeedsTwoAsciiDigitsWithinTheInput) {
    uint8_t v = 0;
    const uint8_t full[] = {'%', 'f', 'F'};
    EXPECT_TRUE(url::decode_escape(full, full + 3, v));
    EXPECT_EQ(v, 0xFF);
    EXPECT_FALSE(url::decode_escape(full, full + 2, v));  // cut short by the end
    const uint8_t wide[] = {'%', 0xC3, 0xA9};
    EXPECT_FALSE(url::decode_escape(wide, wide + 3, v));
}

// Encoding then decoding gives the text back, whatever it holds: percent
// signs, marks of both tables and characters of every UTF-8 length.
TEST(PercentCodec, RoundTrips) {
    const uint32_t pool[] = {'%', ' ', '/', 'a', 'Z', '0', '~', '#', '+', 0x7F, 0xE9, 0x3B1, 0x20AC, 0xFFFD, 0x1F600};
    std::mt19937 rng(12345);
    for (int n = 0; n < 300; n++) {
        std::vector<uint32_t> cps(rng() % 12);
        for (uint32_t& cp : cps) cp = pool[rng() % (sizeof pool / sizeof pool[0])];
        const std::string text = utf8(cps);
        for (uint32_t selector : {url::STRICT_TABLE, url::URL_TABLE}) {
            const std::string encoded = encode(text, selector);
            for (char ch : encoded) ASSERT_LT(static_cast<unsigned char>(ch), 128u);
            EXPECT_EQ(utf8(decode(encoded)), text) << encoded;
        }
    }
}

}  // namespace
