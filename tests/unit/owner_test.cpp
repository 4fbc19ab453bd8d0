// Ownership tracking: attaching series to an owner object, removing them,
// reporting changes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "startup_support.hpp"

namespace {

using namespace qel;
using Owner = testutil::StartedRuntime;

struct Report {
    Cell owner, field, target;
};
std::vector<Report> reports;

void record_report(const Cell* owner, const Cell* field, const Cell* target, const Cell*, const Cell*, int32_t,
                   int32_t) {
    reports.push_back({*owner, *field, *target});
}

Cell block_of(std::initializer_list<Cell> cells) {
    const node_t n = memory::alloc_cells(static_cast<uint32_t>(cells.size() ? cells.size() : 1));
    const Cell b{TYPE_BLOCK, 0, n, 0};
    for (const Cell& c : cells) *series::reserve_cell(&b) = c;
    return b;
}

Cell string_of(const char* text) {
    const node_t n = memory::alloc_bytes(16);
    series::append_bytes(n, text, static_cast<uint32_t>(std::strlen(text)));
    return Cell{TYPE_STRING, 0, n, 0};
}

Cell word_of(const char* name) { return word::make_from_symbol(symbol::intern_cstr(name)); }

// An object with the given fields; with handlers it carries an on-set info
// block, which is all the owner table looks at.
Cell object_of(std::initializer_list<std::pair<const char*, Cell>> fields, bool handlers) {
    const node_t ctx = context::make(static_cast<uint32_t>(fields.size()), false, true, 0, context::OBJECT);
    const Cell info = handlers ? block_of({}) : Cell{};
    const Cell obj{TYPE_OBJECT, ctx, 1000000, handlers ? series_node(info) : 0};
    *context::self_of(ctx) = obj;
    for (const auto& [name, value] : fields) {
        const Cell w = word_of(name);
        context::set_by_symbol(ctx, &w, &value);
    }
    return obj;
}

Cell* field_of(const Cell& obj, const char* name) {
    const int32_t i = context::find_symbol(object_context(obj), symbol::intern_cstr(name), true);
    return context::value_by_index(object_context(obj), static_cast<uint32_t>(i));
}

bool owned_flag(const Cell& series) { return series::flags_of(series_node(series)) & series_flag::OWNED; }

bool context_owns(const Cell& obj) { return context::cell_of(object_context(obj))->header & owner::CONTEXT_OWNS; }

class OwnerReports : public Owner {
protected:
    void SetUp() override {
        Owner::SetUp();
        reports.clear();
        owner::deep_change_dispatch = &record_report;
    }
    void TearDown() override {
        owner::deep_change_dispatch = nullptr;
        Owner::TearDown();
    }
};

TEST_F(OwnerReports, ABlockInAnOwnedFieldAndAStringInsideItReportUntilRemoved) {
    const Cell inner = string_of("abc");
    const Cell items = block_of({Cell{TYPE_INTEGER, 0, 7, 0}, inner});
    const Cell stranger = string_of("xyz");
    const Cell obj = object_of({{"items", items}}, true);
    const Cell field = word_of("items");
    owner::attach(&obj, &field, field_of(obj, "items"));

    EXPECT_TRUE(context_owns(obj));
    for (const Cell* s : {&items, &inner}) {
        EXPECT_TRUE(owned_flag(*s));
        const Cell* entry = owner::find(s);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(object_context(entry[0]), object_context(obj));  // the owner object
        EXPECT_EQ(word_symbol(entry[1]), word_symbol(field));  // then the field word
    }
    const Cell action = *words::w_append;
    EXPECT_TRUE(owner::check_change(&items, &action, &inner, 0, 1));
    EXPECT_TRUE(owner::check_change(&inner, &action, &inner, 2, 1));
    EXPECT_FALSE(owner::check_change(&stranger, &action, &inner, 0, 1));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(object_context(reports[1].owner), object_context(obj));
    EXPECT_EQ(word_symbol(reports[1].field), word_symbol(field));
    EXPECT_EQ(series_node(reports[1].target), series_node(inner));

    owner::remove_deep(field_of(obj, "items"));
    for (const Cell* s : {&items, &inner}) {
        EXPECT_FALSE(owned_flag(*s));
        EXPECT_EQ(owner::find(s), nullptr);
        EXPECT_FALSE(owner::check_change(s, &action, &inner, 0, 1));
    }
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(OwnerReports, AnOwnerWithoutChangeHandlersIsNotCalled) {
    const Cell text = string_of("abc");
    const Cell obj = object_of({{"text", text}}, false);
    const Cell field = word_of("text");
    owner::attach(&obj, &field, field_of(obj, "text"));
    EXPECT_NE(owner::find(&text), nullptr);
    EXPECT_FALSE(owner::check_change(&text, words::w_append, &text, 0, 1));
    EXPECT_TRUE(reports.empty());
}

// Values that cannot be owned never match an entry, even when their
// payload equals an owned node.
TEST_F(OwnerReports, ValuesWithoutASeriesHaveNoOwner) {
    const Cell text = string_of("abc");
    const Cell obj = object_of({{"text", text}}, true);
    const Cell field = word_of("text");
    owner::attach(&obj, &field, field_of(obj, "text"));
    const Cell lookalikes[] = {
        {TYPE_INTEGER, 0, series_node(text), 0},
        {TYPE_CHAR, 0, series_node(text), 0},
        {TYPE_NONE, 0, series_node(text), 0},
    };
    for (const Cell& v : lookalikes) {
        EXPECT_EQ(owner::find(&v), nullptr) << cell::type_of(&v);
        EXPECT_FALSE(owner::check_change(&v, words::w_append, &v, 0, 1));
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Owner, StructuresThatHoldThemselvesAreWalkedOnce) {
    const Cell text = string_of("abc");
    const Cell loop = block_of({text});
    *series::reserve_cell(&loop) = loop;  // the block holds itself
    const Cell obj = object_of({{"loop", loop}, {"me", Cell{}}}, true);
    *field_of(obj, "me") = obj;  // and the object holds itself

    // An object taking ownership of its own series.
    Cell self = obj;
    const Cell field = word_of("self");
    owner::attach(&obj, &field, &self);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_TRUE(context_owns(obj));
    EXPECT_NE(owner::find(&loop), nullptr);
    EXPECT_NE(owner::find(&text), nullptr);

    owner::remove_deep(field_of(obj, "loop"));
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(owner::find(&loop), nullptr);
    EXPECT_EQ(owner::find(&text), nullptr);
}

TEST_F(Owner, AnObjectThatOwnsItsSeriesKeepsThem) {
    const Cell mine = string_of("inner");
    const Cell inner = object_of({{"mine", mine}}, true);
    const Cell inner_field = word_of("mine");
    owner::attach(&inner, &inner_field, field_of(inner, "mine"));

    const Cell outer = object_of({{"child", block_of({inner})}}, true);
    const Cell outer_field = word_of("child");
    owner::attach(&outer, &outer_field, field_of(outer, "child"));
    ASSERT_NE(owner::find(&mine), nullptr);
    EXPECT_EQ(object_context(owner::find(&mine)), object_context(inner));

    owner::remove_deep(field_of(outer, "child"));
    ASSERT_NE(owner::find(&mine), nullptr);
    EXPECT_EQ(object_context(owner::find(&mine)), object_context(inner));
}

TEST_F(Owner, AnImageCarriesTheFlagInItsCell) {
    const node_t pixels = memory::alloc_bytes(64);
    const Cell image{TYPE_IMAGE, 0, pixels, (2u << 16) | 2u};
    const Cell holder = block_of({image});
    const Cell obj = object_of({{"pics", holder}}, true);
    const Cell field = word_of("pics");
    owner::attach(&obj, &field, field_of(obj, "pics"));

    const Cell* stored = series::head_cell(series::buffer_of(series_node(holder)));
    EXPECT_TRUE(stored->header & cell_flag::IMAGE_OWNED);
    EXPECT_FALSE(series::flags_of(pixels) & series_flag::OWNED);
    EXPECT_NE(owner::find(stored), nullptr);

    owner::remove_deep(field_of(obj, "pics"));
    stored = series::head_cell(series::buffer_of(series_node(holder)));
    EXPECT_FALSE(stored->header & cell_flag::IMAGE_OWNED);
    EXPECT_EQ(owner::find(stored), nullptr);
}

// More series than the table was sized for: entries keep landing while the
// table grows under the walk.
TEST_F(Owner, AttachingOutgrowsTheTableSize) {
    const Cell many = block_of({});
    for (int i = 0; i < 2500; i++) {
        const Cell s = string_of("s");
        *series::reserve_cell(&many) = s;
    }
    const Cell obj = object_of({{"many", many}}, true);
    const Cell field = word_of("many");
    owner::attach(&obj, &field, field_of(obj, "many"));
    for (uint32_t i = 0; i < series::buffer_length(series_node(many)); i++) {
        const Cell s = series::head_cell(series::buffer_of(series_node(many)))[i];
        ASSERT_NE(owner::find(&s), nullptr) << i;
    }
}

}  // namespace
