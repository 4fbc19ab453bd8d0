// The C++ reader of the system object's fields: the walk through objects
// and the codec map, by name lists and by slash paths.
#include <gtest/gtest.h>

#include "block_values.hpp"
#include "datatypes/system_object.hpp"
#include "library_support.hpp"

namespace qel {
namespace {

class SystemObject : public testutil::LibraryRuntime {};

TEST_F(SystemObject, FieldsByNamesAndByPaths) {
    struct Case {
        const char* path;
        const char* value;  // molded, or nullptr for no field
    };
    const Case cases[] = {
        {"system/options/money-digits", "2"},
        {"system/options/float/pretty?", "true"},
        {"system/codecs/qelbin/compact?", "true"},
        {"system/codecs/qelbin/name", "Qelbin"},
        {"system/codecs/no-such-codec", nullptr},
        {"system/options/money-digits/deeper", nullptr},
        {"system/no-such-field", nullptr},
        {"options/money-digits", nullptr},
    };
    for (const Case& c : cases) {
        Cell* found = system_object::field_at(c.path);
        if (!c.value) {
            EXPECT_EQ(found, nullptr) << c.path;
            continue;
        }
        ASSERT_NE(found, nullptr) << c.path;
        EXPECT_EQ(testutil::molded(*found), c.value) << c.path;
    }
    EXPECT_EQ(system_object::field({"codecs", "qelbin", "compact?"}),
              system_object::field_at("system/codecs/qelbin/compact?"));
    EXPECT_EQ(system_object::field({"options", "nothing"}), nullptr);
}

TEST_F(SystemObject, AWriteThroughTheCellChangesTheField) {
    Cell* digits = system_object::field({"options", "money-digits"});
    ASSERT_NE(digits, nullptr);
    *digits = Cell{TYPE_INTEGER, 0, 4, 0};
    EXPECT_EQ(testutil::molded(eval("system/options/money-digits")), "4");
}

}  // namespace
}  // namespace qel
