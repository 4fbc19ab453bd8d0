// The native level's printer (the text of each tag, the bracket of GUI
// steps around a print) and the size rounding of the memory manager.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "output_capture.hpp"
#include "platform/console.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/print_hooks.hpp"

namespace {

using namespace qel;
using I = rt::PrintItem;

TEST(LowPrint, WritesEachTagAsItsText) {
    struct Case {
        std::function<void()> print;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {[] { rt::print_values({I::logic(true), I::logic(false)}); }, "truefalse"},
        {[] { rt::print_values({I::integer(INT32_MIN)}); }, "-2147483648"},
        {[] { rt::print_values({I::byte('\xE9')}); }, "\xE9"},
        {[] { rt::print_values({I::float64(1.0 / 3.0)}); }, "0.3333333333333333"},
        {[] { rt::print_values({I::float64(1e21)}); }, "1e+21"},
        {[] { rt::print_values({I::float32(0.1f)}); }, "0.1"},
        {[] { rt::print_values({I::hex(0xAB), I::hex(0xFFFFFFFF)}); }, "000000ABFFFFFFFF"},
        {[] { rt::print_values({I::cstr(nullptr), I::cstr("")}); }, ""},
        {[] { rt::print_values({I::cstr("code "), I::integer(94), I::byte('!')}); }, "code 94!"},
        {[] { rt::print_values_line({I::cstr("x")}); }, "x\n"},
        {[] { rt::print_values_line({}); }, "\n"},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(testutil::capture_output(cases[i].print), cases[i].expected) << "case " << i;
}

// The GUI steps write markers, so their place relative to the text shows.
TEST(LowPrint, RunsTheGuiStepsAroundTheWholeLine) {
    print_hooks::before_print = [] { console::write_bytes("<", 1); };
    print_hooks::after_print = [] { console::write_bytes(">", 1); };
    std::string out = testutil::capture_output([] {
        rt::print_values({I::cstr("a"), I::integer(1)});
        rt::print_values_line({I::cstr("b")});
    });
    print_hooks::before_print = nullptr;
    print_hooks::after_print = nullptr;
    EXPECT_EQ(out, "<a1><b\n>");
}

TEST(LowPrint, RoundUpClearsTheLowBitsAfterAdding) {
    struct Case {
        uint32_t size, align, expected;
    };
    const Case cases[] = {{17, 16, 32}, {32, 16, 32}, {0, 16, 0}, {1, 1, 1}, {5, 8, 8}};
    for (const Case& c : cases) EXPECT_EQ(rt::round_up(c.size, c.align), c.expected) << c.size << "/" << c.align;
}

}  // namespace
