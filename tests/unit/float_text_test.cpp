// Float text: the layout of written floats, correctly rounded reading at
// the awkward places (ties, subnormals, overflow, saturating exponents,
// very long digit strings), and a differential check of the shortest
// digits against Python's repr over random bit patterns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/float_text.hpp"
#include "test_support.hpp"

namespace qel {
namespace {

uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, 8);
    return d;
}

std::string format(double v, int32_t precision = 0, bool point = true) {
    char buf[float_text::FORMAT_MAX];
    const size_t n = float_text::format(v, precision, point, buf);
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

double parse(const std::string& s, int32_t adjust = 0, size_t* unparsed = nullptr) {
    size_t left = 99;
    const double d = float_text::parse(s.data(), s.data() + s.size(), adjust, &left);
    if (unparsed) *unparsed = left;
    else EXPECT_EQ(left, 0u) << s;
    return d;
}

TEST(FloatTextFormat, LayoutOfShortestDigits) {
    struct Case {
        double value;
        bool point;
        const char* text;
    };
    const Case cases[] = {
        {1.0, true, "1.0"},
        {1.0, false, "1"},
        {0.1, true, "0.1"},
        {0.1 + 0.2, true, "0.30000000000000004"},
        {1.0 / 3, true, "0.3333333333333333"},
        {-2.5, true, "-2.5"},
        {1e-7, true, "0.0000001"},    // the smallest exponent written plainly
        {1e-8, true, "1.0e-8"},
        {1e-8, false, "1e-8"},
        {1.5e-8, true, "1.5e-8"},
        {1e16, true, "10000000000000000.0"},
        {1e17, true, "1.0e17"},     // the first exponent written scientifically
        {1.25e17, true, "1.25e17"},
        {123456789012345678.0, true, "1.2345678901234568e17"},
        {1e300, false, "1e300"},
        {DBL_MAX, true, "1.7976931348623157e308"},
        {5e-324, true, "5.0e-324"},  // smallest subnormal
        {DBL_MIN, true, "2.2250738585072014e-308"},
        {0.0, true, "0.0"},
        {0.0, false, "0"},
        {-0.0, true, "-0.0"},
        {-0.0, false, "-0"},
        {HUGE_VAL, true, "1.#INF"},
        {-HUGE_VAL, false, "-1.#INF"},
        {std::nan(""), true, "1.#NaN"},
        {-std::nan(""), true, "1.#NaN"},  // NaN is written without its sign
        {120.0, true, "120.0"},
        {0.001, true, "0.001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(format(c.value, 0, c.point), c.text);
    }
}

TEST(FloatTextFormat, FixedPrecisionRoundsAndCarries) {
    struct Case {
        double value;
        int32_t precision;
        const char* text;
    };
    const Case cases[] = {
        {1.0 / 3, 6, "0.333333"},
        {2.0 / 3, 6, "0.666667"},
        {9.9999999, 6, "10"},      // the carry raises the exponent
        {999999.5, 6, "1000000"},  // a tie in binary too: rounds to even, i.e. up
        {0.125, 2, "0.12"},        // exact tie: half to even
        {0.375, 2, "0.38"},
        {1.5, 6, "1.5"},           // trailing zeros dropped
        {1e20, 6, "1e20"},
        {12345678.9, 6, "12345700"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(format(c.value, c.precision, false), c.text);
    }
}

TEST(FloatTextFormat, DigitsAndExponentOfDtoa) {
    float_text::Digits d;
    float_text::dtoa(1234.5, 0, d);
    EXPECT_STREQ(d.digits, "12345");
    EXPECT_EQ(d.exponent, 4);
    EXPECT_FALSE(d.negative);
    float_text::dtoa(-0.00125, 0, d);
    EXPECT_STREQ(d.digits, "125");
    EXPECT_EQ(d.exponent, -2);
    EXPECT_TRUE(d.negative);
    float_text::dtoa(0.0, 0, d);
    EXPECT_EQ(d.exponent, float_text::EXP_ZERO);
    float_text::dtoa(HUGE_VAL, 0, d);
    EXPECT_EQ(d.exponent, float_text::EXP_SPECIAL);
}

TEST(FloatTextParse, CorrectlyRoundedAtTheEdges) {
    const std::string long_tie_plus = "9007199254740993" + std::string(800, '0') + "1e-801";
    const std::string long_zeros = "0." + std::string(400, '0') + "1e401";
    struct Case {
        std::string text;
        int32_t adjust;
        double value;
    };
    const Case cases[] = {
        {"1e22", 0, 1e22},                      // exact power of ten
        {"1e23", 0, 1e23},
        {"12.5", -2, 0.125},                    // the percent literal adjustment
        {"0.1", 0, 0.1},
        {"+0.5", 0, 0.5},
        {"1.", 0, 1.0},
        {".5", 0, 0.5},
        {"000123.4500", 0, 123.45},
        {"0.000001e6", 0, 1.0},
        {"9007199254740993", 0, 9007199254740992.0},  // exact tie: to even
        {"9007199254740995", 0, 9007199254740996.0},
        {long_tie_plus, 0, 9007199254740994.0},        // past the kept digits, still above the tie
        {long_zeros, 0, 1.0},
        {"2.2250738585072011e-308", 0, from_bits(0x000FFFFFFFFFFFFF)},  // largest subnormal
        {"2.4703282292062328e-324", 0, 5e-324},        // just above half the smallest subnormal
        {"2.4703282292062327e-324", 0, 0.0},           // just below: underflows
        {"1.7976931348623158e308", 0, DBL_MAX},        // rounds down to the largest double
        {"1.7976931348623159e308", 0, HUGE_VAL},       // rounds up past it
        {"1e400", 0, HUGE_VAL},
        {"1e-400", 0, 0.0},
        {"1e4294967297", 0, HUGE_VAL},                 // exponents saturate, never wrap
        {"1e-4294967297", 0, 0.0},
        {"1e99999999999999999999999999", 0, HUGE_VAL},
        {"0e99999999999999999999", 0, 0.0},
        {"-1e4294967297", 0, -HUGE_VAL},
        {"1.#INF", 0, HUGE_VAL},
        {"-1.#inf", 0, -HUGE_VAL},
        {"+1.#INF", 0, HUGE_VAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(bits_of(parse(c.text, c.adjust)), bits_of(c.value));
    }
    EXPECT_EQ(bits_of(parse("-0")), bits_of(-0.0));
    EXPECT_EQ(bits_of(parse("-0.0e5")), bits_of(-0.0));
    EXPECT_TRUE(std::isnan(parse("1.#NaN")));
    EXPECT_FALSE(std::signbit(parse("-1.#nan")));  // NaN is always positive
}

TEST(FloatTextParse, UnparsedCountStopsAtTheFirstForeignCharacter) {
    struct Case {
        const char* text;
        double value;
        size_t unparsed;
    };
    const Case cases[] = {
        {"1.5x", 1.5, 1},
        {"1e", 1.0, 1},     // an exponent needs a digit
        {"1e+", 1.0, 2},
        {"1e5e", 1e5, 1},
        {".", 0.0, 1},      // no digit at all: nothing read
        {"-", 0.0, 1},
        {"", 0.0, 0},
        {"--1", 0.0, 3},
        {"abc", 0.0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        size_t unparsed = 0;
        EXPECT_EQ(parse(c.text, 0, &unparsed), c.value);
        EXPECT_EQ(unparsed, c.unparsed);
    }
}

// Decimal digits and point position of a Python repr text ("1e+16",
// "0.0001", "1.5e-300"): the same normal form dtoa answers.
void digits_of_repr(const std::string& repr, std::string& digits, int32_t& exponent) {
    std::string mantissa = repr;
    int32_t e = 0;
    const size_t epos = repr.find('e');
    if (epos != std::string::npos) {
        mantissa = repr.substr(0, epos);
        e = std::stoi(repr.substr(epos + 1));
    }
    if (!mantissa.empty() && mantissa[0] == '-') mantissa.erase(0, 1);
    const size_t dot = mantissa.find('.');
    int32_t point = static_cast<int32_t>(dot == std::string::npos ? mantissa.size() : dot);
    std::string all;
    for (char c : mantissa)
        if (c != '.') all += c;
    size_t lead = 0;
    while (lead + 1 < all.size() && all[lead] == '0') lead++;
    point -= static_cast<int32_t>(lead);
    all.erase(0, lead);
    while (all.size() > 1 && all.back() == '0') all.pop_back();
    digits = all;
    exponent = point + e;
}

TEST(FloatTextDifferential, ShortestDigitsMatchPythonReprAndReadBack) {
    std::string probe;
    if (testutil::run_command("python3 -c 'print(1)' 2>/dev/null", probe) != 0) GTEST_SKIP() << "python3 absent";
#ifdef NDEBUG
    constexpr size_t COUNT = 1000000;
#else
    constexpr size_t COUNT = 200000;  // unoptimised builds: a smaller sample
#endif
    std::mt19937_64 gen(20240611);
    std::vector<uint64_t> patterns;
    patterns.reserve(COUNT);
    patterns.push_back(0);
    patterns.push_back(uint64_t{1} << 63);  // -0.0
    patterns.push_back(1);                  // smallest subnormal
    patterns.push_back(0x7FEFFFFFFFFFFFFF);
    while (patterns.size() < COUNT) {
        uint64_t b = gen();
        switch (patterns.size() % 4) {
            case 0: b &= 0x800FFFFFFFFFFFFF; break;  // subnormals
            case 1: b = (b & 0x800FFFFFFFFFFFFF) | (uint64_t{1023 + (b >> 52) % 120 - 60} << 52); break;  // near 1
            default: break;                          // anything
        }
        if (((b >> 52) & 0x7FF) == 0x7FF) continue;  // infinities and NaN are spelled our own way
        patterns.push_back(b);
    }
    // A folder of its own: builds that run their tests at the same time
    // must not share these files.
    std::string dir_template = ::testing::TempDir() + "/qel-float-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template.data()), nullptr);
    const std::string dir = dir_template;
    const std::string in_path = dir + "/float_bits.txt", out_path = dir + "/float_repr.txt";
    {
        std::ofstream f(in_path);
        char line[24];
        for (uint64_t b : patterns) {
            std::snprintf(line, sizeof line, "%016llx\n", static_cast<unsigned long long>(b));
            f << line;
        }
    }
    const std::string script =
        "import struct,sys\n"
        "out=open(sys.argv[2],'w')\n"
        "out.write(''.join(repr(struct.unpack('>d',bytes.fromhex(l.strip()))[0])+'\\n' for l in open(sys.argv[1])))\n";
    const std::string script_path = dir + "/float_repr.py";
    std::ofstream(script_path) << script;
    std::string ignored;
    ASSERT_EQ(testutil::run_command("python3 " + script_path + " " + in_path + " " + out_path, ignored), 0);
    std::ifstream reprs(out_path);
    std::string repr, digits;
    int32_t exponent = 0;
    size_t checked = 0, failures = 0;
    for (uint64_t b : patterns) {
        ASSERT_TRUE(std::getline(reprs, repr));
        const double v = from_bits(b);
        float_text::Digits d;
        float_text::dtoa(v, 0, d);
        char text[float_text::FORMAT_MAX];
        const size_t n = float_text::format(v, 0, true, text);
        size_t unparsed = 1;
        const double back = float_text::parse(text, text + n, 0, &unparsed);
        bool ok = unparsed == 0 && bits_of(back) == b;
        if (v != 0) {
            digits_of_repr(repr, digits, exponent);
            ok = ok && digits == d.digits && exponent == d.exponent;
        } else {
            ok = ok && std::string(text) == repr;
        }
        if (!ok && ++failures <= 10)
            ADD_FAILURE() << std::hex << b << ": python " << repr << ", here " << text;
        checked++;
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_EQ(checked, COUNT);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qel
