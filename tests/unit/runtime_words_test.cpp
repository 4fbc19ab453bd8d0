// The runtime's own words and the datatype words: the symbol ids they get
// at start-up, the cells they are kept in, and words made twice.
#include <gtest/gtest.h>

#include "runtime/error_catalog.hpp"

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/symbols.hpp"
#include "startup_support.hpp"

namespace {

using namespace qel;
using RuntimeWords = testutil::StartedRuntime;
using RegistryWords = testutil::StartedRuntime;

std::vector<std::string> split(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string s; in >> s;) out.push_back(s);
    return out;
}

// The names interned for symbol slots, then those made into words, in the
// order start-up takes them.
const char* const SYMBOL_NAMES = R"(
    spec body words class  logic! integer! char! float! percent! any-type!  exit return
    Windows Syllable macOS Linux NetBSD  repeat foreach map-each remove-each
    any break copy end fail into opt not quote case reject set skip some thru to none | - if remove while
    insert only collect keep pick ahead after  x y z  self  values owner owned events?
    true false yes no on off
    type face window offset key flag code picked flags away? ctrl? shift? down? mid-down? alt-down?
    aux-down? orientation  get put post head  size rgb alpha argb
    date year month day zone isoweek week weekday yearday julian time hour minute second timezone
    code amount  user host  system system-global  trace no-trace)";

const char* const WORD_NAMES = R"(
    at back find head head? index? length? next pick skip select tail tail?
    change changed clear cleared set-path append appended move moved poke poked put put-ed removed
    random randomized reverse reversed sort sorted swap swaped take taken trim trimmed inserted
    uppercase lowercase  checksum  push pop fetch match iterate paren  <anon> <body> <not-found>
    add subtract divide  on-parse-event on-change* on-deep-change*  type id  try catch name multiply browse
    open create close delete modify query read rename update write  prescan scan load error comment
    init exec call return enter exit prolog epilog throw expr
    <interp-callback> <lexer-callback> <parse-callback> <compare-callback>  throw
    note syntax script math access user internal invalid-error  local <applied>)";

TEST_F(RuntimeWords, DatatypeNamesComeFirstThenTheRuntimeNamesInListOrder) {
    for (uint32_t t = 1; t <= TYPE_IMAGE; t++)
        EXPECT_EQ(symbol::find(datatype::entry(t).name, std::strlen(datatype::entry(t).name)),
                  static_cast<int32_t>(t))
            << datatype::entry(t).name;

    const std::vector<std::string> symbols = split(SYMBOL_NAMES);
    const std::vector<std::string> words = split(WORD_NAMES);
    ASSERT_EQ(symbols.size(), 112u);
    ASSERT_EQ(words.size(), 105u);
    // Each name not met before (type names such as "logic!" were) takes the
    // next id; the refinements and the issue add the names still missing.
    std::vector<std::string> order = symbols;
    order.insert(order.end(), words.begin(), words.end());
    for (const char* n : {"local", "extern", "compare", "part", "skip", "with", "ooo"}) order.push_back(n);
    std::set<std::string> seen;
    for (uint32_t t = 1; t <= TYPE_IMAGE; t++) seen.insert(datatype::entry(t).name);
    int32_t next = TYPE_IMAGE + 1;
    for (const std::string& n : order) {
        if (!seen.insert(n).second) continue;
        EXPECT_EQ(symbol::find(n.data(), n.size()), next) << n;
        next++;
    }
    // Start-up interns the checksum method words next, then the
    // compression method words, and nothing else.
    for (const char* n : {"tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash", "zlib",
                          "deflate", "gzip"})
        if (seen.insert(n).second) {
            EXPECT_EQ(symbol::find(n, std::strlen(n)), next++) << n;
        }
    // Then the error catalogue adds its category, field and id names, and
    // nothing else.
    std::set<std::string> catalogue = {"code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack",
                                       "files", "throw", "note", "syntax", "script", "math", "access",
                                       "reserved1", "reserved2", "user", "internal"};
    for (uint32_t i = 0; i < err::catalog_size; i++) catalogue.insert(err::catalog[i].id);
    for (auto id = static_cast<uint32_t>(next); id <= symbol::count(); id++)
        EXPECT_TRUE(catalogue.count(symbol::name(static_cast<int32_t>(id)))) << symbol::name(static_cast<int32_t>(id));
}

