// Test helper: a started runtime with the library made from the boot
// image, and source text run in its global context.
#pragma once
#include <gtest/gtest.h>

#include <cstring>

#include "evaluator/interp.hpp"
#include "lexer/scanner.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "startup_support.hpp"

namespace qel::testutil {

class LibraryRuntime : public StartedRuntime {
protected:
    void SetUp() override {
        StartedRuntime::SetUp();
        boot::start(boot_image::data, boot_image::size);
    }
    // The value of the source's last expression, kept in a cell left on
    // the argument stack (the code stays reachable there while it runs).
    static Cell run(const char* source) {
        Cell* holder = stack::push(&shared::none);
        lexer::load_text(source, std::strlen(source), holder);
        const Cell code = *holder;
        stack::push(&code);
        for (uint32_t pos = 0; pos < series::buffer_length(series_node(code));) {
            stack::arg_top = holder + 2;
            pos = interp::eval_next(holder + 1, pos, true);
        }
        *holder = *(holder + 2);
        stack::arg_top = holder + 1;
        return *holder;
    }
    // The same; a raised error fails the test.
    static Cell eval(const char* source) {
        Cell out = shared::none;
        EXPECT_EQ(raised([&] { out = run(source); }), 0) << source;
        return out;
    }
};

}  // namespace qel::testutil
