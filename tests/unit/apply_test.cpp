// call::apply, the call path of the apply native and of C++ callers that
// hold a function and a block of arguments: the modes decide how the
// block's values become arguments and refinements.
#include <gtest/gtest.h>

#include <cstring>

#include "evaluator/call.hpp"
#include "evaluator/interp.hpp"
#include "lexer/scanner.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

class Apply : public testutil::StartedRuntime {
protected:
    void SetUp() override {
        StartedRuntime::SetUp();
        boot::start(boot_image::data, boot_image::size);
    }
    // The value of the source's last expression, kept on the stack.
    static Cell eval(const char* source) {
        Cell* holder = stack::push(&shared::none);
        lexer::load_text(source, std::strlen(source), holder);
        const Cell code = *holder;
        interp::eval_next(&code, 0, true);
        for (uint32_t pos = 0; pos < series::buffer_length(code.data2);) {
            stack::arg_top = holder + 1;
            pos = interp::eval_next(&code, pos, true);
        }
        *holder = *(holder + 1);
        stack::arg_top = holder + 1;
        return *holder;
    }
    static std::string applied(const char* fn_source, const char* args_source, uint32_t mode) {
        const stack::Saved saved;
        std::string out;
        const int code = testutil::raised([&] {
            const Cell fn = eval(fn_source);
            Cell* a = stack::push(&shared::none);
            lexer::load_text(args_source, std::strlen(args_source), a);
            const Cell args = *a;
            Cell* r = call::apply(&fn, &args, mode, nullptr);
            out = r ? testutil::show(*r) : "pending";
        });
        return code ? "error " + std::to_string(code) : out;
    }
};

constexpr const char* F = "func [a /r b /s c][reduce [a r b s c]]";

TEST_F(Apply, ModeOneTakesRefinementsAsLogicInSpecOrder) {
    EXPECT_EQ(applied(F, "1 + 1 true 5 false 6", call::APPLY), "[2 true 5 false none]");
    // A short block gives none for the rest, which these arguments take.
    EXPECT_EQ(applied(F, "1", call::APPLY), "[1 false none false none]");
    EXPECT_EQ(applied(F, "1 2", call::APPLY), "error " + std::to_string(err::EXPECT_ARG));
}

TEST_F(Apply, NamedRefinementsFollowTheArguments) {
    EXPECT_EQ(applied(F, "1 /s true 7", call::APPLY | call::NAMED), "[1 false none true 7]");
    EXPECT_EQ(applied(F, "1 /s false 7", call::APPLY | call::NAMED), "[1 false none false none]");
    EXPECT_EQ(applied(F, "1 /s true 7 /s true 8", call::APPLY | call::NAMED),
              "error " + std::to_string(err::DUP_REFINE));
    EXPECT_EQ(applied(F, "1 /q true", call::APPLY | call::NAMED), "error " + std::to_string(err::NO_REFINE));
    EXPECT_EQ(applied(F, "1 2", call::APPLY | call::NAMED), "error " + std::to_string(err::BAD_REFINE));
}

TEST_F(Apply, SaferTakesOneValueAtATime) {
    // Without SAFER 1 + 2 is one argument; with it + stands alone, an
    // operator without its left operand.
    EXPECT_EQ(applied("func [a b][reduce [a b]]", "1 + 2", call::APPLY), "[3 none]");
    EXPECT_EQ(applied("func [a b][reduce [a b]]", "1 + 2", call::APPLY | call::SAFER),
              "error " + std::to_string(err::NO_OP_ARG));
    EXPECT_EQ(applied("func [a b][reduce [a b]]", "1 (2 + 3)", call::APPLY | call::SAFER), "[1 5]");
}

TEST_F(Apply, NativesGetRefinementPositions) {
    EXPECT_EQ(applied(":mold", "[1 2] true false false false", call::APPLY), "\"1 2\"");
    EXPECT_EQ(applied(":mold", "[1 2] false false false true 3", call::APPLY), "\"[1 \"");
    EXPECT_EQ(applied(":add", "2 3", call::APPLY), "5");
}

TEST_F(Apply, LiteralValuesAreNotEvaluated) {
    EXPECT_EQ(applied("func [a b][reduce [a b]]", "x :y", call::APPLY | call::LITERAL_VALUES), "[x :y]");
}

}  // namespace
}  // namespace qel
