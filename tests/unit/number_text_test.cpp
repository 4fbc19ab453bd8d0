// Number text: integer, float and money scanning of string units of every
// width, and the float literal syntax shared with the lexer.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/money.hpp"
#include "datatypes/number_text.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using number_text::STATUS_INVALID;
using number_text::STATUS_OK;
using number_text::STATUS_OVERFLOW;

// The text in units of the given width.
std::vector<uint8_t> units(const std::u32string& s, uint32_t unit) {
    std::vector<uint8_t> out(s.size() * unit + 1);
    for (size_t i = 0; i < s.size(); i++) {
        const uint32_t c = s[i];
        if (unit == 1) out[i] = static_cast<uint8_t>(c);
        else if (unit == 2) {
            const uint16_t u = static_cast<uint16_t>(c);
            std::memcpy(&out[2 * i], &u, 2);
        } else {
            std::memcpy(&out[4 * i], &c, 4);
        }
    }
    return out;
}

std::u32string wide(const char* s) { return std::u32string(s, s + std::strlen(s)); }

TEST(NumberTextInteger, SignsSeparatorsAndTheEdgesOf32Bits) {
    struct Case {
        const char* text;
        int32_t value;
        int32_t status;
    };
    const Case cases[] = {
        {"0", 0, STATUS_OK},
        {"+7", 7, STATUS_OK},
        {"-0", 0, STATUS_OK},
        {"1'000", 1000, STATUS_OK},
        {"'1'0'", 10, STATUS_OK},  // apostrophes are skipped anywhere
        {"2147483647", INT32_MAX, STATUS_OK},
        {"-2147483648", INT32_MIN, STATUS_OK},
        {"2147483648", 0, STATUS_OVERFLOW},
        {"-2147483649", 0, STATUS_OVERFLOW},
        {"-21474836480", 0, STATUS_OVERFLOW},
        {"99999999999999999999", 0, STATUS_OVERFLOW},
        {"12a", 0, STATUS_INVALID},
        {"1 2", 0, STATUS_INVALID},
        {"1-", 0, STATUS_INVALID},
        {"", 0, STATUS_INVALID},
        {"-", 0, STATUS_INVALID},
        {"'", 0, STATUS_INVALID},
    };
    for (const Case& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            SCOPED_TRACE(std::string(c.text) + " unit " + std::to_string(unit));
            const auto u = units(wide(c.text), unit);
            int32_t status = 99;
            const int32_t v = number_text::scan_decimal_integer(u.data(), static_cast<uint32_t>(std::strlen(c.text)),
                                                                unit, &status);
            EXPECT_EQ(status, c.status);
            if (c.status == STATUS_OK) {
                EXPECT_EQ(v, c.value);
            }
        }
    }
    // A digit beyond Latin-1 (ARABIC-INDIC ONE) is not a digit here.
    const auto u = units(U"1\u0661", 2);
    int32_t status = 0;
    number_text::scan_decimal_integer(u.data(), 2, 2, &status);
    EXPECT_EQ(status, STATUS_INVALID);
}

TEST(NumberTextFloat, LiteralSyntax) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"1", true},        {"1.", true},       {".5", true},       {"1.5", true},
        {"-1.5", true},     {"+-1.5", true},    {"1e5", true},      {"1E-5", true},
        {"1.5e+5", true},   {".5e5", true},     {"1'000.5", true},  {"1.5'", true},
        {"1'", true},       {"1.0'0", true},    {".", true},
        {"1.e5", false},    // a bare point cannot lead into an exponent
        {"1''0", false},    {"'1", false},      {"1'.5", false},    {"1.'5", false},
        {"1'e5", false},    {"1.5'e5", false},  {"1e", false},      {"1e+", false},
        {"1e5'", false},    {"1e5.", false},    {"1.5.", false},    {"", false},
        {"-", false},       {"e5", false},      {"1,5", false},     {"1.5x", false},
        {"0x1p3", false},   {"inf", false},     {"1_000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(number_text::float_syntax(c.text, std::strlen(c.text)), c.valid);
    }
}

