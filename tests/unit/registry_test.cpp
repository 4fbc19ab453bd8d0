// The datatype registry: inheritance of action slots at registration time,
// the start-up order, datatype!'s own actions and the refusal of malformed
// registration records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <unistd.h>

#include "platform/console.hpp"
#include "library/startup.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/memory.hpp"

namespace {

using namespace qel;
using namespace qel::datatype;

// Ids 55 and 56 belong to no datatype, so tests may register their own.
constexpr uint32_t TEST_PARENT = 55;
constexpr uint32_t TEST_CHILD = 56;

// Distinct bodies, so that no two of them can share an address.
int last_called = 0;
void action_a() { last_called = 1; }
void action_b() { last_called = 2; }
void action_c() { last_called = 3; }

// Registration and lookup go through each slot's own signature: a routine
// of another signature does not fit the slot.
template <Slot S, class F>
constexpr bool fits_slot = requires(Record& r, F f) { set_slot<S>(r, f); };
static_assert(fits_slot<ADD, void (*)()>);
static_assert(!fits_slot<REFLECT, void (*)()>);
static_assert(fits_slot<REFLECT, slot_fn::Reflect*>);
static_assert(!fits_slot<ADD, slot_fn::Reflect*>);
static_assert(!fits_slot<SELECT, slot_fn::Take*>);
static_assert(std::is_same_v<decltype(action<FIND>(0u)), slot_fn::Find*>);
static_assert(std::is_same_v<decltype(action<TO>(0u)), slot_fn::Make*>);

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        memory::free_all_frames();
        memory::init();
        init_tables();
        startup::register_datatypes();
    }
    void TearDown() override {
        init_tables();
        startup::register_datatypes();
        memory::free_all_frames();
        memory::init();
    }
};

