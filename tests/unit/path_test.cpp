// The path types and paren!: the budgets of their text, the cycle stack
// after writing values that hold themselves or nest too deep, and the
// empty path made where no room is asked for. Their notation, make and to
// and the actions they take are tested in tests/lang/words/path_cases.qel.
#include "block_values.hpp"
#include "datatypes/block.hpp"
#include "datatypes/path.hpp"
#include "runtime/cycles.hpp"
#include "runtime/scan_hook.hpp"

namespace qel {
namespace {

using testutil::BlockValues;
using testutil::molded;
using testutil::read_values;

class Path : public BlockValues {};

TEST_F(Path, TextBudgetsCountWhatWasWritten) {
    struct Case {
        uint32_t type;
        const char* source;
    } cases[] = {
        {TYPE_PATH, "a b c"}, {TYPE_LIT_PATH, "a b c"}, {TYPE_SET_PATH, "a b c"}, {TYPE_GET_PATH, "a b c"},
        {TYPE_PATH, "a 1 (b c) [d]"}, {TYPE_PATH, "~a ~b"}, {TYPE_PATH, ""},
        {TYPE_PAREN, "1 2"}, {TYPE_PAREN, "~1 ~2"}, {TYPE_PAREN, ""},
    };
    for (const Case& c : cases) {
        const Cell v = read_values(c.source, c.type);
        const testutil::Text m = testutil::mold_text(v);
        EXPECT_EQ(m.used, static_cast<int32_t>(m.text.size())) << c.source << " as type " << c.type;
        const testutil::Text f = testutil::form_text(v);
        EXPECT_EQ(f.used, static_cast<int32_t>(f.text.size())) << c.source << " as type " << c.type;
    }
}

TEST_F(Path, WritingSelfContainingValuesLeavesNoCycleEntries) {
    for (uint32_t type : {TYPE_PAREN, TYPE_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        const Cell v = read_values("a", type);
        testutil::append_cell(v, v);
        molded(v);
        testutil::form_text(v);
        EXPECT_EQ(cycles::depth(), 0u) << type;
    }
}

TEST_F(Path, DeeplyNestedParensLeaveNoCycleEntries) {
    Cell inner = read_values("1", TYPE_PAREN);
    for (int i = 1; i < 1000; i++) {
        const Cell outer = read_values("", TYPE_PAREN);
        testutil::append_cell(outer, inner);
        inner = outer;
    }
    EXPECT_EQ(testutil::raised([&] { molded(inner); }), err::TOO_DEEP);
    EXPECT_EQ(cycles::depth(), 0u);
}

// A string goes to the lexer's hook, which loads a block into out; the path
// takes its values and the requested type. Without the hook it is not done.
uint32_t scan_two_words(const Cell*, scan_hook::Scan, Cell* out) {
    *out = read_values("x y");
    return TYPE_WORD;
}

TEST_F(Path, ToStringThroughTheScanHook) {
    Cell proto{TYPE_PATH, 0, 0, 0};
    Cell text{TYPE_STRING, 0, 0, 0};
    const auto saved = scan_hook::scan_text;
    scan_hook::scan_text = &scan_two_words;
    EXPECT_EQ(molded(*path::to(&proto, &text, TYPE_LIT_PATH)), "'x/y");
    scan_hook::scan_text = nullptr;
    EXPECT_EQ(testutil::raised([&] { path::to(&proto, &text, TYPE_PATH); }), err::NOT_DONE);
    scan_hook::scan_text = saved;
}

TEST_F(Path, MakeAtOfNoRoomGivesAnEmptyPath) {
    Cell empty{};
    path::make_at(&empty, -1);
    EXPECT_EQ(cell::type_of(&empty), TYPE_PATH);
    EXPECT_EQ(series::length_of(&empty), 0);
}

}  // namespace
}  // namespace qel