TEST(NumberTextFloat, ScanningStringUnits) {
    struct Case {
        const char* text;
        double value;  // NaN: invalid
    };
    const double bad = std::nan("");
    const Case cases[] = {
        {"1,5", 1.5},  // a comma is a decimal point
        {"1'000.25", 1000.25},
        {"-0.5e-3", -0.0005},
        {"1.", 1.0},
        {".5", 0.5},
        {"42", 42.0},
        {"1.e5", bad},
        {"--1", bad},  // the syntax allows repeated signs; the value does not
        {".", bad},
        {"", bad},
        {" 1", bad},
        {"1.5 ", bad},
        {"1.#INF", bad},
    };
    for (const Case& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            SCOPED_TRACE(std::string(c.text) + " unit " + std::to_string(unit));
            const auto u = units(wide(c.text), unit);
            int32_t status = 99;
            const double v =
                number_text::scan_float(u.data(), static_cast<uint32_t>(std::strlen(c.text)), unit, &status);
            if (std::isnan(c.value)) {
                EXPECT_EQ(status, STATUS_INVALID);
                EXPECT_TRUE(std::isnan(v));
            } else {
                EXPECT_EQ(status, STATUS_OK);
                EXPECT_EQ(v, c.value);
            }
        }
    }
}

TEST(NumberTextFloat, LengthLimitAndAdjustment) {
    int32_t status = 0;
    const std::string longest = "1." + std::string(310, '0');  // 312 characters
    EXPECT_EQ(number_text::scan_float(longest.data(), 312, 1, &status), 1.0);
    EXPECT_EQ(status, STATUS_OK);
    const std::string too_long = longest + "0";
    number_text::scan_float(too_long.data(), 313, 1, &status);
    EXPECT_EQ(status, STATUS_INVALID);
    EXPECT_EQ(number_text::scan_float("12.5", 4, 1, &status, -2), 0.125);
    EXPECT_EQ(number_text::scan_float("0.7", 3, 1, &status, -2), 0.007);  // not 0.7 / 100
    const auto w = units(U"1\u00B75", 2);  // a middle dot is no point
    number_text::scan_float(w.data(), 3, 2, &status);
    EXPECT_EQ(status, STATUS_INVALID);
}

// Money texts in every unit width, without a currency code (the library
// has not made the system object here, so every code is unlisted); a character
// outside ASCII is never part of one.
class NumberTextMoney : public testutil::StartedRuntime {};

TEST_F(NumberTextMoney, EveryUnitWidthReadsTheSameAmount) {
    struct Case {
        std::u32string text;
        money::Amount amount;
        int32_t status;
    };
    const Case cases[] = {
        {wide("$1'000.50"), 100050000, STATUS_OK},
        {wide("-1.5"), -150000, STATUS_OK},
        {wide("$0.123456"), 12345, STATUS_OK},
        {wide("USD$1"), 0, STATUS_INVALID},
        {wide("$123456789012345678"), 0, STATUS_OVERFLOW},
        {U"$1\u20AC", 0, STATUS_INVALID},
        {U"$1\U0001F600", 0, STATUS_INVALID},
    };
    for (const Case& c : cases)
        for (uint32_t unit : {1u, 2u, 4u}) {
            if (unit < 4 && c.text.back() > 0xFFFF) continue;
            if (unit < 2 && c.text.back() > 0xFF) continue;
            SCOPED_TRACE(testing::Message() << "unit " << unit << " case " << static_cast<int>(&c - cases));
            const std::vector<uint8_t> u = units(c.text, unit);
            Cell out{};
            int32_t status = 1;
            number_text::scan_money(u.data(), static_cast<uint32_t>(c.text.size()), unit, &out, &status);
            EXPECT_EQ(status, c.status);
            if (c.status == STATUS_OK) {
                EXPECT_TRUE(money::amount_of(&out) == c.amount);
            }
        }
}

}  // namespace
}  // namespace qel