TEST_F(Registry, InheritedSlotsTakeTheParentEntryAsItStandsAtRegistration) {
    Record parent = make_record(TEST_PARENT, 0, "parent!", nullptr);
    set_slot<ADD>(parent, &action_a);
    set_slot<MULTIPLY>(parent, &action_a);
    set_slot<SUBTRACT>(parent, &action_c);
    inherit_slot<COPY>(parent);  // no parent: stays empty
    register_type(RECORD_WORDS, parent);

    Record child = make_record(TEST_CHILD, TEST_PARENT, "child!");
    set_slot<MULTIPLY>(child, &action_b);  // its own entry wins
    clear_slot<SUBTRACT>(child);           // an empty slot of its own
    register_type(RECORD_WORDS, child);

    struct Case {
        uint32_t slot;
        ActionFn parent, child;
    } cases[] = {
        {ADD, &action_a, &action_a},
        {MULTIPLY, &action_a, &action_b},
        {SUBTRACT, &action_c, nullptr},
        {COPY, nullptr, nullptr},
        {SET_PATH, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(action(TEST_PARENT, c.slot), c.parent) << "parent slot " << c.slot;
        EXPECT_EQ(action(TEST_CHILD, c.slot), c.child) << "child slot " << c.slot;
    }
    EXPECT_EQ(highest(), TEST_CHILD);
    EXPECT_EQ(entry(TEST_CHILD).length, 5u);
    EXPECT_EQ(entry(TEST_CHILD).parent, TEST_PARENT);
    EXPECT_EQ(entry(TEST_CHILD).word, nullptr);  // no words before the symbol table
}

TEST_F(Registry, NoTypeFillsSetPathOrOpenQ) {
    for (uint32_t t = 1; t <= highest(); t++) {
        EXPECT_EQ(action(t, SET_PATH), nullptr) << entry(t).name;
        EXPECT_EQ(action(t, OPEN_Q), nullptr) << entry(t).name;
    }
}

// Children inherit what their parents hold, down a chain of three.
TEST_F(Registry, InheritanceReachesGrandchildren) {
    ASSERT_NE(action(TYPE_BLOCK, FIND), nullptr);
    register_type(RECORD_WORDS, make_record(TEST_PARENT, TYPE_BLOCK, "p!"));
    register_type(RECORD_WORDS, make_record(TEST_CHILD, TEST_PARENT, "c!"));
    EXPECT_EQ(action(TEST_CHILD, FIND), action(TYPE_BLOCK, FIND));
}

TEST_F(Registry, StartUpRegistersEveryParentBeforeItsChildren) {
    // The parents of the type table, by type id (0: none).
    const uint32_t expected_parent[TYPE_LIMIT] = {
        0,  // unused
        0, 0, 0, 0, TYPE_SERIES, TYPE_BLOCK, TYPE_SERIES, TYPE_URL, TYPE_STRING, TYPE_INTEGER,   // 1-10
        0, 0, 0, 0, TYPE_SYMBOL, TYPE_WORD, TYPE_WORD, TYPE_WORD, TYPE_WORD, TYPE_WORD,          // 11-20
        0, TYPE_NATIVE, TYPE_NATIVE, TYPE_CONTEXT, TYPE_BLOCK, TYPE_PATH, TYPE_PATH, TYPE_PATH,  // 21-28
        TYPE_FUNCTION, 0, 0, 0, 0, TYPE_OBJECT, TYPE_STRING, TYPE_BLOCK, 0, TYPE_FLOAT,          // 29-38
        0, 0, TYPE_STRING, 0, TYPE_FLOAT, TYPE_STRING, TYPE_STRING, TYPE_INTEGER, 0,             // 39-47
        TYPE_OBJECT, 0, TYPE_STRING, 0, 0, TYPE_SERIES, 0, 0, 0,                                 // 48-56
    };
    uint32_t position[TYPE_LIMIT] = {};
    for (uint32_t i = 0; i < startup::DATATYPES; i++) {
        const uint32_t t = startup::datatype_order[i].type;
        ASSERT_TRUE(t >= 1 && t < TYPE_LIMIT);
        EXPECT_EQ(position[t], 0u) << "registered twice: " << t;
        position[t] = i + 1;
    }
    for (uint32_t t = 1; t <= TYPE_IMAGE; t++) {
        ASSERT_NE(position[t], 0u) << "missing: " << t;
        EXPECT_EQ(entry(t).parent, expected_parent[t]) << entry(t).name;
        const uint32_t p = expected_parent[t];
        if (p != 0) {
            EXPECT_LT(position[p], position[t]) << entry(t).name;
        }
    }
    EXPECT_EQ(position[TYPE_EVENT], 0u);  // the boot-time construction registers it
    EXPECT_EQ(highest(), TYPE_IMAGE);
    EXPECT_STREQ(entry(TYPE_POINT2D).name, "point2D!");
    EXPECT_EQ(entry(TYPE_INTEGER).length, 7u);
}

// ---- datatype! ---------------------------------------------------------------

std::string text_of(node_t out) {
    SeriesBuffer* s = series::buffer_of(out);
    const uint32_t width = series::unit(s);
    std::string text;
    for (uint32_t off = s->head; off < s->tail; off += width) {
        uint32_t cp = 0;
        std::memcpy(&cp, series::data(s) + off, width);
        text += cp < 0x100 ? static_cast<char>(cp) : '?';
    }
    return text;
}

TEST_F(Registry, FormAndMoldOfADatatypeWriteItsName) {
    const Cell integer_type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
    FormFn* const form_slot = action<FORM>(TYPE_DATATYPE);
    MoldFn* const mold_slot = action<MOLD>(TYPE_DATATYPE);
    struct Case {
        const char* what;
        uint32_t width;
        bool mold, all;
        const char* text;
        int32_t left;
    } cases[] = {
        {"form", 1, false, false, "integer", 93},
        {"mold", 1, true, false, "integer!", 92},
        {"mold/all", 1, true, true, "#(integer!)", 89},
        {"mold/all into a 2-byte buffer", 2, true, true, "#(integer!)", 89},
        {"form into a 4-byte buffer", 4, false, false, "integer", 93},
    };
    for (const Case& c : cases) {
        const node_t out = series::alloc_with_unit(4, c.width);
        const int32_t left = c.mold ? mold_slot(&integer_type, out, datatype::MoldOptions{.all = c.all}, 100, 0)
                                    : form_slot(&integer_type, out, false, 100);
        EXPECT_EQ(text_of(out), c.text) << c.what;
        EXPECT_EQ(left, c.left) << c.what;
    }
}

TEST_F(Registry, DatatypesCompareForEqualityOnly) {
    CompareFn* const compare_slot = action<COMPARE>(TYPE_DATATYPE);
    const Cell integer_type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
    const Cell float_type{TYPE_DATATYPE, TYPE_FLOAT, 0, 0};
    const Cell eleven{TYPE_INTEGER, TYPE_INTEGER, TYPE_INTEGER, 0};  // same payload, another type
    struct Case {
        const Cell* other;
        CompareOp op;
        int32_t answer;
    } cases[] = {
        {&integer_type, CompareOp::Equal, 0},          {&integer_type, CompareOp::NotEqual, 0},
        {&integer_type, CompareOp::StrictEqual, 0},    {&integer_type, CompareOp::Same, 0},
        {&integer_type, CompareOp::Find, 0},           {&float_type, CompareOp::Equal, 1},
        {&float_type, CompareOp::NotEqual, 1},         {&float_type, CompareOp::Find, 1},
        {&eleven, CompareOp::Equal, 1},                {&eleven, CompareOp::Same, 1},
        {&integer_type, CompareOp::Lesser, -2},        {&integer_type, CompareOp::GreaterOrEqual, -2},
        {&integer_type, CompareOp::Sort, -2},          {&integer_type, CompareOp::SortCase, -2},
        {&integer_type, CompareOp::WordCase, -2},      {&integer_type, CompareOp::Word, -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compare_slot(&integer_type, c.other, c.op), c.answer) << "op " << to_code(c.op);
}

TEST_F(Registry, AppendAtAddsADatatypeCellToABlock) {
    const node_t n = memory::alloc_cells(1);
    const Cell block{TYPE_BLOCK, 0, n, 0};
    append_at(&block, TYPE_STRING);
    append_at(&block, TYPE_IMAGE);  // grows the buffer
    ASSERT_EQ(series::buffer_length(n), 2u);
    const Cell* cells = series::head_cell(series::buffer_of(n));
    EXPECT_EQ(cells[0].header, TYPE_DATATYPE);
    EXPECT_EQ(datatype_id(cells[0]), TYPE_STRING);
    EXPECT_EQ(datatype_id(cells[1]), TYPE_IMAGE);
}

// ---- malformed records ---------------------------------------------------------

// The registry reports through the console, which writes to fd 1; the
// child sends it to stderr, where the death test reads it.
void register_in_child(uint32_t count, uint32_t type, uint32_t parent) {
    console::set_output_fd(2);
    init_tables();
    register_type(RECORD_WORDS, make_record(TYPE_SERIES, 0, "series!"));
    register_type(count, make_record(type, parent, "bad!"));
    _exit(0);
}

TEST(RegistryDeathTest, AWrongSlotCountIsReportedAndFailsTheProcess) {
    struct Case {
        uint32_t count;
        const char* found;
    } cases[] = {{64, "61"}, {66, "63"}, {0, "-3"}};
    for (const Case& c : cases) {
        const std::string message = std::string("\\*\\*\\* Datatype Error: invalid actions count for type: 55\n") +
                                    "\\*\\*\\* Found: " + c.found + "\n\\*\\*\\* Expected: 62\n";
        EXPECT_EXIT(register_in_child(c.count, 55, 0), ::testing::ExitedWithCode(1), message) << c.count;
    }
}

TEST(RegistryDeathTest, IdsOutsideTheTableAndUnregisteredParentsAreRefused) {
    EXPECT_EXIT(register_in_child(RECORD_WORDS, 57, 0), ::testing::ExitedWithCode(1), "invalid type id: 57\n");
    EXPECT_EXIT(register_in_child(RECORD_WORDS, 0, 0), ::testing::ExitedWithCode(1), "invalid type id: 0\n");
    EXPECT_EXIT(register_in_child(RECORD_WORDS, 55, 56), ::testing::ExitedWithCode(1),
                "parent not registered for type: 55\n");
    EXPECT_EXIT(register_in_child(RECORD_WORDS, 55, 55), ::testing::ExitedWithCode(1),
                "parent not registered for type: 55\n");
    // A registered parent is accepted.
    EXPECT_EXIT(register_in_child(RECORD_WORDS, 55, TYPE_SERIES), ::testing::ExitedWithCode(0), "");
}

}  // namespace
