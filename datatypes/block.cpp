// block!: construction, insertion, lookups and block!'s own action slots
// (see block.hpp). Cells are re-read through their node after anything
// that may allocate or run a change handler; a source that lies in the
// buffer being changed is copied out before the change starts, so that
// inserting a block into itself sees the block as it was.
#include "datatypes/block.hpp"

#include <algorithm>
#include <cstring>

#include "datatypes/block_mold.hpp"
#include "datatypes/block_search.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/vector.hpp"
#include "runtime/actions.hpp"
#include "runtime/block_code.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/scan_hook.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::block {

namespace {

using series_type::Report;

constexpr uint32_t CELL = sizeof(Cell);
constexpr uint64_t MAX_BYTES = UINT32_MAX - memory::BUFFER_OVERHEAD - 16;

SeriesBuffer* buf(const Cell* b) { return series::buffer_of(series_node(b)); }
Cell* cells(const Cell* b) { return series::head_cell(buf(b)); }
uint32_t total(const Cell* b) { return series::buffer_length(series_node(b)); }
bool is_hash(const Cell* b) { return cell::type_of(b) == TYPE_HASH && hash_index_node(b) != 0; }

// Types whose copy makes a new buffer (the ones copy/deep descends into).
bool is_deep_copied(uint32_t t) {
    return series_type::is_series(t);
}

// Types that copy/types may replace by their copy.
bool is_copyable(uint32_t t) {
    return series_type::is_series(t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
}

void reindex(const Cell* b) {
    if (is_hash(b)) hashtab::rebuild(hash_index_node(b), total(b));
}

// Makes sure the buffer holds `cells` cells in all from its head, growing
// it to twice that when asked (appending in a loop stays amortised) or to
// exactly that.
SeriesBuffer* ensure_cells(const Cell* b, uint64_t cells_needed, bool twice) {
    SeriesBuffer* s = buf(b);
    const uint64_t bytes = cells_needed * CELL;
    if (bytes > MAX_BYTES) err::raise(err::NO_MEMORY);
    if (s->head + bytes <= s->size) return s;
    if (s->flags & series_flag::FIXED) err::raise(err::LIMIT_HIT);
    uint64_t size = twice ? 2 * bytes : bytes;
    if (size > MAX_BYTES) size = bytes;
    return memory::expand_series(s, static_cast<uint32_t>(size));
}

// Where the cells to write come from: count cells of a buffer from an
// offset, or one value.
struct Source {
    node_t node = 0;
    uint32_t offset = 0;
    Cell single{};
    const Cell* at() const {
        return node ? series::head_cell(series::buffer_of(node)) + offset : &single;
    }
};

// The spliced cells of value (count of them from its index), copied out
// first when they lie in the buffer about to change. The copy is held on
// the argument stack by the caller's stack::TopSaved.
Source source_of(const Cell* value, bool spliced, uint32_t count, node_t target) {
    Source src;
    if (!spliced) {
        src.single = *value;
        return src;
    }
    src.node = series_node(value);
    src.offset = series_index(value);
    if (src.node == target && count) {
        const node_t snap = series::copy_part(src.node, src.offset, count);
        const Cell hold{TYPE_BLOCK, 0, snap, 0};
        stack::push(&hold);
        src.node = snap;
        src.offset = 0;
    }
    return src;
}

// Writes part source cells at position pos and repeats them until total
// cells are written.
void write_cells(const Cell* b, uint32_t pos, const Source& src, uint32_t part, uint32_t total_cells) {
    Cell* to = cells(b) + pos;
    std::memcpy(to, src.at(), static_cast<size_t>(part) * CELL);
    for (uint32_t done = part; done < total_cells;) {
        const uint32_t n = std::min(done, total_cells - done);
        std::memcpy(to + done, to, static_cast<size_t>(n) * CELL);
        done += n;
    }
}

// Replaces the cell at position i of b by a copy made by its type's copy
// action, keeping the cell's flags.
void replace_by_copy(const Cell* b, uint32_t i, bool deep, const Cell* types) {
    Cell* c = stack::push(cells(b) + i);
    const uint32_t header = c->header;
    Cell* r = actions::slot<datatype::COPY>(c)(c, c, nullptr, deep, const_cast<Cell*>(types));
    const Cell copied = *r;
    stack::pop_n(1);
    if (i >= total(b)) return;
    Cell* to = cells(b) + i;
    *to = copied;
    to->header = (header & ~cell_flag::TYPE_MASK) | cell::type_of(&copied);
}

// A copy/deep descends into a series at most once on any path: meeting it
// again means the block contains itself.
class CycleEntry {
public:
    explicit CycleEntry(node_t n) {
        if (cycles::find(n)) {
            cycles::reset();
            err::raise(err::NO_CYCLE);
        }
        cycles::push(n);
    }
    ~CycleEntry() { cycles::pop(); }
    CycleEntry(const CycleEntry&) = delete;
    CycleEntry& operator=(const CycleEntry&) = delete;
};

}  // namespace

// ---- positions ----------------------------------------------------------------

int32_t length(const Cell* b) { return series::length_of(b); }

Cell* tail_ptr(const Cell* b) { return series::tail_cell(buf(b)); }
Cell* cell_at(const Cell* b, uint32_t n) { return cells(b) + n; }
void set_tail_index(const Cell* b, uint32_t n) {
    SeriesBuffer* s = buf(b);
    block_code::changed(s);
    s->tail = s->head + n * CELL;
}

// ---- building -----------------------------------------------------------------

Cell* append_copy(const Cell* b, const Cell* value) {
    const Cell v = *value;
    Cell* c = series::reserve_cell(b);
    *c = v;
    return c;
}

void append_all(const Cell* b, const Cell* source) {
    const int32_t n = length(source);
    if (n <= 0) return;
    const Cell target = *b;
    stack::TopSaved pin;
    const Source src = source_of(source, true, static_cast<uint32_t>(n), series_node(target));
    const uint32_t at = total(&target);
    SeriesBuffer* s = ensure_cells(&target, static_cast<uint64_t>(at) + n, true);
    s->tail += static_cast<uint32_t>(n) * CELL;
    write_cells(&target, at, src, static_cast<uint32_t>(n), static_cast<uint32_t>(n));
}

Cell* make_at(Cell* c, int32_t capacity) {
    c->header = TYPE_UNSET;
    const node_t n = memory::alloc_cells(static_cast<uint32_t>(std::max(capacity, 1)));
    *c = Cell{TYPE_BLOCK, 0, n, 0};
    return c;
}

Cell* make_in(const Cell* parent, int32_t capacity) {
    const Cell p = *parent;
    series::reserve_cell(&p)->header = TYPE_UNSET;
    const uint32_t at = total(&p) - 1;
    Cell made;
    make_at(&made, capacity);
    // The new node is referred to by nothing until it is stored: nothing
    // allocates in between.
    Cell* c = cells(&p) + at;
    *c = made;
    return c;
}

Cell* push_new(int32_t capacity) {
    Cell* c = stack::push_slot();
    return make_at(c, capacity);
}

// ---- lookups ------------------------------------------------------------------

const Cell* find_word_value(const Cell* b, const Cell* word, bool case_sensitive) {
    const int32_t sym = word_symbol(word);
    const int32_t canon = case_sensitive ? sym : symbol::canonical(sym);
    const uint32_t n = total(b);
    const Cell* c = cells(b);
    for (uint32_t i = series_index(b); i < n; i++) {
        if (!is_any_word(cell::type_of(c + i))) continue;
        const int32_t s = word_symbol(c[i]);
        if ((case_sensitive ? s : symbol::canonical(s)) == canon) return i + 1 < n ? c + i + 1 : &shared::none;
    }
    return &shared::none;
}

int64_t find_key(const Cell* b, const Cell* key, bool case_sensitive) {
    const CompareOp op = case_sensitive ? CompareOp::StrictEqual : CompareOp::Find;
    const uint32_t n = total(b);
    if (series_index(b) >= n) return -1;
    if (is_hash(b)) {
        const Cell k = *key;
        const Cell* hit = hashtab::get(hash_index_node(b), &k, series_index(b), 1, op, false, false);
        return hit ? hit - cells(b) : -1;
    }
    for (uint32_t i = series_index(b); i < n; i++)
        if (actions::compare(cells(b) + i, key, op)) return i;
    return -1;
}

bool remove_value(Cell* b, const Cell* value, bool from_head) {
    const uint32_t n = total(b);
    for (uint32_t i = from_head ? 0 : series_index(b); i < n; i++) {
        if (!actions::compare(cells(b) + i, value, CompareOp::Find)) continue;
        Cell* at = cells(b) + i;
        std::memmove(at, at + 1, static_cast<size_t>(n - i - 1) * CELL);
        set_tail_index(b, n - 1);
        if (is_hash(b) && hashtab::shift_positions(hash_index_node(b), -1, i + 1, n - i - 1, true))
            hashtab::rebuild(hash_index_node(b), n - 1);
        return i <= series_index(b);
    }
    return false;
}

// ---- copies -------------------------------------------------------------------

Cell* copy_cells(const Cell* source, bool deep, bool paths) {
    const Cell src = *source;
    const uint32_t n = total(&src);
    const uint32_t from = std::min(series_index(src), n);
    Cell* out = stack::push_slot();
    out->header = TYPE_UNSET;
    const node_t node = series::copy_part(series_node(src), from, n - from);
    *out = Cell{cell::type_of(&src), 0, node, 0};
    if (deep) {
        const CycleEntry entry(series_node(src));
        for (uint32_t i = 0; i < n - from; i++) {
            const Cell c = cells(out)[i];
            const uint32_t t = cell::type_of(&c);
            if (!(t == TYPE_BLOCK || (paths && is_block_like(t) && t != TYPE_HASH))) continue;
            const Cell* r = copy_cells(&c, true, paths);
            Cell* to = cells(out) + i;
            *to = *r;
            to->header = c.header;
            stack::pop_n(1);
        }
    }
    if (cell::type_of(out) == TYPE_HASH) hash_index_node(out) = hashtab::make(n - from, out, hashtab::Kind::HASH, 0);
    return out;
}

void copy_typed_cells(const Cell* b, uint32_t first, uint32_t end, uint32_t step, bool deep, const Cell* types) {
    const Cell target = *b;
    for (uint32_t i = first; i < end && i < total(&target); i += step) {
        const uint32_t t = cell::type_of(cells(&target) + i);
        const bool named = cell::type_of(types) == TYPE_DATATYPE ? datatype_id(types) == t : err::typeset_has(types, t);
        if (named && is_copyable(t)) replace_by_copy(&target, i, deep, types);
    }
}

// ---- insertion ----------------------------------------------------------------

Cell* insert_values(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    const bool spliced = !only && is_block_like(cell::type_of(value));
    const int64_t count = spliced ? std::max(length(value), 0) : 1;
    if (count == 0) return series;
    if (part < 0 || part > count) part = static_cast<int32_t>(count);
    if (dup < 1) dup = 1;
    const uint32_t len = total(series);
    const uint32_t index = series_type::clamp_index(series);
    const uint64_t total_cells = static_cast<uint64_t>(part) * static_cast<uint64_t>(dup);
    if (total_cells > INT32_MAX) err::raise(err::NO_MEMORY);
    const int32_t written = static_cast<int32_t>(total_cells);
    Report report(series, append ? words::w_append : words::w_insert, value,
                  static_cast<int32_t>(append ? len : index), written);
    // A change handler may have changed the series: positions are taken
    // afterwards.
    const uint32_t now = total(series);
    const uint32_t pos = append ? now : std::min(series_index(series), now);
    if (written > 0) {
        stack::TopSaved pin;
        const Source src = source_of(value, spliced, static_cast<uint32_t>(part), series_node(series));
        SeriesBuffer* s = ensure_cells(series, static_cast<uint64_t>(now) + total_cells, dup < 5);
        Cell* at = series::head_cell(s) + pos;
        std::memmove(at + written, at, static_cast<size_t>(now - pos) * CELL);
        s->tail += static_cast<uint32_t>(written) * CELL;
        bool rebuild = false;
        if (is_hash(series) && pos < now)
            rebuild = hashtab::shift_positions(hash_index_node(series), written, pos, now - pos, false) != 0;
        write_cells(series, pos, src, static_cast<uint32_t>(part), static_cast<uint32_t>(written));
        if (rebuild) {
            reindex(series);
        } else if (is_hash(series)) {
            for (int32_t i = 0; i < written; i++)
                hashtab::put_at(hash_index_node(series), pos + static_cast<uint32_t>(i));
        }
    }
    report.after(append ? words::w_appended : words::w_inserted, value, static_cast<int32_t>(append ? len : index),
                 written);
    series_index(series) = append ? 0 : std::min<uint32_t>(pos + static_cast<uint32_t>(written), total(series));
    return series;
}

namespace {

// append of one value that is not spliced (no /dup, /part of at least one
// cell), to any block but a hash!: the common case of a loop, kept free of
// the general path's positions, repeats and sources.
Cell* append_one(Cell* series, const Cell* value) {
    const uint32_t len = total(series);
    series_type::clamp_index(series);
    const Report report(series, words::w_append, value, static_cast<int32_t>(len), 1);
    // A change handler may have changed the series, and the value is read
    // after it, as the general path does.
    const Cell v = *value;
    const uint32_t now = total(series);
    SeriesBuffer* s = ensure_cells(series, uint64_t{now} + 1, true);
    series::head_cell(s)[now] = v;
    s->tail += CELL;
    report.after(words::w_appended, value, static_cast<int32_t>(len), 1);
    series_index(series) = 0;
    return series;
}

}  // namespace

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    const bool spliced = !only && is_block_like(cell::type_of(value));
    if (!spliced && dup <= 1 && part != 0 && !is_hash(series)) return append_one(series, value);
    return insert_values(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return insert_values(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    const bool spliced = !only && is_block_like(cell::type_of(value));
    const int64_t count = spliced ? std::max(length(value), 0) : 1;
    if (dup < 1) dup = 1;
    const uint64_t written64 = static_cast<uint64_t>(count) * static_cast<uint64_t>(dup);
    if (written64 > INT32_MAX) err::raise(err::NO_MEMORY);
    const uint32_t written = static_cast<uint32_t>(written64);
    const uint32_t index = series_type::clamp_index(series);
    const uint32_t rest = total(series) - index;
    const uint32_t replaced_asked = part >= 0 ? std::min<uint32_t>(rest, static_cast<uint32_t>(part))
                                              : std::min<uint32_t>(rest, written);
    Report report(series, words::w_change, value, static_cast<int32_t>(index), static_cast<int32_t>(replaced_asked));
    const uint32_t len = total(series);
    const uint32_t at = std::min(series_index(series), len);
    const uint32_t replaced = std::min(replaced_asked, len - at);
    const uint64_t new_len = static_cast<uint64_t>(len) + written - replaced;
    if (new_len > INT32_MAX) err::raise(err::NO_MEMORY);
    {
        stack::TopSaved pin;
        const Source src = source_of(value, spliced, static_cast<uint32_t>(count), series_node(series));
        SeriesBuffer* s = ensure_cells(series, std::max<uint64_t>(new_len, len), false);
        Cell* base = series::head_cell(s);
        std::memmove(base + at + written, base + at + replaced, static_cast<size_t>(len - at - replaced) * CELL);
        if (count) write_cells(series, at, src, static_cast<uint32_t>(count), written);
        set_tail_index(series, static_cast<uint32_t>(new_len));
    }
    reindex(series);
    report.after(words::w_changed, value, static_cast<int32_t>(at), static_cast<int32_t>(written));
    series_index(series) = std::min<uint32_t>(at + written, total(series));
    return series;
}

// ---- put, swap, take, trim ------------------------------------------------------

Cell* put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    const int64_t found = find_key(series, key, case_sensitive);
    if (found < 0) {
        const uint32_t n = total(series);
        const Report report(series, words::w_put, value, static_cast<int32_t>(n), 1);
        append_copy(series, key);
        append_copy(series, value);
        if (is_hash(series)) {
            hashtab::put_at(hash_index_node(series), total(series) - 2);
            hashtab::put_at(hash_index_node(series), total(series) - 1);
        }
        report.after(words::w_put_ed, value, static_cast<int32_t>(n), 1);
        return value;
    }
    const uint32_t target = static_cast<uint32_t>(found) + 1;
    const Report report(series, words::w_put, value, static_cast<int32_t>(target), 1);
    // Always stored: find equality ignores letter case, and a value that
    // differs only in case is still a new value.
    if (target < total(series)) cell::copy(value, cells(series) + target);
    else append_copy(series, value);
    if (is_hash(series) && target < total(series)) hashtab::put_at(hash_index_node(series), target);
    report.after(words::w_put_ed, value, static_cast<int32_t>(target), 1);
    return value;
}

Cell* swap(Cell* series1, Cell* series2) {
    if (!is_block_like(cell::type_of(series2))) err::raise(err::INVALID_ARG, series2);
    if (series_type::at_tail(series1) || series_type::at_tail(series2)) return series1;
    const Report r1(series1, words::w_swap, series2, static_cast<int32_t>(series_index(series1)), 1);
    const Report r2(series2, words::w_swap, series1, static_cast<int32_t>(series_index(series2)), 1);
    if (series_type::at_tail(series1) || series_type::at_tail(series2)) return series1;
    const uint32_t i = series_index(series1), j = series_index(series2);
    if (is_hash(series1)) hashtab::remove_at(hash_index_node(series1), i);
    if (is_hash(series2)) hashtab::remove_at(hash_index_node(series2), j);
    std::swap(cells(series1)[i], cells(series2)[j]);
    if (is_hash(series1)) hashtab::put_at(hash_index_node(series1), i);
    if (is_hash(series2)) hashtab::put_at(hash_index_node(series2), j);
    r1.after(words::w_swaped, series2, static_cast<int32_t>(i), 1);
    r2.after(words::w_swaped, series1, static_cast<int32_t>(j), 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* r = series_type::take(series, part, deep, last);
    if (cell::type_of(r) == TYPE_NONE) return r;
    if (!part) {
        // Without /part the one taken cell is the result, not a block.
        *r = *cells(r);
        if (deep && is_deep_copied(cell::type_of(r))) {
            const uint32_t header = r->header;
            actions::slot<datatype::COPY>(r)(r, r, nullptr, true, nullptr);
            r->header = (header & ~cell_flag::TYPE_MASK) | cell::type_of(r);
        }
        return r;
    }
    if (deep)
        for (uint32_t i = 0; i < total(r); i++)
            if (is_deep_copied(cell::type_of(cells(r) + i))) replace_by_copy(r, i, true, nullptr);
    return r;
}

Cell* trim(Cell* series, const datatype::TrimOptions&) {
    const uint32_t index = series_type::clamp_index(series);
    const Report report(series, words::w_trim, nullptr, static_cast<int32_t>(index),
                        static_cast<int32_t>(total(series) - index));
    const uint32_t n = total(series);
    const uint32_t from = std::min(series_index(series), n);
    Cell* c = cells(series);
    uint32_t kept = from;
    for (uint32_t i = from; i < n; i++)
        if (cell::type_of(c + i) != TYPE_NONE) c[kept++] = c[i];
    set_tail_index(series, kept);
    if (kept != n) reindex(series);
    report.after(words::w_trimmed, nullptr, static_cast<int32_t>(index), 0);
    return series;
}

// ---- copy -----------------------------------------------------------------------

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    const Cell src = *value;
    Cell* r = series_type::copy(value, result, part, deep, types);
    if (!deep && !types) {
        if (is_hash(&src)) hash_index_node(r) = hashtab::make(total(r), r, hashtab::Kind::HASH, 0);
        return r;
    }
    // A deep copy of a hash! is a block! here; hash! makes its own index
    // over the result.
    if (cell::type_of(r) == TYPE_HASH) cell::set_type(r, TYPE_BLOCK);
    if (!deep) {
        copy_typed_cells(r, 0, total(r), 1, false, types);
        return r;
    }
    const CycleEntry entry(series_node(src));
    if (types) {
        copy_typed_cells(r, 0, total(r), 1, true, types);
    } else {
        for (uint32_t i = 0; i < total(r); i++)
            if (is_deep_copied(cell::type_of(cells(r) + i))) replace_by_copy(r, i, true, nullptr);
    }
    return r;
}

// ---- make and to ---------------------------------------------------------------

namespace {

Cell* typed(Cell* c, uint32_t type) {
    c->header = type;
    hash_index_node(c) = 0;
    if (type == TYPE_HASH) hash_index_node(c) = hashtab::make(std::max(length(c), 1), c, hashtab::Kind::HASH, 0);
    return c;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t st = cell::type_of(spec);
    if (is_block_like(st)) return typed(copy_cells(spec, false, false), type);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int64_t cap;
        if (st == TYPE_INTEGER) {
            cap = integer_value(spec);
        } else {
            const double d = cell::get_double(spec);
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) err::raise(err::OUT_OF_RANGE, spec);
            cap = static_cast<int64_t>(d);
        }
        return typed(push_new(static_cast<int32_t>(cap)), type);
    }
    if (st == TYPE_MAP) return typed(map::push_block(spec, map::Part::BODY), type);
    if (st == TYPE_OBJECT) return typed(object::reflect(spec, words::sym_body), type);
    if (st == TYPE_VECTOR) return typed(vector::to_block(spec), type);
    const Cell dt = datatype_cell(type);
    err::throw_make_error(&dt, spec);
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t st = cell::type_of(spec);
    if (is_block_like(st)) return typed(copy_cells(spec, false, false), type);
    if (st == TYPE_MAP) return typed(map::push_block(spec, map::Part::BODY), type);
    if (st == TYPE_OBJECT) return typed(object::reflect(spec, words::sym_body), type);
    if (st == TYPE_STRING) {
        if (!scan_hook::scan_text) err::raise(err::NOT_DONE);
        Cell* out = stack::push(&shared::none);
        scan_hook::scan_text(spec, scan_hook::Scan::Values, out);
        return typed(out, type);
    }
    if (st == TYPE_VECTOR) return typed(vector::to_block(spec), type);
    if (st == TYPE_TYPESET) {
        const Cell ts = *spec;
        Cell* out = push_new(8);
        for (uint32_t t = 1; t < datatype::TYPE_LIMIT; t++)
            if (err::typeset_has(&ts, t)) datatype::append_at(out, t);
        return typed(out, type);
    }
    const Cell v = *spec;
    Cell* out = push_new(1);
    append_copy(out, &v);
    return typed(out, type);
}

