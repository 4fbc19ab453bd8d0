// map!: keys, lookups, the entry block and map!'s action slots (see
// map.hpp).
//
// Pointers into the entry block are taken only between allocations; a key
// or value handed in may itself lie in a buffer that moves, so it is copied
// into a local cell (and, when it holds a series that nothing else keeps,
// onto the argument stack) before anything is allocated.
#include "datatypes/map.hpp"

#include <algorithm>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/series.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/scan_hook.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel::map {

namespace {

Cell* entries(const Cell* m) { return series::cells_of(series_node(m)); }
uint32_t cells(const Cell* m) { return series::cell_count(series_node(m)); }
bool removed(const Cell* key_cell) { return key_cell[1].header == 0; }

// Keys that are series of their own: copied on entry, and copied again on
// the way out, so no one outside ever holds the buffer a key lives in.
bool is_series_key(uint32_t t) { return is_any_string(t) || t == TYPE_BINARY; }

// A copy of a series key from its index, in place. Allocates.
void copy_series_key(Cell* key) {
    const Cell k = *key;
    const uint32_t total = series::buffer_length(series_node(k));
    const uint32_t from = std::min(series_index(k), total);
    const node_t n = series::copy_part(series_node(k), from, total - from);
    *key = Cell{k.header, 0, n, 0};
}

// A stored key as the outside sees it: set-word! keys as word!, series
// keys as a copy of their own. out must be a cell the collector reaches.
void key_for_output(Cell* out, bool as_word) {
    cell::clear_new_line(out);
    const uint32_t t = cell::type_of(out);
    if (as_word && t == TYPE_SET_WORD) cell::set_type(out, TYPE_WORD);
    if (is_series_key(t)) copy_series_key(out);
}

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell dt{TYPE_DATATYPE, TYPE_MAP, 0, 0};
    err::raise(err::BAD_TO_ARG, &dt, spec);
}

// Removed pairs stay in the entry block, where setting their keys again
// revives them, until they outnumber the active pairs and this floor: a
// small map then does not compact on every removal.
constexpr uint32_t REMOVED_FLOOR = 8;

// Cells before position p that belong to active pairs.
uint32_t active_cells_before(const Cell* m, uint32_t p) {
    uint32_t n = 0;
    for (uint32_t i = 0; i + 1 < cells(m) && i < p; i += 2) n += removed(entries(m) + i) ? 0 : 2;
    return n;
}

// Compacts the entry block and its index when removed pairs have piled
// up. The room left is enough for as many removals again before the next
// compaction, so a map that keeps its size (a cache whose keys are
// replaced in turn) settles at one size of buffers.
void compact_if_due(const Cell* map_cell) {
    const Cell m = *map_cell;
    const auto active = static_cast<uint32_t>(count(&m));
    const uint32_t dropped = cells(&m) / 2 - active;
    if (dropped <= active || dropped <= REMOVED_FLOOR) return;
    Walk::close_up(&m);
    hashtab::compact_pairs(hash_index_node(m), 2 * std::max(active, REMOVED_FLOOR) + 2);
}

Walk* innermost_walk = nullptr;

}  // namespace

Walk::Walk(Cell* cursor) : cursor_(cursor), below_(innermost_walk) {
    if (cell::type_of(cursor) != TYPE_MAP) return;
    innermost_walk = this;
}

Walk::~Walk() {
    if (innermost_walk == this) innermost_walk = below_;
}

void Walk::close_up(const Cell* m) {
    for (Walk* w = innermost_walk; w; w = w->below_)
        if (series_node(w->cursor_) == series_node(m))
            series_index(w->cursor_) = active_cells_before(m, series_index(w->cursor_));
}

// ---- keys and lookups -------------------------------------------------------------

int32_t count(const Cell* m) { return static_cast<int32_t>(hashtab::count(hash_index_node(m))); }

