// The parse engine's work stacks: every way out of the engine (a result, an
// error raised inside it, a nested parse inside an outer one) leaves both
// stacks as it found them, and the 10,000-cell limit holds on deep rule
// nesting without touching the machine stack. The dialect itself is
// covered by the scripts in tests/lang/parse; the results and errors of
// these cases as a script sees them by tests/lang/parse/work_stack_cases.qel.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.hpp"
#include "evaluator/parse.hpp"
#include "lexer_support.hpp"
#include "runtime/error_codes.hpp"

namespace qel {
namespace {

class ParseStacks : public testutil::LexerRuntime {
protected:
    // Runs the rules over the input (both source texts of one value) and
    // answers the error code raised, 0 when none; the result goes to *out.
    int parse(const std::string& input, const std::string& rules, Cell* out = nullptr) {
        Cell* in = stack::push(&NONE);
        *in = one(input);
        Cell* r = stack::push(&NONE);
        *r = one(rules);
        Cell* result = stack::push(&NONE);
        const int code = testutil::raised([&] { parse::run(in, r, CompareOp::Equal, -1, &NONE, result); });
        if (out) *out = *result;
        stack::pop_n(3);
        return code;
    }
    static uint32_t cells(const Cell* stk) { return series::cell_count(series_node(stk)); }
    // Both stacks hold nothing of a parse and start at index 0.
    static void expect_empty() {
        EXPECT_EQ(cells(parse::rule_stack()), 0u);
        EXPECT_EQ(cells(parse::input_stack()), 0u);
        EXPECT_EQ(series_index(parse::rule_stack()), 0u);
        EXPECT_EQ(series_index(parse::input_stack()), 0u);
    }
    // A rule block nested depth levels deep around "a".
    static std::string nested(int depth) { return std::string(depth, '[') + "\"a\"" + std::string(depth, ']'); }

    static constexpr Cell NONE{TYPE_NONE, 0, 0, 0};
};

TEST_F(ParseStacks, EveryWayOutLeavesThemEmpty) {
    struct Case {
        const char* input;
        const char* rules;
        int error;
        bool result;
    };
    const Case cases[] = {
        {"\"ab\"", "[\"a\" \"c\" | \"a\" \"b\"]", 0, true},
        {"\"ab\"", "[some [\"a\" | \"x\"] \"c\"]", 0, false},
        {"[1 [2 [3]]]", "[skip into [skip into [skip]]]", 0, true},
        {"\"a\"", "[collect [keep skip]]", 0, true},
        {"\"a\"", "[some]", err::PARSE_END, false},
        {"\"a\"", "[[[keep skip]]]", err::PARSE_KEEP, false},
        {"[[1]]", "[into [into [integer! string!]] | into [-1 skip]]", err::OUT_OF_RANGE, false},
        {"\"a\"", "[to 1]", err::PARSE_RULE, false},
    };
    for (const Case& c : cases) {
        Cell result{};
        EXPECT_EQ(parse(c.input, c.rules, &result), c.error) << c.rules;
        if (!c.error && cell::type_of(&result) == TYPE_LOGIC) {
            EXPECT_EQ(logic_value(result) != 0, c.result) << c.rules;
        }
        expect_empty();
    }
}

TEST_F(ParseStacks, DeepNestingStopsAtTheLimit) {
    // Each level is one three-cell block frame: 3000 levels fit, 3400 do
    // not, and neither needs the machine stack.
    Cell result{};
    EXPECT_EQ(parse("\"a\"", nested(3000), &result), 0);
    EXPECT_EQ(cell::type_of(&result), static_cast<uint32_t>(TYPE_LOGIC));
    EXPECT_EQ(logic_value(result), 1u);
    expect_empty();
    EXPECT_EQ(parse("\"a\"", nested(3400)), err::PARSE_STACK);
    expect_empty();
}

TEST_F(ParseStacks, NestedParseWorksAboveTheOuterOne) {
    // Frames of a running outer parse: the nested one must leave them, and
    // the outer indexes, exactly as they were.
    Cell* rules = parse::rule_stack();
    Cell* inputs = parse::input_stack();
    const Cell outer = one("\"outer\"");
    const Cell frame[3] = {NONE, parse::position_record(0, 0, 0), one("[\"outer\"]")};
    for (const Cell& f : frame) block::append_copy(rules, &f);
    block::append_copy(inputs, &outer);
    for (const char* r : {"[\"x\" \"y\"]", "[\"x\" some]"}) {
        parse("\"xy\"", r);
        EXPECT_EQ(cells(rules), 3u) << r;
        EXPECT_EQ(cells(inputs), 1u) << r;
        EXPECT_EQ(series_index(rules), 0u) << r;
        EXPECT_EQ(series_index(inputs), 0u) << r;
        EXPECT_EQ(cell::type_of(block::cell_at(rules, 2)), static_cast<uint32_t>(TYPE_BLOCK)) << r;
    }
    block::set_tail_index(rules, 0);
    block::set_tail_index(inputs, 0);
}

}  // namespace
}  // namespace qel
