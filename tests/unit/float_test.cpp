// float!: the number formatter, form and mold, the tolerant comparison,
// the arithmetic dispatcher's result types and refusals, rounding in every
// mode (with its edge scales), and make/to from each kind of argument.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "datatypes/float.hpp"
#include "datatypes/text.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

Cell flt(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}
Cell typed(uint32_t type, double d) {
    Cell c = flt(d);
    c.header = type;
    return c;
}
Cell intc(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

std::string format_number(double v, int32_t kind) {
    char buf[float_type::FORMAT_MAX];
    const size_t n = float_type::format_number(v, kind, buf);
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

// Restores the pretty-print flag whatever a test does to it.
struct PrettyPrint {
    explicit PrettyPrint(bool on) : saved(float_type::pretty_print) { float_type::pretty_print = on; }
    ~PrettyPrint() { float_type::pretty_print = saved; }
    bool saved;
};

TEST(FloatFormatNumber, KindsPrecisionsAndNoiseTrim) {
    struct Case {
        double value;
        int32_t kind;
        bool pretty;
        const char* text;
    };
    using namespace float_type;
    const Case cases[] = {
        {0.1 + 0.2, KIND_FLOAT, true, "0.3"},
        {0.57 * 100, KIND_FLOAT, true, "57.0"},            // ...99 printed again with 14 digits
        {0.57 * 100, KIND_FLOAT, false, "56.99999999999999"},
        {1.0 / 3, KIND_FLOAT, true, "0.3333333333333333"},
        {100.0, KIND_FLOAT, true, "100.0"},
        {1e300, KIND_FLOAT, true, "1.0e300"},
        {1.5e20, KIND_FLOAT, true, "1.5e20"},
        {-2.5e-7, KIND_FLOAT, true, "-2.5e-7"},
        {1e-5, KIND_FLOAT, true, "1.0e-5"},
        {1e-20, KIND_FLOAT, true, "0.0"},                  // near zero is zero when pretty
        {1.5e-20, KIND_FLOAT, false, "1.5e-20"},
        {0.0, KIND_FLOAT, false, "0.0"},
        {-0.0, KIND_FLOAT, false, "-0.0"},
        {1e16, KIND_FLOAT, true, "1.0e16"},
        {123456789.0, KIND_FLOAT, true, "123456789.0"},
        {5e-324, KIND_FLOAT, false, "4.940656458412465e-324"},
        {HUGE_VAL, KIND_FLOAT, true, "1.#INF"},
        {-HUGE_VAL, KIND_PERCENT, true, "-1.#INF"},
        {-std::nan(""), KIND_POINT, true, "1.#NaN"},
        {50.0, KIND_PERCENT, true, "50%"},
        {12.5, KIND_PERCENT, true, "12.5%"},
        {0.0, KIND_PERCENT, false, "0%"},
        {1e-17, KIND_PERCENT, true, "0%"},
        {1.0 / 3 * 100, KIND_PERCENT, true, "33.33333333333%"},
        {1.0 / 3, KIND_FLOAT32, true, "0.3333333"},
        {2.0, KIND_FLOAT32, true, "2.0"},
        {1.0 / 3 * 100, KIND_PERCENT32, true, "33.33333%"},
        {1.5, KIND_SECONDS, true, "1.5"},
        {59.9999999, KIND_SECONDS, true, "60"},
        {0.0, KIND_SECONDS, true, "0.0"},
        {1.5, KIND_POINT, true, "1.5"},
        {0.0, KIND_POINT, true, "0"},
        {1e-20, KIND_POINT, false, "1e-20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PrettyPrint p(c.pretty);
        EXPECT_EQ(format_number(c.value, c.kind), c.text);
    }
}

// x moved n units in the last place toward +infinity.
double ulps_up(double x, int n) {
    for (int i = 0; i < n; i++) x = std::nextafter(x, HUGE_VAL);
    return x;
}

TEST(FloatEquality, TenUnitsInTheLastPlace) {
    const double one = 1.0;
    struct Case {
        double a, b;
        bool equal;
    };
    const Case cases[] = {
        {0.1 + 0.2, 0.3, true},
        {one, std::nextafter(one, 2.0), true},
        {1e300, ulps_up(1e300, 10), true},
        {1e300, ulps_up(1e300, 11), false},
        {-5e-324, ulps_up(-5e-324, 10), true},  // across zero
        {one, ulps_up(one, 11), false},
        {1e-300, -1e-300, true},   // within the absolute tolerance
        {0.0, -0.0, true},
        {1e300, -1e300, false},
        {5e-324, -5e-324, true},
        {std::nan(""), std::nan(""), false},
        {HUGE_VAL, HUGE_VAL, true},
        {HUGE_VAL, DBL_MAX, true},  // adjacent keys
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " " << c.b);
        EXPECT_EQ(float_type::almost_equal(c.a, c.b), c.equal);
        EXPECT_EQ(float_type::almost_equal(c.b, c.a), c.equal);
    }
    struct Case32 {
        float a, b;
        bool equal;
    };
    const float big = 3.4028235e38f;
    const Case32 cases32[] = {
        {0.1f, 0.1f, true},
        {1.0f, std::nextafter(1.0f, 2.0f), true},
        {1.0f, 1.0f + 11 * FLT_EPSILON, false},
        {0.0f, -0.0f, true},
        {1e-45f, -1e-45f, true},
        {big, big, true},
        {big, -big, false},
        {std::nanf(""), 1.0f, false},
    };
    for (const Case32& c : cases32) {
        SCOPED_TRACE(testing::Message() << c.a << " " << c.b);
        EXPECT_EQ(float_type::almost_equal32(c.a, c.b), c.equal);
    }
}

class FloatActions : public testutil::StartedRuntime {
protected:
    std::string formed(const Cell& v) {
        const node_t out = text::make_buffer(40);
        actions::form(&v, out, false, 1000);
        return text::to_utf8(out);
    }
    std::string molded(const Cell& v) {
        const node_t out = text::make_buffer(40);
        actions::mold(&v, out, false, false, false, false, 1000, 0);
        return text::to_utf8(out);
    }
    // The two operands at a fresh argument base, op run through the
    // type's own slot as an action word would; answers the result cell.
    Cell math(const Cell& l, const Cell& r, uint32_t slot) {
        stack::Saved saved;
        stack::arg_base = stack::arg_top;
        stack::push(&l);
        stack::push(&r);
        action_as<slot_fn::Direct>(actions::lookup_or_raise(&l, slot))();
        return *stack::arg_base;
    }
    int math_error(const Cell& l, const Cell& r, uint32_t slot) {
        return testutil::raised([&] { math(l, r, slot); });
    }
};

TEST_F(FloatActions, FormAndMoldOfASum) {
    const Cell sum = flt(0.1 + 0.2);
    EXPECT_EQ(molded(sum), "0.30000000000000004");
    EXPECT_EQ(formed(sum), "0.3");
    EXPECT_EQ(molded(flt(1e17)), "1.0e17");
    EXPECT_EQ(molded(flt(1e-7)), "0.0000001");
    EXPECT_EQ(molded(flt(-0.0)), "-0.0");
    EXPECT_EQ(molded(flt(-HUGE_VAL)), "-1.#INF");
    EXPECT_EQ(formed(flt(1e300)), "1.0e300");
}

TEST_F(FloatActions, ComparisonOperators) {
    const Cell nan = flt(std::nan("")), one = flt(1.0), sum = flt(0.1 + 0.2), third = flt(0.3);
    EXPECT_TRUE(actions::compare(&sum, &third, 0));    // equal?
    EXPECT_FALSE(actions::compare(&sum, &third, 2));   // strict-equal?
    EXPECT_FALSE(actions::compare(&sum, &third, 9));   // same?
    const Cell i = intc(1), p = typed(TYPE_PERCENT, 1.0);
    EXPECT_TRUE(actions::compare(&one, &i, 0));
    EXPECT_FALSE(actions::compare(&one, &i, 2));       // strict: the types differ
    EXPECT_TRUE(actions::compare(&one, &p, 0));
    EXPECT_FALSE(actions::compare(&one, &p, 12));
    const Cell z = flt(0.0), nz = flt(-0.0);
    EXPECT_TRUE(actions::compare(&z, &nz, 2));
    EXPECT_FALSE(actions::compare(&z, &nz, 9));        // different bits
    for (int32_t op = 3; op <= 6; op++) {
        SCOPED_TRACE(op);
        EXPECT_FALSE(actions::compare(&nan, &one, op));
        EXPECT_FALSE(actions::compare(&one, &nan, op));
        EXPECT_FALSE(actions::compare(&nan, &nan, op));
    }
    EXPECT_FALSE(actions::compare(&nan, &nan, 0));
    EXPECT_TRUE(actions::compare(&one, &sum, 5));
    const Cell text{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(float_type::compare(&one, &text, 3), -2);
    EXPECT_EQ(testutil::raised([&] { actions::compare(&one, &text, 3); }), err::INVALID_COMPARE);
}

TEST_F(FloatActions, ArithmeticResultsAndTypes) {
    struct Case {
        const char* name;
        Cell l, r;
        uint32_t slot;
        uint32_t type;
        double value;
    };
    using namespace datatype;
    const double nan = std::nan("");
    const Case cases[] = {
        {"1.0 / 0", flt(1.0), intc(0), DIVIDE, TYPE_FLOAT, HUGE_VAL},
        {"-1.0 / 0", flt(-1.0), intc(0), DIVIDE, TYPE_FLOAT, -HUGE_VAL},
        {"0.0 / 0", flt(0.0), intc(0), DIVIDE, TYPE_FLOAT, nan},
        {"5.0 // 0", flt(5.0), intc(0), REMAINDER, TYPE_FLOAT, nan},
        {"5.0 // inf", flt(5.0), flt(HUGE_VAL), REMAINDER, TYPE_FLOAT, 5.0},
        {"inf // inf", flt(HUGE_VAL), flt(HUGE_VAL), REMAINDER, TYPE_FLOAT, nan},
        {"5.0 // nan", flt(5.0), flt(nan), REMAINDER, TYPE_FLOAT, nan},
        {"-7.5 // 2", flt(-7.5), intc(2), REMAINDER, TYPE_FLOAT, -1.5},
        {"overflow", flt(DBL_MAX), flt(DBL_MAX), ADD, TYPE_FLOAT, HUGE_VAL},
        {"50% + 50%", typed(TYPE_PERCENT, 0.5), typed(TYPE_PERCENT, 0.5), ADD, TYPE_PERCENT, 1.0},
        {"50% * 3", typed(TYPE_PERCENT, 0.5), intc(3), MULTIPLY, TYPE_PERCENT, 1.5},
        {"50% + 1.0", typed(TYPE_PERCENT, 0.5), flt(1.0), ADD, TYPE_PERCENT, 1.5},
        {"1.0 + 50%", flt(1.0), typed(TYPE_PERCENT, 0.5), ADD, TYPE_FLOAT, 1.5},
        {"1.5 + time", flt(1.5), typed(TYPE_TIME, 60.0), ADD, TYPE_TIME, 61.5},
        {"time * 2", typed(TYPE_TIME, 60.0), intc(2), MULTIPLY, TYPE_TIME, 120.0},
        {"50% * time", typed(TYPE_PERCENT, 0.5), typed(TYPE_TIME, 60.0), MULTIPLY, TYPE_TIME, 30.0},
        {"1.5 + #\"A\"", flt(1.5), Cell{TYPE_CHAR, 0, 65, 0}, ADD, TYPE_FLOAT, 66.5},
        {"3 - 0.5", intc(3), flt(0.5), SUBTRACT, TYPE_FLOAT, 2.5},  // integer! hands over
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Cell r = math(c.l, c.r, c.slot);
        EXPECT_EQ(cell::type_of(&r), c.type);
        const double v = cell::get_double(&r);
        if (std::isnan(c.value)) EXPECT_TRUE(std::isnan(v));
        else EXPECT_EQ(v, c.value);
    }
}

TEST_F(FloatActions, ArithmeticRefusals) {
    struct Case {
        const char* name;
        Cell l, r;
        uint32_t slot;
        int error;
    };
    using namespace datatype;
    const Cell pair{TYPE_PAIR, 3, 4, 0}, none{TYPE_NONE, 0, 0, 0}, chr{TYPE_CHAR, 0, 65, 0};
    const Case cases[] = {
        {"float - pair", flt(1.0), pair, SUBTRACT, err::NOT_RELATED},
        {"float / pair", flt(1.0), pair, DIVIDE, err::NOT_RELATED},
        {"time + pair", typed(TYPE_TIME, 1.0), pair, ADD, err::INVALID_TYPE},
        {"percent + char", typed(TYPE_PERCENT, 0.5), chr, ADD, err::INVALID_TYPE},
        {"time + char", typed(TYPE_TIME, 1.0), chr, ADD, err::INVALID_TYPE},
        {"float + none", flt(1.0), none, ADD, err::INVALID_TYPE},
        {"float - tuple", flt(1.0), Cell{TYPE_TUPLE, 0, 0, 0}, SUBTRACT, err::NOT_RELATED},
        {"float + money", flt(1.0), Cell{TYPE_MONEY, 0, 0, 0}, ADD, err::NOT_DONE},
        {"float ** string", flt(2.0), Cell{TYPE_STRING, 0, 0, 0}, POWER, err::EXPECT_ARG},
        {"float ** percent", flt(2.0), typed(TYPE_PERCENT, 0.5), POWER, err::EXPECT_ARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(math_error(c.l, c.r, c.slot), c.error);
    }
    EXPECT_EQ(testutil::raised([] { float_type::scalar_op(1, 2, float_type::XOR); }), err::CANNOT_USE);
}

TEST_F(FloatActions, PowerNegateAbsoluteAndParity) {
    Cell r = math(flt(2.0), intc(10), datatype::POWER);
    EXPECT_EQ(cell::get_double(&r), 1024.0);
    r = math(typed(TYPE_PERCENT, 0.5), flt(2.0), datatype::POWER);
    EXPECT_EQ(cell::type_of(&r), TYPE_PERCENT);
    EXPECT_EQ(cell::get_double(&r), 0.25);
    r = math(flt(-0.0), flt(0), datatype::ABSOLUTE);
    EXPECT_EQ(bits_of(cell::get_double(&r)), bits_of(0.0));

    auto negate = action_as<slot_fn::Negate>(datatype::action(TYPE_FLOAT, datatype::NEGATE));
    Cell z = flt(0.0);
    EXPECT_EQ(bits_of(cell::get_double(negate(&z))), bits_of(0.0));  // 0.0 - 0.0, not -0.0
    Cell x = flt(2.5);
    EXPECT_EQ(cell::get_double(negate(&x)), -2.5);

    auto even = action_as<slot_fn::EvenOdd>(datatype::action(TYPE_FLOAT, datatype::EVEN_Q));
    auto odd = action_as<slot_fn::EvenOdd>(datatype::action(TYPE_FLOAT, datatype::ODD_Q));
    struct Case {
        double v;
        bool even, odd;
    };
    const Case cases[] = {
        {2.7, true, false},  {-3.2, false, true}, {0.5, true, false},
        {1e20, true, false}, {4294967297.0, false, true},  // beyond 32 bits: parity of the whole number
        {HUGE_VAL, false, false}, {std::nan(""), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v);
        Cell v = flt(c.v);
        EXPECT_EQ(even(&v), c.even);
        EXPECT_EQ(odd(&v), c.odd);
    }
}

TEST_F(FloatActions, RandomStaysWithinTheValueAndSeeds) {
    auto random = action_as<slot_fn::Random>(datatype::action(TYPE_FLOAT, datatype::RANDOM));
    for (bool secure : {false, true})
        for (int i = 0; i < 200; i++) {
            Cell v = flt(-10.0);
            const double d = cell::get_double(random(&v, false, secure, false));
            EXPECT_LE(d, 0.0);
            EXPECT_GE(d, -10.0);
        }
    Cell s = flt(1.5);
    EXPECT_EQ(cell::type_of(random(&s, true, false, false)), TYPE_UNSET);
    Cell a = flt(1.0);
    const double first = cell::get_double(random(&a, false, false, false));
    random(&s, true, false, false);
    Cell b = flt(1.0);
    EXPECT_EQ(cell::get_double(random(&b, false, false, false)), first);  // the seed repeats the draw
}

struct RoundCase {
    const char* name;
    Cell value;
    Cell scale;  // none: without /to
    const char* mode;
    uint32_t type;
    double result;
};

TEST_F(FloatActions, RoundModesScalesAndResultTypes) {
    const Cell none{TYPE_NONE, 0, 0, 0};
    const double tiny = 5e-324;
    const RoundCase cases[] = {
        {"2.5", flt(2.5), none, "", TYPE_FLOAT, 3.0},
        {"-2.5", flt(-2.5), none, "", TYPE_FLOAT, -3.0},
        {"2.4", flt(2.4), none, "", TYPE_FLOAT, 2.0},
        {"even 2.5", flt(2.5), none, "even", TYPE_FLOAT, 2.0},
        {"even 3.5", flt(3.5), none, "even", TYPE_FLOAT, 4.0},
        {"even -2.5", flt(-2.5), none, "even", TYPE_FLOAT, -2.0},
        {"half-down 2.5", flt(2.5), none, "half-down", TYPE_FLOAT, 2.0},
        {"half-down 2.6", flt(2.6), none, "half-down", TYPE_FLOAT, 3.0},
        {"half-ceiling -2.5", flt(-2.5), none, "half-ceiling", TYPE_FLOAT, -2.0},
        {"down -2.7", flt(-2.7), none, "down", TYPE_FLOAT, -2.0},
        {"floor -2.1", flt(-2.1), none, "floor", TYPE_FLOAT, -3.0},
        {"ceiling 2.1", flt(2.1), none, "ceiling", TYPE_FLOAT, 3.0},
        {"to 0.01", flt(3.14159), flt(0.01), "", TYPE_FLOAT, 3.14},
        {"to 2 gives integer", flt(7.4), intc(2), "", TYPE_INTEGER, 8},
        {"to -2 uses the magnitude", flt(7.4), intc(-2), "", TYPE_INTEGER, 8},
        {"to 0.5", flt(1.3), flt(0.5), "", TYPE_FLOAT, 1.5},
        {"to 1e300", flt(2.6e300), flt(1e300), "", TYPE_FLOAT, 3e300},
        {"percent to whole percents", typed(TYPE_PERCENT, 0.126), none, "", TYPE_PERCENT, 0.13},
        {"below the value's precision", flt(1e20), flt(0.001), "", TYPE_FLOAT, 1e20},
        {"to 0 leaves the value", flt(2.5), intc(0), "", TYPE_FLOAT, 2.5},
        {"zero to 0", flt(0.0), flt(0.0), "", TYPE_FLOAT, 0.0},
        {"subnormal scale", flt(5 * tiny), flt(3 * tiny), "", TYPE_FLOAT, 6 * tiny},
        {"subnormal scale, floor", flt(5 * tiny), flt(3 * tiny), "floor", TYPE_FLOAT, 3 * tiny},
        {"subnormal scale, half", flt(3 * tiny), flt(2 * tiny), "even", TYPE_FLOAT, 4 * tiny},
        {"smallest normal scale", flt(3 * DBL_MIN), flt(DBL_MIN * 2), "", TYPE_FLOAT, 4 * DBL_MIN},
        {"infinity stays", flt(HUGE_VAL), none, "", TYPE_FLOAT, HUGE_VAL},
        {"nan stays", flt(std::nan("")), none, "", TYPE_FLOAT, std::nan("")},
        {"2^31 - 1 fits", flt(2147483647.2), intc(1), "", TYPE_INTEGER, 2147483647.0},
        {"-2^31 fits", flt(-2147483648.2), intc(1), "", TYPE_INTEGER, -2147483648.0},
    };
    auto round = action_as<slot_fn::Round>(datatype::action(TYPE_FLOAT, datatype::ROUND));
    for (const RoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        Cell v = c.value, s = c.scale;
        const std::string m = c.mode;
        Cell* r = round(&v, cell::type_of(&s) == TYPE_NONE ? nullptr : &s, m == "even", m == "down",
                        m == "half-down", m == "floor", m == "ceiling", m == "half-ceiling");
        ASSERT_EQ(cell::type_of(r), c.type);
        if (c.type == TYPE_INTEGER) {
            EXPECT_EQ(static_cast<int32_t>(r->data2), static_cast<int32_t>(c.result));
        } else if (std::isnan(c.result)) {
            EXPECT_TRUE(std::isnan(cell::get_double(r)));
        } else {
            EXPECT_EQ(cell::get_double(r), c.result);
        }
    }
}

TEST_F(FloatActions, RoundOverflows) {
    auto round = action_as<slot_fn::Round>(datatype::action(TYPE_FLOAT, datatype::ROUND));
    struct Case {
        const char* name;
        Cell value, scale;
        int error;
    };
    const Case cases[] = {
        {"scaled back past the largest double", flt(1.7e308), flt(1e308), err::OVERFLOW},
        {"rounded up past it", flt(DBL_MAX), flt(DBL_MAX / 3), err::OVERFLOW},
        {"integer scale beyond 32 bits", flt(3e9), intc(1), err::OVERFLOW},
        {"integer scale, NaN", flt(std::nan("")), intc(1), err::OVERFLOW},
        {"money scale", flt(1.0), Cell{TYPE_MONEY, 0, 0, 0}, err::NOT_RELATED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cell v = c.value, s = c.scale;
        EXPECT_EQ(testutil::raised([&] { round(&v, &s, false, false, false, false, false, false); }), c.error);
    }
}

// Values of the series types for make/to.
Cell string_of(const char* s) {
    const node_t n = text::make_buffer(16);
    text::append_cstr(n, s);
    return Cell{TYPE_STRING, 0, n, 0};
}
Cell binary_of(const std::string& bytes) {
    const node_t n = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
    series::append_bytes(n, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return Cell{TYPE_BINARY, 0, n, 0};
}
Cell block_of(std::initializer_list<Cell> cells) {
    Cell b{TYPE_BLOCK, 0, memory::alloc_cells(4), 0};
    for (const Cell& c : cells) *block::reserve_cell(&b) = c;
    return b;
}

TEST_F(FloatActions, MakeAndToFromEachArgument) {
    struct Case {
        const char* name;
        std::function<Cell()> spec;
        uint32_t type;
        double value;  // NaN: bad-to-arg
    };
    const double bad = std::nan("");
    const Case cases[] = {
        {"integer", [] { return intc(-3); }, TYPE_FLOAT, -3.0},
        {"char", [] { return Cell{TYPE_CHAR, 0, 65, 0}; }, TYPE_FLOAT, 65.0},
        {"percent to float", [] { return typed(TYPE_PERCENT, 0.5); }, TYPE_FLOAT, 0.5},
        {"float to percent", [] { return flt(0.5); }, TYPE_PERCENT, 0.5},
        {"time", [] { return typed(TYPE_TIME, 90.5); }, TYPE_FLOAT, 90.5},
        {"string", [] { return string_of("1,5"); }, TYPE_FLOAT, 1.5},
        {"string with separators", [] { return string_of("-1'000.25e1"); }, TYPE_FLOAT, -10002.5},
        {"empty string", [] { return string_of(""); }, TYPE_FLOAT, bad},
        {"not a number", [] { return string_of("abc"); }, TYPE_FLOAT, bad},
        {"1.e5", [] { return string_of("1.e5"); }, TYPE_FLOAT, bad},
        {"percent text", [] { return string_of("12.5%"); }, TYPE_PERCENT, 0.125},
        {"percent from a float text", [] { return string_of(" 0.5 "); }, TYPE_PERCENT, 0.5},
        {"percent from bad text", [] { return string_of("5%%"); }, TYPE_PERCENT, bad},
        {"binary", [] { return binary_of(std::string("\x3F\xF0\0\0\0\0\0\0", 8)); }, TYPE_FLOAT, 1.0},
        {"short binary fills the low end", [] { return binary_of(std::string("\x01", 1)); }, TYPE_FLOAT, 5e-324},
        {"long binary uses 8 bytes", [] { return binary_of(std::string("\x40\0\0\0\0\0\0\0\xFF", 9)); }, TYPE_FLOAT,
         2.0},
        {"[m e]", [] { return block_of({flt(1.5), intc(3)}); }, TYPE_FLOAT, 1500.0},
        {"[m -e]", [] { return block_of({intc(1), intc(-2)}); }, TYPE_FLOAT, 0.01},
        {"[m e] e truncated", [] { return block_of({intc(2), flt(1.9)}); }, TYPE_FLOAT, 20.0},
        {"[m huge e]", [] { return block_of({intc(1), flt(1e30)}); }, TYPE_FLOAT, HUGE_VAL},
        {"[0 huge e]", [] { return block_of({intc(0), flt(1e30)}); }, TYPE_FLOAT, 0.0},
        {"[1 2 3]", [] { return block_of({intc(1), intc(2), intc(3)}); }, TYPE_FLOAT, bad},
        {"[1 none]", [] { return block_of({intc(1), Cell{TYPE_NONE, 0, 0, 0}}); }, TYPE_FLOAT, bad},
        {"none", [] { return Cell{TYPE_NONE, 0, 0, 0}; }, TYPE_FLOAT, bad},
    };
    auto make = action_as<slot_fn::Make>(datatype::action(TYPE_FLOAT, datatype::MAKE));
    auto to = action_as<slot_fn::Make>(datatype::action(TYPE_PERCENT, datatype::TO));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cell proto{TYPE_DATATYPE, c.type, 0, 0};
        Cell spec = c.spec();
        auto fn = c.type == TYPE_PERCENT ? to : make;
        if (std::isnan(c.value)) {
            EXPECT_EQ(testutil::raised([&] { fn(&proto, &spec, c.type); }), err::BAD_TO_ARG);
            continue;
        }
        const Cell* r = fn(&proto, &spec, c.type);
        EXPECT_EQ(cell::type_of(r), c.type);
        EXPECT_EQ(cell::get_double(r), c.value);
    }
}

}  // namespace
}  // namespace qel