bool key_type_ok(uint32_t t) {
    switch (t) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT:
        case TYPE_ISSUE: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: case TYPE_BINARY: case TYPE_INTEGER: case TYPE_CHAR: case TYPE_FLOAT: case TYPE_PERCENT:
        case TYPE_MONEY: case TYPE_PAIR: case TYPE_TUPLE: case TYPE_TIME: case TYPE_DATE: case TYPE_POINT2D:
        case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

void check_key(Cell* key, const Cell* path) {
    const uint32_t t = cell::type_of(key);
    if (!key_type_ok(t)) {
        const Cell where = path ? *path : shared::none;
        const Cell dt{TYPE_DATATYPE, t, 0, 0};
        err::raise(err::INVALID_PATH, &where, &dt);
    }
    if (is_any_word(t)) {
        key->header = TYPE_SET_WORD;  // flags such as new-line go too
    } else {
        cell::clear_new_line(key);
        if (is_series_key(t)) copy_series_key(key);
    }
}

Cell* find_pair(const Cell* m, const Cell* key, CompareOp op) {
    if (!key_type_ok(cell::type_of(key)) || !hash_index_node(m)) return nullptr;
    const Cell k = *key;
    return hashtab::get(hash_index_node(m), &k, 0, 1, op, false, false);
}

Cell* set(const Cell* map_cell, const Cell* key, const Cell* value, bool strict, const Cell* path) {
    const Cell m = *map_cell;
    Cell v = *value;
    cell::clear_new_line(&v);
    uint32_t hash = 0;
    if (key_type_ok(cell::type_of(key))) {
        const Cell probe = *key;
        const CompareOp op = strict ? CompareOp::StrictEqual : CompareOp::Equal;
        if (Cell* k = hashtab::find_map_key(hash_index_node(m), &probe, op, &hash)) {
            // Only a removed pair comes back into the count.
            if (removed(k)) hashtab::record(hash_index_node(m))->size++;
            k[1] = v;
            return k + 1;
        }
    }
    const stack::TopSaved held;
    // The value, the new key and the map stay reachable while the key is
    // copied and the pair appended.
    stack::push(&m);
    stack::push(&v);
    Cell* k = stack::push(key);
    check_key(k, path);
    const Cell nk = *k;
    const uint32_t pos = cells(&m);
    *series::reserve_cell(series::buffer_of(series_node(m))) = nk;
    *series::reserve_cell(series::buffer_of(series_node(m))) = shared::unset;
    // The stored key is the probe's copy (or its set-word! form): it has
    // the probe's hash.
    hashtab::put_new_at(hash_index_node(m), pos, hash);
    Cell* slot = entries(&m) + pos + 1;
    *slot = v;
    return slot;
}

Cell* extend_from_block(Cell* map_cell, const Cell* spec_in, bool strict) {
    const Cell spec = *spec_in;
    const stack::TopSaved held;
    Cell* m = stack::push(map_cell);
    stack::push(&spec);
    if (cell::type_of(&spec) == TYPE_MAP) {
        // Entries are read by position: setting keys may grow this very
        // entry block when a map extends itself.
        for (uint32_t i = 0; i + 1 < cells(&spec); i += 2) {
            if (removed(entries(&spec) + i)) continue;
            const Cell k = entries(&spec)[i];
            const Cell v = entries(&spec)[i + 1];
            set(m, &k, &v, strict, &spec);
        }
        return map_cell;
    }
    const uint32_t total = series::buffer_length(series_node(spec));
    const uint32_t from = std::min(series_index(spec), total);
    if ((total - from) % 2) err::raise(err::INVALID_ARG, &spec);
    for (uint32_t i = from; i + 1 < series::buffer_length(series_node(spec)); i += 2) {
        const Cell k = series::cells_of(series_node(spec))[i];
        const Cell v = series::cells_of(series_node(spec))[i + 1];
        set(m, &k, &v, strict, &spec);
    }
    return map_cell;
}

Cell* make_at(Cell* c, const Cell* block, uint32_t size) {
    const Cell src = block ? *block : shared::none;
    uint32_t room = size;
    if (block) room = std::max<uint32_t>(room, static_cast<uint32_t>(std::max(series::length_of(&src), 0)) / 2);
    const uint64_t want = std::max<uint64_t>(uint64_t{room} * 2, 2);
    if (want > UINT32_MAX / sizeof(Cell)) err::raise(err::NO_MEMORY);
    const node_t n = memory::alloc_cells(static_cast<uint32_t>(want));
    // Reachable as a block while its index is made.
    *c = Cell{TYPE_BLOCK, 0, n, 0};
    const node_t rec = hashtab::make(std::max<uint32_t>(room, 4), c, hashtab::Kind::MAP, 0);
    *c = Cell{TYPE_MAP, 0, n, rec};
    if (block) extend_from_block(c, &src, false);
    return c;
}

bool index_pairs(const Cell* map_cell) {
    const Cell m = *map_cell;
    const uint32_t n = cells(&m);
    if (n % 2) return false;
    for (uint32_t i = 0; i < n; i += 2) {
        Cell* k = entries(&m) + i;
        const uint32_t t = cell::type_of(k);
        if (!key_type_ok(t)) return false;
        if (is_any_word(t)) k->header = TYPE_SET_WORD;
        if (entries(&m)[i + 1].header == 0) entries(&m)[i + 1] = shared::unset;
    }
    hashtab::index_block(hash_index_node(m), 0, 2);
    return hashtab::count(hash_index_node(m)) == n / 2;
}

Cell* push_block(const Cell* m_in, Part part) {
    const Cell m = *m_in;
    const int32_t n = count(&m);
    Cell* out = block::push_new(part == Part::BODY ? 2 * n : n);
    for (uint32_t i = 0; i + 1 < cells(&m); i += 2) {
        if (removed(entries(&m) + i)) continue;
        if (part != Part::VALUES) {
            Cell* k = block::append_copy(out, entries(&m) + i);
            if (is_series_key(cell::type_of(k)) || part == Part::WORDS) {
                Cell key = *k;
                Cell* held = stack::push(&key);
                key_for_output(held, part == Part::WORDS);
                const Cell made = *held;
                stack::pop_n(1);
                *block::cell_at(out, block::length(out) - 1) = made;
            }
        }
        if (part != Part::WORDS) block::append_copy(out, entries(&m) + i + 1);
    }
    return out;
}

void set_words_from_cells(const Cell* words_in, const Cell* values_in) {
    const Cell words = *words_in;
    const Cell values = *values_in;
    const int32_t nw = std::max(block::length(&words), 0);
    const int32_t nv = std::max(block::length(&values), 0);
    for (int32_t i = 0; i < nw; i++) {
        Cell w = *block::cell_at(&words, series_index(words) + static_cast<uint32_t>(i));
        const uint32_t wt = cell::type_of(&w);
        if (!is_any_word(wt))
            err::raise(err::INVALID_ARG, &w);
        const uint32_t at = series_index(values) + static_cast<uint32_t>(i);
        const Cell v = i < nv ? *block::cell_at(&values, at) : shared::none;
        word::set(&w, &v);
    }
}

bool foreach_step(Cell* m, const Cell* words) {
    const uint32_t total = cells(m);
    uint32_t i = series_index(m);
    if (i % 2) i++;
    while (i + 1 < total && removed(entries(m) + i)) i += 2;
    if (i + 1 >= total) {
        series_index(m) = total;
        return false;
    }
    const stack::TopSaved held;
    Cell* pair = block::push_new(2);
    Cell* key = stack::push(entries(m) + i);
    key_for_output(key, true);
    block::append_copy(pair, key);
    block::append_copy(pair, entries(m) + i + 1);
    series_index(m) = i + 2;
    set_words_from_cells(words, pair);
    return true;
}

bool build_literal(uint32_t first, uint32_t n, Cell* out) {
    if (n % 2) return false;
    for (uint32_t i = 0; i < n; i += 2)
        if (!key_type_ok(cell::type_of(scan_hook::value_at(first + i)))) return false;
    const stack::TopSaved held;
    Cell* c = make_at(stack::push(&shared::none), nullptr, n / 2);
    for (uint32_t i = 0; i < n; i += 2) {
        const Cell k = *scan_hook::value_at(first + i);
        const Cell v = *scan_hook::value_at(first + i + 1);
        set(c, &k, &v, false, &shared::none);
    }
    *out = *c;
    return true;
}

// ---- action slots -------------------------------------------------------------------

namespace {

Cell* copy(Cell* value, Cell* result, Cell*, bool deep, Cell* types) {
    const Cell src = *value;
    if (cycles::find(series_node(src))) {
        cycles::reset();
        err::raise(err::NO_CYCLE);
    }
    const stack::TopSaved held;
    const Cell entries_block{TYPE_BLOCK, 0, series_node(src), 0};
    Cell* b = stack::push(&entries_block);
    Cell* r = stack::push(&shared::unset);
    block::copy(b, r, nullptr, deep, types);
    if (deep && !types) {
        // block!'s deep copy leaves maps shared; a map that holds itself
        // meets its own entry block here and raises no-cycle.
        const mold::CycleEntry entry(series_node(src));
        for (uint32_t i = 1; i < series::cell_count(series_node(r)); i += 2) {
            const Cell v = series::cells_of(series_node(r))[i];
            if (cell::type_of(&v) != TYPE_MAP) continue;
            Cell* c = stack::push(&v);
            copy(c, c, nullptr, true, nullptr);
            series::cells_of(series_node(r))[i] = *c;
        }
    }
    const node_t rec = hashtab::copy(hash_index_node(src), series_node(r));
    const Cell made{TYPE_MAP, 0, series_node(r), rec};
    *result = made;
    return result;
}

Cell* make_or_to(Cell* spec_in, bool to) {
    const Cell spec = *spec_in;
    const uint32_t st = cell::type_of(&spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        if (to) bad_to(&spec);
        int64_t n;
        if (st == TYPE_INTEGER) {
            n = integer_value(spec);
        } else {
            const double d = cell::get_double(&spec);
            if (!(d >= -2147483648.0 && d < 2147483648.0)) err::raise(err::OUT_OF_RANGE, &spec);
            n = static_cast<int64_t>(d);
        }
        if (n < 0) err::raise(err::OUT_OF_RANGE, &spec);
        return make_at(stack::push(&shared::none), nullptr, static_cast<uint32_t>(n));
    }
    if (is_block_paren_or_hash(st)) return make_at(stack::push(&shared::none), &spec, 0);
    if (st == TYPE_MAP) {
        Cell* r = stack::push(&shared::unset);
        return copy(spec_in, r, nullptr, false, nullptr);
    }
    bad_to(&spec);
}

Cell* make(Cell*, Cell* spec, uint32_t) { return make_or_to(spec, false); }
Cell* to(Cell*, Cell* spec, uint32_t) { return make_or_to(spec, true); }

Cell* reflect(Cell* value, int32_t field) {
    const int32_t f = symbol::canonical(field);
    auto is = [f](int32_t sym) { return sym && f == symbol::canonical(sym); };
    if (is(words::sym_words)) return push_block(value, Part::WORDS);
    if (is(words::sym_values)) return push_block(value, Part::VALUES);
    if (is(words::sym_body)) return push_block(value, Part::BODY);
    err::raise(err::NOT_DONE);
}

// The pairs of both layouts: "key value" molded, one pair per line
// indented one level deeper than the map, or separated by blanks when
// flat. Answers whether anything was written.
bool mold_pairs(const Cell& m, node_t out, const datatype::MoldOptions& options, int32_t* limit, int32_t indent,
                bool form) {
    bool wrote = false;
    for (uint32_t i = 0; i + 1 < cells(&m); i += 2) {
        if (options.part && *limit < 1) break;
        if (removed(entries(&m) + i)) continue;
        const Cell k = entries(&m)[i];
        const Cell v = entries(&m)[i + 1];
        if (form) {
            if (wrote) {
                text::append_latin1(out, "\n", 1);
                *limit = mold::spend(*limit, 1);
            }
        } else if (options.flat) {
            if (wrote) {
                text::append_latin1(out, " ", 1);
                *limit = mold::spend(*limit, 1);
            }
        } else {
            text::append_latin1(out, "\n", 1);
            text::indent(out, indent + 1);
            *limit = mold::spend(*limit, 1 + 4 * static_cast<int64_t>(indent + 1));
        }
        *limit = actions::mold(&k, out, options.nested(), *limit, indent + 1);
        text::append_latin1(out, " ", 1);
        *limit = mold::spend(*limit, 1);
        *limit = actions::mold(&v, out, options.nested(), *limit, form ? 0 : indent + 1);
        wrote = true;
    }
    return wrote;
}

int32_t mold_slot(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell m = *value;
    if (mold::cycle_marker(&m, out, &limit, true)) return limit;
    if (!options.only) {
        text::append_latin1(out, "#[", 2);
        limit = mold::spend(limit, 2);
    }
    bool wrote;
    {
        mold::CycleEntry entry(series_node(m));
        wrote = mold_pairs(m, out, options, &limit, indent, false);
    }
    if (wrote && !options.flat) {
        text::append_latin1(out, "\n", 1);
        text::indent(out, indent);
        limit = mold::spend(limit, 1 + 4 * static_cast<int64_t>(indent));
    }
    if (!options.only) {
        text::append_latin1(out, "]", 1);
        limit = mold::spend(limit, 1);
    }
    return limit;
}

int32_t form_slot(const Cell* value, node_t out, bool part, int32_t limit) {
    const Cell m = *value;
    if (mold::cycle_marker(&m, out, &limit, false)) return limit;
    mold::CycleEntry entry(series_node(m));
    mold_pairs(m, out, datatype::MoldOptions{.part = part}, &limit, 0, true);
    return limit;
}

// Equality by content: same count, and every active key of a found in b
// with an equal value.
int32_t compare_slot(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_MAP) return -2;
    switch (op) {
        case CompareOp::Sort: case CompareOp::SortCase:
            return series_node(a) == series_node(b) ? 0 : series_node(a) < series_node(b) ? -1 : 1;
        case CompareOp::Equal: case CompareOp::NotEqual: case CompareOp::StrictEqual: case CompareOp::Same:
        case CompareOp::Find:
            break;
        default: return -2;
    }
    if (series_node(a) == series_node(b)) return 0;
    if (op == CompareOp::Same) return 1;
    if (cycles::find(series_node(a))) return cycles::find(series_node(b)) ? 0 : 1;
    if (count(a) != count(b)) return 1;
    const CompareOp lookup = op == CompareOp::StrictEqual ? CompareOp::StrictEqual : CompareOp::Equal;
    const CompareOp value_op = op == CompareOp::NotEqual ? CompareOp::Equal : op;
    const Cell x = *a, y = *b;
    mold::CycleEntry ea(series_node(x));
    mold::CycleEntry eb(series_node(y));
    for (uint32_t i = 0; i + 1 < cells(&x); i += 2) {
        if (removed(entries(&x) + i)) continue;
        const Cell k = entries(&x)[i];
        const Cell* found = find_pair(&y, &k, lookup);
        if (!found || removed(found)) return 1;
        const Cell v1 = entries(&x)[i + 1];
        const Cell v2 = found[1];
        if (actions::compare_values(&v1, &v2, value_op) != 0) return 1;
    }
    return 0;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    if (step.new_value) {
        const Cell v = *step.new_value;
        set(value, step.element, &v, step.case_sensitive, step.path);
        Cell* r = stack::push(&v);
        return r;
    }
    Cell* k = find_pair(value, step.element, step.case_sensitive ? CompareOp::StrictEqual : CompareOp::Equal);
    return k && !removed(k) ? stack::push(k + 1) : &shared::none;
}

Cell* clear_slot(Cell* series) {
    hashtab::clear(hash_index_node(series));
    series::clear(series_node(series));
    series_index(series) = 0;
    return series;
}

CompareOp lookup_op(bool case_sensitive, bool same) {
    return same ? CompareOp::Same : case_sensitive ? CompareOp::StrictEqual : CompareOp::Equal;
}

Cell* find_slot(Cell* series, Cell* value, const datatype::FindOptions& options) {
    Cell* k = find_pair(series, value, lookup_op(options.case_sensitive, options.same));
    if (!k || removed(k)) return &shared::none;
    Cell* out = stack::push(k);
    key_for_output(out, true);
    return out;
}

Cell* select_slot(Cell* series, Cell* value, const datatype::FindOptions& options) {
    Cell* k = find_pair(series, value, lookup_op(options.case_sensitive, options.same));
    return k && !removed(k) ? stack::push(k + 1) : &shared::none;
}

int32_t length_slot(Cell* series) { return count(series); }

Cell* put_slot(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    const Cell v = *value;
    set(series, key, &v, case_sensitive, key);
    return stack::push(&v);
}

Cell* remove_slot(Cell* series, Cell*, Cell* key) {
    if (!key) err::raise(err::MISSING_ARG);
    Cell* k = find_pair(series, key, CompareOp::StrictEqual);
    // A pair already removed is not counted again.
    if (!k || removed(k)) return series;
    hashtab::remove_cell(hash_index_node(series), k);
    compact_if_due(series);
    return series;
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    fill_value_slots(r, {&make, &to, &form_slot, &mold_slot, &compare_slot});
    datatype::set_slot<datatype::REFLECT>(r, &reflect);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::CLEAR>(r, &clear_slot);
    datatype::set_slot<datatype::COPY>(r, &copy);
    datatype::set_slot<datatype::FIND>(r, &find_slot);
    datatype::set_slot<datatype::LENGTH_Q>(r, &length_slot);
    datatype::set_slot<datatype::PUT>(r, &put_slot);
    datatype::set_slot<datatype::REMOVE>(r, &remove_slot);
    datatype::set_slot<datatype::SELECT>(r, &select_slot);
}

}  // namespace qel::map
