// Forming an error whose call trace was recorded as a frame position: only
// frames still on the frame stack are walked, and forming never changes the
// error.
#include <gtest/gtest.h>

#include "datatypes/error.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"
#include "tests/unit/startup_support.hpp"

namespace qel {
namespace {

class ErrorForm : public testutil::StartedRuntime {
protected:
    void TearDown() override {
        error_type::trace_level = 0;
        StartedRuntime::TearDown();
    }
};

std::string display(const Cell* e) {
    const node_t out = text::make_buffer(64);
    error_type::form_display(e, out);
    return text::to_utf8(out);
}

std::string molded(const Cell* e) {
    const node_t out = text::make_buffer(64);
    actions::mold(e, out, datatype::MoldOptions{}, 0x7FFFFFFF, 0);
    return text::to_utf8(out);
}

TEST_F(ErrorForm, RecordedTraceWalksOnlyLiveFrames) {
    error_type::trace_level = 2;  // every named frame
    const Cell f = *word::make_from_cstr("outer-call");
    const Cell g = *word::make_from_cstr("inner-call");
    stack::mark_native(&f);
    stack::mark_native(&g);
    const Cell arg{TYPE_INTEGER, 0, 5, 0};
    Cell* e = error_type::push_error(err::INVALID_ARG, &arg, nullptr, nullptr);
    stack::record_error_frame(e);
    const Cell error = *e;
    EXPECT_NE(display(&error).find("inner-call"), std::string::npos);

    // Both calls end; the error outlives them.
    stack::unwind();
    stack::unwind();
    const std::string before = molded(&error);
    const std::string shown = display(&error);
    EXPECT_EQ(shown.find("inner-call"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("outer-call"), std::string::npos) << shown;
    EXPECT_EQ(molded(&error), before);
}

}  // namespace
}  // namespace qel
