// percent!: the cell routines the C++ code makes percents with. Its text
// and the float! behaviour it inherits are tested in
// tests/lang/numbers/percent_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/float.hpp"
#include "datatypes/percent.hpp"
#include "runtime/stack.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

class Percent : public testutil::StartedRuntime {};

TEST_F(Percent, CellRoutines) {
    Cell c{0x40000000, 0, 0, 0};  // a new-line flag survives
    percent_type::make_from_words(&c, 0, 0x3FE00000);
    EXPECT_EQ(c.header, 0x40000000u | TYPE_PERCENT);
    EXPECT_EQ(cell::get_double(&c), 0.5);
    stack::Saved saved;
    stack::arg_base = stack::arg_top;
    const Cell* p = percent_type::push(0.25);
    EXPECT_EQ(cell::type_of(p), TYPE_PERCENT);
    EXPECT_EQ(percent_type::get_top(), 0.25);
}

}  // namespace
}  // namespace qel
