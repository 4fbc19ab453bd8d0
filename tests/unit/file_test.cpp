// file!: the name the file layer hands to the system (file::to_os_path),
// the one way from a file! value to a path. What a script sees is tested in
// tests/lang/files/.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/file.hpp"
#include "runtime/errors.hpp"
#include "slot_support.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

using namespace testutil;

class FileTest : public StartedRuntime {};

Cell file_cell(const std::string& utf8, uint32_t index = 0) {
    Cell f = string_cell(utf8, index);
    cell::set_type(&f, TYPE_FILE);
    return f;
}

TEST_F(FileTest, OsPathsAreThePosixNamesInUtf8FromTheIndex) {
    struct Case {
        const char* name;
        Cell value;
        std::string path;
    };
    const Case cases[] = {
        {"relative", file_cell("dir/a.txt"), "dir/a.txt"},
        {"absolute", file_cell("/tmp/x y"), "/tmp/x y"},
        {"directory", file_cell("d/"), "d/"},
        {"from the index", file_cell("skip/kept", 5), "kept"},
        {"past the tail", file_cell("ab", 9), ""},
        {"wide characters", file_cell("caf\xC3\xA9/\xE2\x82\xAC"), "caf\xC3\xA9/\xE2\x82\xAC"},
        {"a string! too", string_cell("s/t"), "s/t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string got;
        EXPECT_EQ(raised([&] { got = file::to_os_path(&c.value); }), 0);
        EXPECT_EQ(got, c.path);
    }
}

// A NUL would cut the name the system reads: a name that holds one, in the
// middle or at the end, is refused. Before the index it is no part of the
// name.
TEST_F(FileTest, ANameHoldingNulIsRefused) {
    const std::string with_nul("a\0b", 3);
    const Cell middle = file_cell(with_nul);
    const Cell last = file_cell(std::string("x\0", 2));
    const Cell after = file_cell(with_nul, 2);
    EXPECT_EQ(raised([&] { file::to_os_path(&middle); }), err::INVALID_ARG);
    EXPECT_EQ(raised([&] { file::to_os_path(&last); }), err::INVALID_ARG);
    std::string got;
    EXPECT_EQ(raised([&] { got = file::to_os_path(&after); }), 0);
    EXPECT_EQ(got, "b");
}

}  // namespace
}  // namespace qel
