// The symbol table: one id per exact spelling, case variants aliased to the
// canonical spelling (also once the index has grown and reordered its probe
// chains), ASCII-only folding, names kept zero-terminated and the string
// form made only when asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/context.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "tests/unit/startup_support.hpp"

namespace {

using namespace qel;

using SymbolFixture = testutil::SymbolTables;

using SymbolIntern = SymbolFixture;
using SymbolGrowth = SymbolFixture;
using SymbolNames = SymbolFixture;

int32_t intern(const std::string& s) { return symbol::intern(s.data(), s.size()); }

TEST_F(SymbolIntern, SpellingsAndTheirCanonicalIds) {
    const int32_t print = intern("print");
    EXPECT_EQ(intern("print"), print);
    const int32_t capital = intern("Print");
    const int32_t upper = intern("PRINT");
    EXPECT_NE(capital, print);
    EXPECT_NE(upper, capital);
    for (int32_t id : {print, capital, upper}) EXPECT_EQ(symbol::canonical(id), print) << id;
    EXPECT_EQ(symbol::alias(print), -1);
    EXPECT_EQ(symbol::alias(upper), print);

    // Case-insensitive interning answers the canonical id and adds nothing.
    const uint32_t before = symbol::count();
    EXPECT_EQ(symbol::intern_any_case("pRiNt"), print);
    EXPECT_EQ(symbol::count(), before);
    const int32_t fresh = symbol::intern_any_case("Probe");
    EXPECT_EQ(symbol::count(), before + 1);
    EXPECT_EQ(symbol::alias(fresh), -1);
    EXPECT_EQ(intern("probe"), intern("probe"));
    EXPECT_EQ(symbol::canonical(intern("probe")), fresh);
}

// The canonical ids kept beside the block agree with the aliases of the
// symbol cells for every symbol; ids that name no symbol answer themselves.
TEST_F(SymbolIntern, CanonicalIdsAgreeWithTheAliasesOfEverySymbol) {
    intern("Kept");
    intern("KEPT");
    for (uint32_t id = 1; id <= symbol::count(); id++) {
        const int32_t a = symbol::alias(static_cast<int32_t>(id));
        EXPECT_EQ(symbol::canonical(static_cast<int32_t>(id)), a > 0 ? a : static_cast<int32_t>(id)) << id;
    }
    const auto past = static_cast<int32_t>(symbol::count()) + 1;
    for (int32_t id : {0, -5, past}) EXPECT_EQ(symbol::canonical(id), id) << id;
}

TEST_F(SymbolIntern, FoldingCoversAsciiLettersOnly) {
    struct Case {
        const char *a, *b;
        bool variants;
    } cases[] = {
        {"caf\xC3\xA9", "CAF\xC3\xA9", true},    // é kept, ASCII folded
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9", false},  // É is not é here
        {"a-b?", "A-B?", true},
        {"[", "{", false},  // differ by 0x20 but are not letters
        {"x", "xx", false},
    };
    for (const Case& c : cases) {
        const int32_t a = symbol::intern_cstr(c.a), b = symbol::intern_cstr(c.b);
        EXPECT_NE(a, b);
        EXPECT_EQ(symbol::canonical(b) == a, c.variants) << c.a << " / " << c.b;
    }
    EXPECT_EQ(symbol::find("nowhere", 7), 0);
    EXPECT_EQ(symbol::find("CAF\xC3\xA9", 5), symbol::intern_cstr("CAF\xC3\xA9"));
}

TEST_F(SymbolGrowth, AliasesStayCanonicalAfterTheIndexGrows) {
    // Growing the index rehashes it in bucket order, which can put a later
    // case variant ahead of its canonical spelling on their shared probe
    // chain. Variants interned after that must still alias the canonical
    // spelling, never the variant met first.
    constexpr int N = 12000;
    std::vector<int32_t> canon(N);
    for (int i = 0; i < N; i++) {
        canon[i] = intern("name-" + std::to_string(i));
        intern("NAME-" + std::to_string(i));
    }
    ASSERT_GT(symbol::count(), 20000u);
    EXPECT_GT(hashtab::record(symbol::index)->buckets, 16384u);
    for (int i = 0; i < N; i++) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(intern("name-" + n), canon[i]);
        for (const std::string& variant : {"Name-" + n, "NAME-" + n, "nAmE-" + n}) {
            const int32_t v = intern(variant);
            ASSERT_EQ(symbol::canonical(v), canon[i]) << variant;
            ASSERT_EQ(symbol::alias(v), canon[i]) << variant;
        }
        ASSERT_EQ(symbol::intern_any_case(("NaMe-" + n).c_str()), canon[i]);
    }
}

TEST_F(SymbolNames, NamesAreZeroTerminatedUtf8) {
    const char* names[] = {"a", "set-word", "\xE2\x82\xAC", ""};
    for (const char* n : names) {
        const int32_t id = symbol::intern_cstr(n);
        EXPECT_STREQ(symbol::name(id), n);
        EXPECT_EQ(symbol::name_length(id), std::strlen(n));
    }
    // Names longer than any scratch buffer intern and match like others.
    const std::string longer(1000, 'q');
    std::string shouting(1000, 'Q');
    const int32_t id = intern(longer);
    EXPECT_EQ(symbol::canonical(intern(shouting)), id);
    EXPECT_EQ(symbol::name_length(id), 1000u);
}

TEST_F(SymbolNames, StringFormIsMadeOnFirstAskingAndKept) {
    const int32_t id = symbol::intern_cstr("gr\xC3\xBC\xC3\x9F" "e\xE2\x82\xAC");  // grüße€
    EXPECT_EQ(symbol_form_node(symbol::cell(id)), 0u);
    symbol::get_string(id);
    const Cell* e = symbol::cell(id);
    ASSERT_NE(symbol_form_node(e), 0u);
    const node_t s = symbol_form_node(e);
    EXPECT_EQ(series::unit(series::buffer_of(s)), 2u);  // € needs two bytes
    const std::vector<uint32_t> expected = {'g', 'r', 0xFC, 0xDF, 'e', 0x20AC};
    ASSERT_EQ(series::buffer_length(s), expected.size());
    const auto* units = reinterpret_cast<const uint16_t*>(series::head_ptr(series::buffer_of(s)));
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(units[i], expected[i]) << i;
    EXPECT_EQ(symbol::get_string(id), s);

    const Cell str = Cell{TYPE_STRING, 3, s, 0};  // "ße€"
    const int32_t tail = symbol::intern_string(&str);
    EXPECT_STREQ(symbol::name(tail), "\xC3\x9F" "e\xE2\x82\xAC");
}

}  // namespace
