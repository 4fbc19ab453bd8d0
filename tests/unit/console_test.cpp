// Console writers: the exact bytes that reach the output descriptor for each
// unit width, line ends, staging across the flush limit, number formats,
// delivery failures, and which writers report to the second hook list.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/console.hpp"
#include "runtime/print_hooks.hpp"
#include "tests/unit/output_capture.hpp"

namespace {

using namespace qel;

std::string capture(const std::function<void()>& f) { return testutil::capture_output(f); }

// Exact-size heap copies, so that reading past the end is an ASan error.
std::vector<uint8_t> latin1(const std::string& s) { return {s.begin(), s.end()}; }
std::vector<uint16_t> ucs2(const std::u16string& s) { return {s.begin(), s.end()}; }
std::vector<uint32_t> ucs4(const std::u32string& s) { return {s.begin(), s.end()}; }

struct TextCase {
    const char* name;
    std::function<void()> write;
    std::string expected;
};

void run_cases(const std::vector<TextCase>& cases) {
    for (const auto& c : cases) EXPECT_EQ(capture(c.write), c.expected) << c.name;
}

TEST(ConsoleWriters, EncodesEveryUnitWidthAsUtf8) {
    const auto l_cafe = latin1("caf\xE9");
    const auto l_edges = latin1(std::string("\x7F\x80\xFF", 3));
    const auto l_nul = latin1(std::string("a\0b", 3));
    const auto u_cafe = ucs2(u"caf\u00E9");
    const auto u_euro = ucs2(u"\u20AC\uFFFF");
    const std::vector<uint16_t> u_lone = {0xD83D, 'x', 0xDC00};
    const std::vector<uint16_t> u_pair = {0xD83D, 0xDE00};
    const auto w_smile = ucs4(U"\U0001F600");
    const std::vector<uint32_t> w_bad = {0xD800, 0x110000, 0x10FFFF};
    run_cases({
        {"latin1 0xE9 widened", [&] { console::write_units(l_cafe.data(), l_cafe.size(), 1, false); }, "caf\xC3\xA9"},
        {"latin1 around 0x80", [&] { console::write_units(l_edges.data(), l_edges.size(), 1, false); },
         "\x7F\xC2\x80\xC3\xBF"},
        {"latin1 NUL is counted, not a terminator",
         [&] { console::write_units(l_nul.data(), l_nul.size(), 1, false); }, std::string("a\0b", 3)},
        {"ucs2 U+00E9", [&] { console::write_units(u_cafe.data(), u_cafe.size(), 2, false); }, "caf\xC3\xA9"},
        {"ucs2 three-byte forms", [&] { console::write_units(u_euro.data(), u_euro.size(), 2, false); },
         "\xE2\x82\xAC\xEF\xBF\xBF"},
        {"ucs2 lone surrogates become U+FFFD", [&] { console::write_units(u_lone.data(), u_lone.size(), 2, false); },
         "\xEF\xBF\xBDx\xEF\xBF\xBD"},
        {"ucs2 surrogate pair is not joined", [&] { console::write_units(u_pair.data(), u_pair.size(), 2, false); },
         "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"ucs4 U+1F600", [&] { console::write_units(w_smile.data(), w_smile.size(), 4, false); }, "\xF0\x9F\x98\x80"},
        {"ucs4 unencodable become U+FFFD", [&] { console::write_units(w_bad.data(), w_bad.size(), 4, false); },
         "\xEF\xBF\xBD\xEF\xBF\xBD\xF4\x8F\xBF\xBF"},
        {"empty text writes nothing", [&] { console::write_units(nullptr, 0, 1, false); }, ""},
    });
}

TEST(ConsoleWriters, LineVariantsEndWithOneLineFeed) {
    const auto l = latin1("ab");
    const auto u = ucs2(u"ab");
    const auto w = ucs4(U"ab");
    run_cases({
        {"latin1", [&] { console::write_units(l.data(), l.size(), 1, true); }, "ab\n"},
        {"ucs2", [&] { console::write_units(u.data(), u.size(), 2, true); }, "ab\n"},
        {"ucs4", [&] { console::write_units(w.data(), w.size(), 4, true); }, "ab\n"},
        {"empty line", [&] { console::write_units(nullptr, 0, 4, true); }, "\n"},
    });
}

TEST(ConsoleWriters, EscapeSequencesPassThroughUntouched) {
    const std::string seq = "\x1B[31mred\x1B[0m\x1B[?25l\x1B[2J\x1B" "x";
    const auto l = latin1(seq);
    const std::vector<uint16_t> u(seq.begin(), seq.end());
    const std::vector<uint32_t> w(seq.begin(), seq.end());
    run_cases({
        {"latin1", [&] { console::write_units(l.data(), l.size(), 1, false); }, seq},
        {"ucs2", [&] { console::write_units(u.data(), u.size(), 2, false); }, seq},
        {"ucs4", [&] { console::write_units(w.data(), w.size(), 4, false); }, seq},
        {"cstr", [&] { console::write_cstr(seq.c_str()); }, seq},
    });
}

// Sizes around the staging limit (1020 bytes), with multi-byte characters
// straddling it, and far beyond it.
TEST(ConsoleWriters, LongTextArrivesWholeAndInOrder) {
    for (size_t count : {1019u, 1020u, 1021u, 1022u, 2047u, 20000u}) {
        std::vector<uint8_t> l(count);
        std::string expected_l;
        for (size_t i = 0; i < count; ++i) {
            l[i] = static_cast<uint8_t>(i % 7 == 0 ? 0xC0 + i % 32 : 'a' + i % 26);
            uint8_t b = l[i];
            if (b < 0x80) expected_l += static_cast<char>(b);
            else expected_l += {static_cast<char>(0xC0 | b >> 6), static_cast<char>(0x80 | (b & 0x3F))};
        }
        EXPECT_EQ(capture([&] { console::write_units(l.data(), l.size(), 1, true); }), expected_l + "\n")
            << count << " latin1 units";

        std::vector<uint32_t> w(count / 4 + 1);
        std::string expected_w;
        for (size_t i = 0; i < w.size(); ++i) {
            w[i] = 0x1F600 + static_cast<uint32_t>(i % 64);
            expected_w += {'\xF0', '\x9F', '\x98', static_cast<char>(0x80 + i % 64)};
        }
        EXPECT_EQ(capture([&] { console::write_units(w.data(), w.size(), 4, false); }), expected_w)
            << w.size() << " ucs4 units";
    }
}

TEST(ConsoleWriters, NumberFormats) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    run_cases({
        {"integer 0", [] { console::print_integer(0); }, "0"},
        {"integer negative", [] { console::print_integer(-42); }, "-42"},
        {"integer min", [] { console::print_integer(INT32_MIN); }, "-2147483648"},
        {"integer max", [] { console::print_integer(INT32_MAX); }, "2147483647"},
        {"hex8 pads", [] { console::print_hex8(255); }, "000000FF"},
        {"hex8 full", [] { console::print_hex8(0xDEADBEEF); }, "DEADBEEF"},
        {"hex8 zero", [] { console::print_hex8(0); }, "00000000"},
        {"float 0.1", [] { console::print_float(0.1); }, "0.1"},
        {"float 1e300", [] { console::print_float(1e300); }, "1e+300"},
        {"float 1/3", [] { console::print_float(1.0 / 3); }, "0.3333333333333333"},
        {"float integral", [] { console::print_float(100.0); }, "100"},
        {"float 1e15 fixed", [] { console::print_float(1e15); }, "1000000000000000"},
        {"float 1e16 exponent", [] { console::print_float(1e16); }, "1e+16"},
        {"float rounds to 16 digits", [] { console::print_float(123456789012345678.0); },
         "1.234567890123457e+17"},
        {"float small exponent has two digits", [] { console::print_float(1e-5); }, "1e-05"},
        {"float 1e-4 fixed", [] { console::print_float(1e-4); }, "0.0001"},
        {"float negative zero", [] { console::print_float(-0.0); }, "-0"},
        {"float denormal", [] { console::print_float(5e-324); }, "4.940656458412465e-324"},
        {"float inf", [=] { console::print_float(inf); }, "inf"},
        {"float -inf", [=] { console::print_float(-inf); }, "-inf"},
        {"float nan", [=] { console::print_float(nan); }, "nan"},
        {"float32 0.1", [] { console::print_float32(0.1f); }, "0.1"},
        {"float32 1/3", [] { console::print_float32(1.0f / 3); }, "0.3333333"},
        {"float32 2^24+1 rounds", [] { console::print_float32(16777217.0f); }, "1.677722e+07"},
        {"float32 max", [] { console::print_float32(std::numeric_limits<float>::max()); }, "3.402823e+38"},
    });
}

// printf's "%.16g" and "%.7g" are the reference the formats are named after;
// the test process runs in the "C" locale, so snprintf is a fair oracle here.
TEST(ConsoleWriters, FloatFormatsMatchPrintf) {
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 2000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        double d;
        std::memcpy(&d, &state, sizeof d);
        if (i % 2) d = static_cast<double>(static_cast<int64_t>(state >> 20)) / 1000.0;
        char want[64];
        std::snprintf(want, sizeof want, "%.16g", d);
        EXPECT_EQ(capture([&] { console::print_float(d); }), want);
        const float f = static_cast<float>(d);
        std::snprintf(want, sizeof want, "%.7g", static_cast<double>(f));
        EXPECT_EQ(capture([&] { console::print_float32(f); }), want);
    }
}