// ---- compare --------------------------------------------------------------------

namespace {

int32_t compare_each(const Cell* a, const Cell* b, CompareOp op) {
    if (series_node(a) == series_node(b) && series_index(a) == series_index(b)) return 0;
    if (op == CompareOp::Same) return -1;
    if (cycles::find(series_node(a))) return cycles::find(series_node(b)) ? 0 : -1;
    const int32_t la = std::max(length(a), 0), lb = std::max(length(b), 0);
    if (la != lb && is_equality(op)) return 1;
    cycles::push(series_node(a));
    cycles::push(series_node(b));
    struct Drop {
        ~Drop() { cycles::drop(2); }
    } drop;
    const int32_t n = std::min(la, lb);
    for (int32_t i = 0; i < n; i++) {
        // Re-read each time: a compare slot may not allocate, but nothing
        // is lost by not relying on it.
        const Cell* x = cells(a) + series_index(a) + i;
        const Cell* y = cells(b) + series_index(b) + i;
        const uint32_t tx = cell::type_of(x), ty = cell::type_of(y);
        int32_t r;
        if (tx != ty && !(is_any_word(tx) && is_any_word(ty)) && !(is_integer_float_or_percent(tx) && is_integer_float_or_percent(ty)))
            r = tx < ty ? -1 : 1;
        else
            r = actions::compare_values(x, y, op);
        if (r != 0) return r;
    }
    return (la > lb) - (la < lb);
}

}  // namespace

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t ta = cell::type_of(a), tb = cell::type_of(b);
    if (ta != tb) {
        const bool paths = (ta == TYPE_PATH || ta == TYPE_LIT_PATH) && (tb == TYPE_PATH || tb == TYPE_LIT_PATH);
        if (!(paths && (op == CompareOp::WordCase || op == CompareOp::Word))) return -2;
    }
    return compare_each(a, b, op);
}

