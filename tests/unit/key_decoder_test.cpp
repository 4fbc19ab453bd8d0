#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/key_decoder.hpp"

using namespace qel;

namespace {

// Every key the bytes give, feeding them one at a time, then a flush when
// asked (no more bytes came in time).
std::vector<int> decode(const std::string& bytes, bool flush = false) {
    keys::Decoder d;
    std::vector<int> out;
    int key;
    for (unsigned char b : bytes) {
        d.feed(b);
        while (d.next(key)) out.push_back(key);
    }
    if (flush) d.flush();
    while (d.next(key)) out.push_back(key);
    return out;
}

struct Case {
    const char* name;
    std::string bytes;
    bool flush;
    std::vector<int> keys;
};

}  // namespace

TEST(KeyDecoder, BytesToKeys) {
    const std::vector<Case> cases = {
        {"plain", "ab", false, {'a', 'b'}},
        {"enter as CR and LF", "\r\n", false, {13, 13}},
        {"control keys", std::string("\x01\x03\x04\x0b\x7f\x08", 6), false, {1, 3, 4, 11, 127, 8}},
        {"arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", false, {keys::UP, keys::DOWN, keys::RIGHT, keys::LEFT}},
        {"SS3 arrows and home/end", "\x1bOA\x1bOH\x1bOF", false, {keys::UP, keys::HOME, keys::END}},
        {"CSI home and end", "\x1b[H\x1b[F", false, {keys::HOME, keys::END}},
        {"tilde keys", "\x1b[1~\x1b[2~\x1b[3~\x1b[4~\x1b[5~\x1b[6~\x1b[7~\x1b[8~", false,
         {keys::HOME, keys::INSERT, keys::DELETE, keys::END, keys::PAGE_UP, keys::PAGE_DOWN, keys::HOME, keys::END}},
        {"modifiers ignored", "\x1b[1;5C\x1b[3;2~", false, {keys::RIGHT, keys::DELETE}},
        {"unknown sequences", "\x1b[15~\x1b[?1u\x1bOP", false, {0, 0, 0}},
        {"lone Esc needs the wait", "\x1b", false, {}},
        {"lone Esc after the wait", "\x1b", true, {27}},
        {"Esc then a letter", "\x1bx", false, {27, 'x'}},
        {"Esc Esc", "\x1b\x1b", true, {27, 27}},
        {"two-byte UTF-8", "\xc3\xa9", false, {0xE9}},
        {"three-byte UTF-8", "\xe2\x82\xac", false, {0x20AC}},
        {"four-byte UTF-8", "\xf0\x9f\x98\x80", false, {0x1F600}},
        {"overlong form", "\xc0\x80", false, {0xFFFD}},
        {"surrogate", "\xed\xa0\x80", false, {0xFFFD}},
        {"lone continuation byte", "\x80z", false, {0xFFFD, 'z'}},
        {"character cut short", "\xe2\x82z", false, {0xFFFD, 'z'}},
        {"character cut by the wait", "\xe2\x82", true, {0xFFFD}},
        {"control byte inside a sequence", "\x1b[1\x03", false, {0}},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.bytes, c.flush), c.keys) << c.name;
}

TEST(KeyDecoder, SequencesSplitAcrossReadsDecodeTheSame) {
    // Feeding in separate calls with keys taken between them is how reads
    // of one byte at a time arrive.
    keys::Decoder d;
    int key;
    for (unsigned char b : std::string("\x1b[")) {
        d.feed(b);
        EXPECT_FALSE(d.next(key));
    }
    EXPECT_TRUE(d.pending());
    d.feed('3');
    d.feed('~');
    ASSERT_TRUE(d.next(key));
    EXPECT_EQ(key, keys::DELETE);
    EXPECT_FALSE(d.pending());
}

TEST(KeyDecoder, CursorReportIsKeptAsideNotAKey) {
    keys::Decoder d;
    for (unsigned char b : std::string("x\x1b[12;40Ry")) d.feed(b);
    int key;
    std::vector<int> got;
    while (d.next(key)) got.push_back(key);
    EXPECT_EQ(got, (std::vector<int>{'x', 'y'}));
    int row = 0, col = 0;
    ASSERT_TRUE(d.take_position(row, col));
    EXPECT_EQ(row, 12);
    EXPECT_EQ(col, 40);
    EXPECT_FALSE(d.take_position(row, col));
}