std::vector<std::string>* hook_log = nullptr;

void record_second(const void* text, size_t length, int zero) {
    if (!hook_log) return;
    EXPECT_EQ(zero, 0);
    hook_log->emplace_back(static_cast<const char*>(text), length);
}

TEST(ConsoleWriters, SecondHookListSeesCstrAndNumbersOnly) {
    print_hooks::init();
    print_hooks::add(nullptr, record_second);
    std::vector<std::string> log;
    hook_log = &log;
    const char* hello = "hello";
    const auto l = latin1("string");
    const auto w = ucs4(U"wide");
    const char* returned = nullptr;
    std::string out = capture([&] {
        returned = console::write_cstr(hello);
        console::write_units(l.data(), l.size(), 1, true);
        console::write_units(w.data(), w.size(), 4, false);
        console::write_bytes("raw", 3);
        console::print_integer(-7);
        console::print_hex8(10);
        console::print_float(2.5);
        console::print_float32(0.25f);
    });
    hook_log = nullptr;
    print_hooks::init();
    EXPECT_EQ(returned, hello);
    EXPECT_EQ(out, "hellostring\nwideraw-70000000A2.50.25");
    EXPECT_EQ(log, (std::vector<std::string>{"hello", "-7", "0000000A", "2.5", "0.25"}));
}

// A reader that went away or a bad descriptor must neither stop the program
// nor leave staged bytes behind to come out in front of later output.
TEST(ConsoleWriters, UndeliverableOutputIsDroppedSilently) {
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);

    std::vector<uint8_t> big(5000, 'z');
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    for (int fd : {fds[1], -1}) {
        errno = 0;
        console::set_output_fd(fd);
        console::write_units(big.data(), big.size(), 1, true);
        console::write_cstr("lost");
        console::print_float(1.5);
        console::set_output_fd(1);
        EXPECT_EQ(errno, 0) << "the writers leave errno as they found it";
    }
    ::close(fds[1]);
    sigaction(SIGPIPE, &old, nullptr);

    const auto l = latin1("after");
    EXPECT_EQ(capture([&] { console::write_units(l.data(), l.size(), 1, false); }), "after");
}

// The stop is the runtime's, installed with its output hooks.
TEST(ConsoleDeathTest, UnitWidthOutsideOneTwoFourIsRuntimeError101) {
    const uint8_t text[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    for (uint32_t unit : {0u, 3u, 8u})
        EXPECT_EXIT((print_hooks::init(), console::write_units(text, 1, unit, false)),
                    ::testing::ExitedWithCode(101), "")
            << unit;
}

}  // namespace
