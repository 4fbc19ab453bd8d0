// The boot image built into the program: its layout, the words its
// decoding defines, what the library sources leave behind, and the end of
// the process on a damaged image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "evaluator/natives.hpp"
#include "evaluator/routines.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "startup_support.hpp"

namespace qel {
namespace {

class Boot : public testutil::StartedRuntime {
protected:
    static Cell value_of(const char* name) { return *word::get(word::make_from_cstr(name)); }
    static std::string first_string(node_t block) {
        const Cell s = series::cells_of(block)[0];
        EXPECT_EQ(cell::type_of(&s), TYPE_STRING);
        SeriesBuffer* b = series::buffer_of(series_node(s));
        EXPECT_EQ(series::unit(b), 1u);  // the doc strings are ASCII
        return std::string(reinterpret_cast<const char*>(series::head_ptr(b)) + series_index(s),
                           series::buffer_length(series_node(s)) - series_index(s));
    }
};

TEST_F(Boot, ImageIsCompactWithItsSymbolTable) {
    ASSERT_GT(boot_image::size, 11u);
    EXPECT_EQ(std::memcmp(boot_image::data, "QELBIN", 6), 0);
    EXPECT_EQ(boot_image::data[7], 5);  // compact, symbols present
}

TEST_F(Boot, DefinesActionsAndNativesByTheirTableIndexes) {
    boot::start(boot_image::data, boot_image::size);
    const Cell make = value_of("make");
    ASSERT_EQ(cell::type_of(&make), TYPE_ACTION);
    EXPECT_EQ(native_index(make), 1u);
    EXPECT_EQ(first_string(native_spec(make)), "Returns a new value made from a spec for that value's type");
    const Cell apply = value_of("apply");
    ASSERT_EQ(cell::type_of(&apply), TYPE_NATIVE);
    EXPECT_EQ(native_index(apply), 107u);
    for (uint32_t i = 0; i < natives::NATIVE_COUNT; i++) {
        if (!natives::table[i].fn) continue;
        const Cell v = value_of(natives::table[i].name);
        EXPECT_EQ(cell::type_of(&v), TYPE_NATIVE) << natives::table[i].name;
        EXPECT_EQ(native_index(v), i + 1) << natives::table[i].name;
    }
    const Cell dt = value_of("integer!");
    EXPECT_EQ(cell::type_of(&dt), TYPE_DATATYPE);
    EXPECT_EQ(datatype_id(dt), uint32_t(TYPE_INTEGER));
}

TEST_F(Boot, LibraryLiteralsStayInTheRootBlock) {
    const uint32_t before = series::cell_count(series_node(root_cell));
    boot::start(boot_image::data, boot_image::size);
    // Assignments leave no cell: what remains are the library sources.
    ASSERT_GT(series::cell_count(series_node(root_cell)), before);
    const Cell first = series::cells_of(series_node(root_cell))[before];
    EXPECT_EQ(cell::type_of(&first), TYPE_BLOCK);
    EXPECT_EQ(series_index(first), 2u);  // past the header
    const Cell plus = value_of("+");
    EXPECT_EQ(cell::type_of(&plus), TYPE_OP);
    const Cell t = value_of("true");
    EXPECT_EQ(cell::type_of(&t), TYPE_LOGIC);
}

TEST_F(Boot, RoutinesTakeTheirSpecsFromTheLastLiteral) {
    const uint32_t before = series::cell_count(series_node(root_cell));
    boot::start(boot_image::data, boot_image::size);
    // The library sources come first, each at its index past the header;
    // start-up keeps more cells after the literals.
    const uint32_t after = series::cell_count(series_node(root_cell));
    const Cell* roots = series::cells_of(series_node(root_cell));
    uint32_t at = before;
    while (at < after && cell::type_of(&roots[at]) == TYPE_BLOCK && series_index(roots[at]) == 2) at++;
    ASSERT_GT(at, before);
    ASSERT_LT(at, after);
    const Cell specs = roots[at];
    ASSERT_EQ(cell::type_of(&specs), TYPE_BLOCK);
    ASSERT_EQ(series::cell_count(series_node(specs)), routines::COUNT);
    // The library may take a routine's word for its own use: those still
    // holding their routine name its spec block.
    uint32_t routines_seen = 0;
    for (uint32_t i = 0; i < routines::COUNT; i++) {
        const Cell spec = series::cells_of(series_node(specs))[i];
        ASSERT_EQ(cell::type_of(&spec), TYPE_BLOCK) << routines::table[i].name;
        const std::string name = routines::table[i].name;
        if (name.find('/') != std::string::npos) continue;  // a field of the system object
        const Cell r = value_of(name.c_str());
        if (cell::type_of(&r) != TYPE_ROUTINE) continue;
        EXPECT_EQ(function_spec(r), series_node(spec)) << name;
        routines_seen++;
    }
    EXPECT_GT(routines_seen, routines::COUNT / 2);
}

using BootDeath = Boot;

TEST_F(BootDeath, DamagedImagesEndTheProcessWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<uint8_t> no_magic(boot_image::data, boot_image::data + boot_image::size);
    no_magic[0] = 'X';
    EXPECT_EXIT(boot::start(no_magic.data(), no_magic.size()), testing::ExitedWithCode(1), "");
    // The first record made a byte that names no record: the records are
    // the image's last bytes, their size the header's second varint.
    std::vector<uint8_t> bad_record(boot_image::data, boot_image::data + boot_image::size);
    size_t p = 8;
    while (bad_record[p] & 0x80) p++;  // root count
    uint32_t records = 0;
    for (int shift = 0;; shift += 7) {
        records |= uint32_t(bad_record[++p] & 0x7F) << shift;
        if (!(bad_record[p] & 0x80)) break;
    }
    bad_record[bad_record.size() - records] = 0xC5;
    EXPECT_EXIT(boot::start(bad_record.data(), bad_record.size()), testing::ExitedWithCode(1), "");
    std::vector<uint8_t> truncated(boot_image::data, boot_image::data + boot_image::size / 2);
    EXPECT_EXIT(boot::start(truncated.data(), truncated.size()), testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace qel