// ---- eval-path ------------------------------------------------------------------

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const uint32_t et = cell::type_of(step.element);
    if (et == TYPE_INTEGER) {
        const int32_t i = integer_value(step.element);
        if (step.new_value) return series_type::poke(value, i, step.new_value, step.element);
        return series_type::pick(value, i, step.element);
    }
    const bool words = et == TYPE_WORD && cell::type_of(value) != TYPE_HASH;
    if (!step.new_value) {
        if (words) return const_cast<Cell*>(find_word_value(value, step.element, step.case_sensitive));
        return actions::slot<datatype::SELECT>(value)(value, step.element,
                                                      {.only = true, .case_sensitive = step.case_sensitive});
    }
    int64_t found = -1;
    if (words) {
        const Cell* after = find_word_value(value, step.element, step.case_sensitive);
        if (after != &shared::none) found = (after - cells(value)) - 1;
        else {
            // The word may be the last cell: then there is nothing to set.
            const int32_t canon =
                step.case_sensitive ? word_symbol(step.element) : symbol::canonical(word_symbol(step.element));
            for (uint32_t i = series_index(value); i < total(value); i++) {
                const Cell* c = cells(value) + i;
                if (!is_any_word(cell::type_of(c))) continue;
                const int32_t s = word_symbol(c);
                if ((step.case_sensitive ? s : symbol::canonical(s)) == canon) {
                    found = i;
                    break;
                }
            }
        }
    } else {
        const stack::Saved saved;
        const Cell* r =
            actions::slot<datatype::FIND>(value)(value, step.element, {.case_sensitive = step.case_sensitive});
        if (cell::type_of(r) != TYPE_NONE) found = series_index(r);
    }
    if (found < 0) err::raise(err::BAD_PATH_SET, step.path ? step.path : &shared::none, step.element);
    Cell at = *value;
    series_index(at) = static_cast<uint32_t>(found);
    Cell* pinned = stack::push(&at);
    Cell* r = series_type::poke(pinned, 2, step.new_value, nullptr);
    stack::pop_n(1);
    return r;
}

// ---- registration ---------------------------------------------------------------

void fill(datatype::Record& r) {
    fill_value_slots(r, {&make, &to, &form, &mold, &compare});
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::APPEND>(r, &append);
    datatype::set_slot<datatype::CHANGE>(r, &change);
    datatype::set_slot<datatype::COPY>(r, &copy);
    datatype::set_slot<datatype::FIND>(r, &find);
    datatype::set_slot<datatype::INSERT>(r, &insert);
    datatype::set_slot<datatype::PUT>(r, &put);
    datatype::set_slot<datatype::SELECT>(r, &select);
    datatype::set_slot<datatype::SORT>(r, &sort);
    datatype::set_slot<datatype::SWAP>(r, &swap);
    datatype::set_slot<datatype::TAKE>(r, &take);
    datatype::set_slot<datatype::TRIM>(r, &trim);
}

}  // namespace qel::block
