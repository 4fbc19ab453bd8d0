// char!: the mold budget, which the text a script gets back hides (the
// action entry cuts the text to the limit). Everything a script can see
// is tested in tests/lang/numbers/char_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/char.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class CharTest : public StartedRuntime {};

TEST_F(CharTest, MoldBudgetCountsFourWhateverTheEscapeWrote) {
    const node_t out = text::make_buffer(16);
    const Cell v = char_cell(30);
    EXPECT_EQ(actions::mold(&v, out, datatype::MoldOptions{}, 100, 0), 96);
    EXPECT_EQ(text::to_utf8(out), "#\"^(1E)\"");
}

}  // namespace
}  // namespace qel
