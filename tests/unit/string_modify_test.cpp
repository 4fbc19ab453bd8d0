// append on strings: the unit width a character brings in. What a script
// sees of append, insert, change, swap, take and trim is tested in
// tests/lang/strings/string_modify_cases.qel.
#include <gtest/gtest.h>

#include "datatypes/string.hpp"
#include "datatypes/string_modify.hpp"
#include "string_test_support.hpp"

namespace qel {
namespace {

using testutil::TextTest;
using StringAppend = TextTest;

TEST_F(StringAppend, OnlyAsciiKeepsOneByteUnits) {
    Cell* s = text("");
    string::append(s, chr('a'), -1, false, 1);
    EXPECT_EQ(width_of(s), 1u);
    string::append(s, chr(233), -1, false, 1);
    EXPECT_EQ(width_of(s), 2u);
    EXPECT_EQ(utf8(s), "a\xC3\xA9");
}

}  // namespace
}  // namespace qel
