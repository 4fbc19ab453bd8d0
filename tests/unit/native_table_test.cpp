// The native table: its size and order, the spec texts it hands to the boot
// image tool, the bounds of the index lookup that make native! relies on,
// and what start-up leaves behind.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "evaluator/natives.hpp"
#include "lexer_support.hpp"

namespace qel {
namespace {

using natives::table;

TEST(NativeTable, HoldsEveryNativeOnceInIndexOrder) {
    static_assert(natives::NATIVE_COUNT == 107 && natives::NATIVE_COUNT <= natives::TABLE_SLOTS);
    std::set<std::string> names;
    for (const natives::Entry& e : table) {
        ASSERT_NE(e.name, nullptr);
        EXPECT_TRUE(names.insert(e.name).second) << e.name << " appears twice";
        EXPECT_NE(e.fn, nullptr) << e.name;
    }
    EXPECT_EQ(names.size(), 107u);
    // Indexes are stored in boot images and make native! specs: the
    // anchors below catch an entry inserted or dropped anywhere.
    EXPECT_STREQ(table[0].name, "if");
    EXPECT_STREQ(table[12].name, "remove-each");
    EXPECT_STREQ(table[17].name, "switch");
    EXPECT_STREQ(table[61].name, "NaN?");
    EXPECT_STREQ(table[76].name, "break");
    EXPECT_STREQ(table[106].name, "apply");
}

// Whether the brackets of a spec text nest, skipping "..." strings, whose
// doc text may hold lone brackets such as "(-180,180]".
bool brackets_nest(const char* text) {
    int depth = 0;
    bool in_string = false;
    for (const char* p = text; *p; ++p) {
        if (in_string) {
            if (*p == '^' && p[1]) ++p;
            else if (*p == '"') in_string = false;
            continue;
        }
        if (*p == '"') in_string = true;
        else if (*p == '[') ++depth;
        else if (*p == ']' && --depth < 0) return false;
    }
    return depth == 0 && !in_string;
}

TEST(NativeTable, SpecTextsAreWellFormed) {
    for (const natives::Entry& e : table) {
        SCOPED_TRACE(e.name);
        const std::string spec = e.spec;
        // help shows the doc string, which leads every spec.
        ASSERT_FALSE(spec.empty());
        EXPECT_EQ(spec.front(), '"');
        EXPECT_TRUE(brackets_nest(e.spec));
        // A return type comes last: the function spec rules refuse
        // refinements after it.
        const size_t ret = spec.find("return: [");
        if (ret != std::string::npos) {
            EXPECT_EQ(spec.find(" /", ret), std::string::npos);
            EXPECT_EQ(spec.back(), ']');
        }
    }
    EXPECT_FALSE(brackets_nest("\"a\" x [block!"));
    EXPECT_FALSE(brackets_nest("\"a\" x block!]"));
    EXPECT_TRUE(brackets_nest("\"in [-90,90]\" x [integer!]"));
}

TEST(NativeTable, LiteralArgumentsBelongToTheLoops) {
    // The loops name their word literally; a quote lost from a spec would
    // make the interpreter evaluate the loop word.
    std::set<std::string> literal;
    for (const natives::Entry& e : table)
        if (std::string(e.spec).find(" '") != std::string::npos) literal.insert(e.name);
    EXPECT_EQ(literal, (std::set<std::string>{"repeat", "foreach", "forall", "remove-each"}));
}

TEST(NativeTable, EntryOfTakesOneBasedIndexesOfFilledSlotsOnly) {
    EXPECT_EQ(natives::entry_of(1), &table[0]);
    EXPECT_EQ(natives::entry_of(107), &table[106]);
    // The slots past the table exist but are empty: a native! made with
    // one must raise when called rather than call through a null entry.
    for (int32_t index : {0, -1, 108, 120, 121, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(natives::entry_of(index), nullptr);
    }
}

// Start-up loads every spec text with the lexer into the spec block of a
// native! value; each must load and keep the shape a function spec has: a
// doc string, then arguments with optional type blocks, refinements, and a
// return type last.
class NativeSpecs : public testutil::LexerRuntime {};

TEST_F(NativeSpecs, EverySpecTextLoadsAsAFunctionSpec) {
    for (const natives::Entry& e : table) {
        SCOPED_TRACE(e.name);
        Cell spec{};
        ASSERT_EQ(testutil::raised([&] { spec = load(e.spec); }), 0);
        ASSERT_EQ(cell::type_of(&spec), TYPE_BLOCK);
        const uint32_t n = count(spec);
        ASSERT_GE(n, 1u);
        const Cell doc = item(spec, 0);
        EXPECT_EQ(cell::type_of(&doc), TYPE_STRING);
        for (uint32_t i = 1; i < n; i++) {
            const Cell v = item(spec, i);
            const uint32_t t = cell::type_of(&v);
            if (t == TYPE_BLOCK) {
                const Cell prev = item(spec, i - 1);
                const uint32_t before = cell::type_of(&prev);
                EXPECT_TRUE(before == TYPE_WORD || before == TYPE_LIT_WORD || before == TYPE_SET_WORD)
                    << "a type block after a value of type " << before << " at " << i;
            } else if (t == TYPE_SET_WORD) {
                // return: [types] closes the spec.
                EXPECT_EQ(i + 2, n);
            } else {
                EXPECT_TRUE(t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT) << "type " << t << " at " << i;
            }
        }
    }
}

class NativeTableStart : public testutil::StartedRuntime {};

TEST_F(NativeTableStart, LeavesTheCountAndAPrintBufferInTheRootBlock) {
    natives::init_table();
    EXPECT_EQ(natives::table_count, 108u);
    ASSERT_NE(natives::print_buffer, nullptr);
    EXPECT_TRUE(in_root_block(natives::print_buffer));
    EXPECT_EQ(cell::type_of(natives::print_buffer), TYPE_BLOCK);
    EXPECT_EQ(series::buffer_length(series_node(natives::print_buffer)), 0u);
    EXPECT_GE(series::buffer_of(series_node(natives::print_buffer))->size, 32 * sizeof(Cell));
}

}  // namespace
}  // namespace qel
