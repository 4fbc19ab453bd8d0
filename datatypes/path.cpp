// The path types and paren!: construction, form and mold, and their slot
// registrations. Paths and parens keep block!'s data layout (index in word
// 1, a cell buffer's node in word 2), so every other action is block!'s.
#include "datatypes/path.hpp"

#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/block_mold.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/text.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace qel {
namespace path {

namespace {

// A new path of the type on the argument stack, holding copies of the
// source's cells from its index.
Cell* push_copy(const Cell* source, uint32_t type) {
    const Cell s = *source;
    const uint32_t len = series::buffer_length(series_node(s));
    const uint32_t from = series_index(s) < len ? series_index(s) : len;
    const node_t n = series::copy_part(series_node(s), from, len - from);
    const Cell c{type, 0, n, 0};
    return stack::push(&c);
}

Cell* push_new(uint32_t type, int32_t capacity) {
    Cell c{};
    make_at(&c, capacity);
    cell::set_type(&c, type);
    return stack::push(&c);
}

Cell* push_holding(const Cell* value, uint32_t type) {
    Cell* p = push_new(type, 1);
    const Cell v = *value;
    *series::reserve_cell(p) = v;
    return p;
}

// The elements joined by "/", each through its type's form or mold.
int32_t walk(const Cell* value, node_t out, bool molding, const datatype::MoldOptions& options, int32_t limit) {
    const Cell v = *value;
    if (mold::cycle_marker(&v, out, &limit, molding)) return limit;
    mold::CycleEntry entry(series_node(v));
    for (uint32_t i = series_index(v); i < series::buffer_length(series_node(v)); i++) {
        if (options.part && limit < 1) break;
        if (i != series_index(v)) {
            text::append_latin1(out, "/", 1);
            limit = mold::spend(limit, 1);
        }
        const Cell c = series::cells_of(series_node(v))[i];
        limit = molding ? actions::mold(&c, out, options, limit, 0) : actions::form(&c, out, options.part, limit);
    }
    return limit;
}

// Slots a path or paren has nowhere, whatever its parent has.
void clear_unused(datatype::Record& r) {
    using namespace datatype;
    r.actions[SET_PATH] = nullptr;
    for (uint32_t s = ABSOLUTE; s <= XOR_T; s++) r.actions[s] = nullptr;
    r.actions[CREATE] = r.actions[CLOSE] = r.actions[DELETE] = nullptr;
    for (uint32_t s = OPEN; s <= WRITE; s++) r.actions[s] = nullptr;
}

}  // namespace

void make_at(Cell* cell, int32_t capacity) {
    cell->header = TYPE_UNSET;
    const node_t n = memory::alloc_cells(capacity < 1 ? 1 : static_cast<uint32_t>(capacity));
    *cell = Cell{TYPE_PATH, 0, n, 0};
}

Cell* make(Cell*, Cell* spec, uint32_t type) {
    const uint32_t t = cell::type_of(spec);
    if (is_block_like(t)) return push_copy(spec, type);
    int64_t capacity;
    if (t == TYPE_INTEGER) {
        capacity = integer_value(spec);
    } else if (t == TYPE_FLOAT || t == TYPE_PERCENT) {
        const double d = std::trunc(cell::get_double(spec));
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) err::raise(err::OUT_OF_RANGE, spec);
        capacity = static_cast<int64_t>(d);
    } else {
        const Cell datatype{TYPE_DATATYPE, type, 0, 0};
        err::throw_make_error(&datatype, spec);
    }
    // A negative capacity is taken as none asked for, as block! make does.
    return push_new(type, static_cast<int32_t>(capacity));
}

Cell* to(Cell*, Cell* spec, uint32_t type) {
    const uint32_t t = cell::type_of(spec);
    if (is_block_like(t)) return push_copy(spec, type);
    // A string is loaded by the lexer and a vector gives its elements, as
    // block! makes them; any other value is the path's one element.
    if (t == TYPE_STRING || t == TYPE_VECTOR) return block::to(nullptr, spec, type);
    return push_holding(spec, type);
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    return walk(value, out, false, datatype::MoldOptions{.part = part}, limit);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return walk(value, out, true, options, limit);
}

// A path met again inside itself is only its marker: no "'" or ":" around
// it, which would read back as a different value.
int32_t mold_lit_path(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    if (mold::cycle_marker(value, out, &limit, true)) return limit;
    text::append_latin1(out, "'", 1);
    return path::mold(value, out, options, mold::spend(limit, 1), 0);
}

int32_t mold_get_path(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    if (mold::cycle_marker(value, out, &limit, true)) return limit;
    text::append_latin1(out, ":", 1);
    return path::mold(value, out, options, mold::spend(limit, 1), 0);
}

int32_t mold_set_path(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    if (mold::cycle_marker(value, out, &limit, true)) return limit;
    limit = path::mold(value, out, options, limit, 0);
    text::append_latin1(out, ":", 1);
    return mold::spend(limit, 1);
}

int32_t mold_paren(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    // A paren that holds itself is written as its marker, like a block:
    // walking it until the cycle stack overflows would turn a printable
    // value into an error.
    const Cell v = *value;
    if (mold::cycle_marker(&v, out, &limit, true)) return limit;
    if (!options.only) {
        text::append_latin1(out, "(", 1);
        limit = mold::spend(limit, 1);
    }
    limit = block::mold_each(&v, out, options, limit, indent);
    if (!options.only) {
        text::append_latin1(out, ")", 1);
        limit = mold::spend(limit, 1);
    }
    return limit;
}

void fill(datatype::Record& r) {
    using namespace datatype;
    clear_unused(r);
    set_slot<MAKE>(r, &make);
    r.actions[RANDOM] = nullptr;
    set_slot<TO>(r, &to);
    set_slot<FORM>(r, &form);
    set_slot<MOLD>(r, &mold);
    // copy stays block!'s, which keeps the copied value's type.
    r.actions[SORT] = nullptr;
    r.actions[TRIM] = nullptr;
}

// The other paths take everything from path!, their notation aside.
void fill_lit_path(datatype::Record& r) { datatype::set_slot<datatype::MOLD>(r, &mold_lit_path); }
void fill_set_path(datatype::Record& r) { datatype::set_slot<datatype::MOLD>(r, &mold_set_path); }
void fill_get_path(datatype::Record& r) { datatype::set_slot<datatype::MOLD>(r, &mold_get_path); }

void fill_paren(datatype::Record& r) {
    clear_unused(r);
    datatype::set_slot<datatype::MOLD>(r, &mold_paren);
    r.actions[datatype::TRIM] = nullptr;
}

static_assert(std::is_same_v<decltype(make), slot_fn::Make>);
static_assert(std::is_same_v<decltype(to), slot_fn::Make>);
static_assert(std::is_same_v<decltype(form), slot_fn::Form>);
static_assert(std::is_same_v<decltype(mold_paren), slot_fn::Mold>);

}  // namespace path
}  // namespace qel