TEST_F(RuntimeWords, InterningAListedNameAgainAnswersItsSlot) {
    const uint32_t before = symbol::count();
    struct Case {
        const char* name;
        int32_t slot;
    } cases[] = {
        {"spec", words::sym_spec},       {"any-type!", words::sym_type_any}, {"|", words::sym_pipe},
        {"-", words::sym_dash},          {"code", words::sym_code},          {"no-trace", words::sym_no_trace},
        {"changed", words::sym_changed}, {"macOS", words::sym_macos},
    };
    for (const Case& c : cases) EXPECT_EQ(symbol::intern_cstr(c.name), c.slot) << c.name;
    EXPECT_EQ(symbol::count(), before);
    // A different letter case is a new spelling of the same name.
    EXPECT_EQ(symbol::canonical(symbol::intern_cstr("MACOS")), words::sym_macos);
}

TEST_F(RuntimeWords, SlotsHoldKeptCellsOfTheirOwnType) {
    struct Case {
        const Cell* cell;
        uint32_t type;
        const char* name;
        bool bound;  // to the global context
    } cases[] = {
        {words::w_windows, TYPE_WORD, "Windows", true},
        {words::w_pipe, TYPE_WORD, "|", true},
        {words::w_end, TYPE_WORD, "end", true},
        {words::w_at, TYPE_WORD, "at", true},
        {words::w_not_found, TYPE_WORD, "<not-found>", true},
        {words::w_on_deep_change, TYPE_WORD, "on-deep-change*", true},
        {words::w_applied, TYPE_WORD, "<applied>", true},
        {words::ref_local, TYPE_REFINEMENT, "local", false},
        {words::ref_with, TYPE_REFINEMENT, "with", false},
        {words::issue_ooo, TYPE_ISSUE, "ooo", true},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.cell, nullptr) << c.name;
        EXPECT_TRUE(in_root_block(c.cell)) << c.name;
        EXPECT_EQ(cell::type_of(c.cell), c.type) << c.name;
        EXPECT_STREQ(symbol::name(word_symbol(c.cell)), c.name);
        EXPECT_EQ(word_context(c.cell), c.bound ? context::global : 0u) << c.name;
    }
}

TEST_F(RuntimeWords, AWordMadeTwiceIsTwoCellsOfOneSymbol) {
    // "throw" is both an interpreter event and the word of try's handler.
    ASSERT_NE(words::w_throw, words::w_try_throw);
    EXPECT_EQ(word_symbol(words::w_throw), word_symbol(words::w_try_throw));
    EXPECT_EQ(word_context(words::w_throw), word_context(words::w_try_throw));
    EXPECT_EQ(word_index(words::w_throw), word_index(words::w_try_throw));
    // A word of a symbol slot and a word of the same name are one word.
    EXPECT_EQ(word_symbol(words::w_remove), words::sym_remove);
    EXPECT_EQ(word_symbol(words::w_changed), words::sym_changed);
}

TEST_F(RegistryWords, EveryDatatypeHasItsKeptWord) {
    for (uint32_t t = 1; t <= datatype::highest(); t++) {
        const Cell* w = datatype::entry(t).word;
        ASSERT_NE(w, nullptr) << t;
        EXPECT_TRUE(in_root_block(w)) << t;
        EXPECT_EQ(word_symbol(w), static_cast<int32_t>(t)) << datatype::entry(t).name;
    }
}

TEST_F(RegistryWords, ATypeRegisteredAfterTheWordsGetsItsWordAtOnce) {
    const uint32_t saved = keep_words;
    keep_words = 0;  // registration keeps the word whatever the flag says
    datatype::register_type(datatype::RECORD_WORDS, datatype::make_record(TYPE_EVENT, 0, "event!"));
    keep_words = saved;
    const Cell* w = datatype::entry(TYPE_EVENT).word;
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(in_root_block(w));
    EXPECT_STREQ(symbol::name(word_symbol(w)), "event!");
    EXPECT_EQ(datatype::highest(), static_cast<uint32_t>(TYPE_EVENT));
}

}  // namespace
