// Searching, sorting and the set operations on blocks.
//
// Positions are counted in cells from the buffer head and computed in 64
// bits: a /part count or a /skip size may be any 32-bit integer, and index
// plus count must not wrap into a small position.
//
// Every compare slot is handed copies or cells it may not keep: the walks
// here re-read the block through its node after anything that may
// allocate. The one walk that runs user code, sorting with a compare
// function, does not sort the block's buffer at all (see sort_with_function).
#include "datatypes/block_search.hpp"

#include <algorithm>
#include <numeric>
#include <vector>

#include "runtime/block_code.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/sort.hpp"
#include "runtime/words.hpp"

namespace qel::block {

ComparatorCall call_comparator = nullptr;

namespace {

int64_t length_of_buffer(node_t n) { return series::buffer_length(n); }

Cell cell_of(node_t n, int64_t i) { return series::head_cell(series::buffer_of(n))[i]; }

// script invalid-refine-arg: the refinement's word and its argument.
[[noreturn]] void bad_refinement_arg(const char* refinement, const Cell* value) {
    const Cell arg = *value;
    const Cell word = *word::make_from_cstr(refinement);
    err::raise(err::INVALID_REFINE_ARG, &word, &arg);
}

// ---- find ------------------------------------------------------------------

enum class Kind { SINGLE, TYPE, TYPESET, SEQUENCE };

struct Match {
    int64_t position = -1;  // -1: none
    int64_t length = 1;     // cells matched
    int64_t advance = 1;    // /tail: past the sequence, or one step past a cell
};

Match search(const Cell* series, const Cell* value, const datatype::FindOptions& options) {
    const Cell* part = options.part;
    const Cell* skip = options.skip;
    const bool only = options.only;
    const bool case_sensitive = options.case_sensitive;
    const bool same = options.same;
    const bool last = options.last;
    const bool reverse = options.reverse;
    const bool match = options.match;
    const Cell s = *series;
    const Cell v = *value;
    const node_t n = series_node(s);
    const int64_t len = length_of_buffer(n);
    int64_t index = series_index(s);
    if (len == 0 || (!reverse && index >= len)) return {};
    if (index > len) index = len;

    int64_t step = 1;
    if (skip) {
        if (cell::type_of(skip) != TYPE_INTEGER) bad_refinement_arg("skip", skip);
        if (integer_value(skip) < 1) err::raise(err::OUT_OF_RANGE, skip);
        step = integer_value(skip);
    }

    // The last cell a search may look at.
    int64_t end = len - 1;
    if (part) {
        if (cell::type_of(part) == TYPE_INTEGER) {
            if (integer_value(part) < 1) return {};
            end = std::min(index + integer_value(part) - 1, len - 1);
        } else if (cell::type_of(part) == cell::type_of(&s) && series_node(part) == n) {
            end = std::min<int64_t>(series_index(part), len - 1);
        } else {
            bad_refinement_arg("part", part);
        }
    }

    const uint32_t vt = cell::type_of(&v);
    Kind kind = Kind::SINGLE;
    int64_t k = 1;
    if (!only) {
        if (vt == TYPE_DATATYPE) {
            kind = Kind::TYPE;
        } else if (vt == TYPE_TYPESET) {
            kind = Kind::TYPESET;
        } else if (is_block_like(vt)) {
            kind = Kind::SEQUENCE;
            k = std::max<int64_t>(length_of_buffer(series_node(v)) - series_index(v), 0);
            // An empty sequence has no first cell to be found at.
            if (k == 0) return {};
        }
    }
    const CompareOp code = same ? CompareOp::Same : case_sensitive ? CompareOp::StrictEqual : CompareOp::Find;

    // Backward searches keep to the record grid of the index, so that
    // /skip with /last or /reverse still looks at the records' first cells.
    auto aligned_down = [&](int64_t p) {
        const int64_t q = p - index;
        const int64_t floor = q >= 0 ? q / step : -((-q + step - 1) / step);
        return index + floor * step;
    };
    int64_t p;
    int64_t direction = step;
    if (last || reverse) {
        p = part ? end : last ? len - k : index - k;
        p = aligned_down(p);
        direction = -step;
        if (p < 0) return {};
    } else {
        p = index;
    }

    // A hash! answers a single value through its index, unless a /part
    // range would make the index's nearest hit the wrong one.
    if (cell::type_of(&s) == TYPE_HASH && hash_index_node(s) && !match && !part && kind == Kind::SINGLE &&
        vt != TYPE_DATATYPE && vt != TYPE_TYPESET && (same || vt != TYPE_OBJECT)) {
        // /last wants the furthest hit on the index's record grid, which
        // the index finds from the grid's first position.
        const uint32_t from = static_cast<uint32_t>(last ? index % step : p);
        Cell* hit =
            hashtab::get(hash_index_node(s), &v, from, static_cast<uint32_t>(step), code, reverse && !last, last);
        if (!hit) return {};
        return {hit - series::head_cell(series::buffer_of(n)), 1, step};
    }

    auto test = [&](int64_t at) {
        switch (kind) {
            case Kind::TYPE: return cell::type_of(&series::head_cell(series::buffer_of(n))[at]) == datatype_id(v);
            case Kind::TYPESET: {
                const Cell c = cell_of(n, at);
                return err::typeset_has(&v, cell::type_of(&c));
            }
            case Kind::SEQUENCE:
                for (int64_t j = 0; j < k; j++) {
                    if (at + j >= length_of_buffer(n) || series_index(v) + j >= length_of_buffer(series_node(v)))
                        return false;
                    const Cell a = cell_of(n, at + j);
                    const Cell b = cell_of(series_node(v), series_index(v) + j);
                    if (!actions::compare(&a, &b, code)) return false;
                }
                return true;
            case Kind::SINGLE:
            default: {
                const Cell a = cell_of(n, at);
                return actions::compare(&a, &v, code);
            }
        }
    };

    for (;;) {
        if (direction > 0 ? p > end : p < 0) return {};
        if (p < length_of_buffer(n) && test(p)) return {p, k, kind == Kind::SEQUENCE ? k : step};
        if (match) return {};
        p += direction;
    }
}

Cell* push_position(const Cell* series, int64_t position) {
    const Cell s = *series;
    const Cell r{cell::type_of(&s), static_cast<uint32_t>(position), series_node(s), hash_index_node(s)};
    return stack::push(&r);
}

// ---- sort ------------------------------------------------------------------

struct SortContext {
    CompareOp code;
    bool reverse;
    bool whole;       // compare every cell of a record
    uint32_t width;   // cells per record
    uint32_t offset;  // the compared cell inside a record
};

int32_t compare_cells(const Cell* a, const Cell* b, CompareOp code) {
    const int32_t r = actions::compare_values(a, b, code);
    // Values that cannot be ordered against each other group by type.
    if (r == -2) return static_cast<int32_t>(cell::type_of(a)) - static_cast<int32_t>(cell::type_of(b));
    return r;
}

int compare_records(const void* pa, const void* pb, void* context, uint32_t) {
    const auto* c = static_cast<const SortContext*>(context);
    const Cell* a = static_cast<const Cell*>(pa);
    const Cell* b = static_cast<const Cell*>(pb);
    if (c->reverse) std::swap(a, b);
    if (!c->whole) return compare_cells(a + c->offset, b + c->offset, c->code);
    for (uint32_t i = 0; i < c->width; i++)
        if (const int32_t r = compare_cells(a + i, b + i, c->code)) return r;
    return 0;
}

struct FunctionSort {
    Cell function;
    node_t snapshot;  // the records, in a block held on the argument stack
    uint32_t width;
    uint32_t offset;
    bool whole;
    bool reverse;
};

int call_function(const void* pa, const void* pb, void* context, uint32_t) {
    const auto* f = static_cast<const FunctionSort*>(context);
    uint32_t first = *static_cast<const uint32_t*>(pa);
    uint32_t second = *static_cast<const uint32_t*>(pb);
    // The later record goes first, so that [a b] [a < b] sorts ascending.
    if (!f->reverse) std::swap(first, second);
    const uint32_t cells = f->whole ? f->width : 1;
    // A sort compares n log n times: records of a few cells are copied
    // into a fixed array rather than a new vector each time.
    constexpr uint32_t FIXED_CELLS = 8;
    Cell fixed[2 * FIXED_CELLS];
    std::vector<Cell> wide;
    if (cells > FIXED_CELLS) wide.resize(2 * static_cast<size_t>(cells));
    Cell* const args = cells > FIXED_CELLS ? wide.data() : fixed;
    const Cell* records = series::head_cell(series::buffer_of(f->snapshot));
    const uint32_t skip_in = f->whole ? 0 : f->offset;
    for (uint32_t i = 0; i < cells; i++) {
        args[i] = records[static_cast<size_t>(first) * f->width + skip_in + i];
        args[cells + i] = records[static_cast<size_t>(second) * f->width + skip_in + i];
    }
    const Cell result = call_comparator(&f->function, &args[0], &args[cells], f->whole ? cells : 0);
    return comparator_order(&result);
}

// Sorting with a compare function runs user code between two compares,
// and user code may allocate (moving the block's buffer) or even change
// the block. So the records are first copied into a block of their own
// on the argument stack, a permutation of record numbers is sorted in C++
// memory, and the block gets the records back in that order at the end.
// A block that lost cells meanwhile no longer has the range that was
// sorted and is left as the function left it.
void sort_with_function(const Cell& series, int64_t index, int64_t records, const FunctionSort& proto,
                        bool stable) {
    if (!call_comparator) err::raise(err::NOT_DONE);
    const auto cells = static_cast<uint32_t>(records * proto.width);
    stack::TopSaved mark;
    const node_t snapshot = series::copy_part(series_node(series), static_cast<uint32_t>(index), cells);
    const Cell held{TYPE_BLOCK, 0, snapshot, 0};
    stack::push(&held);
    FunctionSort f = proto;
    f.snapshot = snapshot;
    std::vector<uint32_t> order(static_cast<size_t>(records));
    std::iota(order.begin(), order.end(), 0u);
    if (stable)
        sort::merge_sort(order.data(), order.size(), sizeof(uint32_t), &f, 0, &call_function);
    else
        sort::partition_sort(order.data(), order.size(), sizeof(uint32_t), &f, 0, &call_function);
    if (length_of_buffer(series_node(series)) < index + cells) return;
    // The compare function may have run the block since the sort began.
    block_code::changed(series_node(series));
    Cell* to = series::head_cell(series::buffer_of(series_node(series))) + index;
    const Cell* from = series::head_cell(series::buffer_of(snapshot));
    for (size_t r = 0; r < order.size(); r++)
        for (uint32_t i = 0; i < f.width; i++) to[r * f.width + i] = from[static_cast<size_t>(order[r]) * f.width + i];
}

// ---- set operations ----------------------------------------------------------

// Whether a record of the block-like value (node, from) starts with a cell
// equal to c. Block-like cells are compared one by one (a hash index
// knows them only by identity); the rest go through index, a HASH
// table over the same series.
bool holds(node_t n, int64_t from, node_t index, int64_t step, const Cell& c, CompareOp code) {
    if (!is_block_like(cell::type_of(&c))) {
        return hashtab::get(index, &c, static_cast<uint32_t>(from), static_cast<uint32_t>(step), code, false,
                            false) != nullptr;
    }
    for (int64_t p = from; p < length_of_buffer(n); p += step) {
        const Cell x = cell_of(n, p);
        if (actions::compare(&x, &c, code)) return true;
    }
    return false;
}

// A HASH index of the value's cells from its index: its own when it is a
// hash!, else a new one held on the argument stack until the set operation
// ends.
node_t index_of(const Cell& v) {
    if (cell::type_of(&v) == TYPE_HASH && hash_index_node(v)) return hash_index_node(v);
    const auto len = static_cast<uint32_t>(length_of_buffer(series_node(v)) - series_index(v));
    const node_t rec = hashtab::make(len, &v, hashtab::Kind::HASH, 0);
    const Cell held{TYPE_HASH, series_index(v), series_node(v), rec};
    stack::push(&held);
    return rec;
}

struct Result {
    node_t series;
    node_t index;  // holds the first cell of every record
    int64_t step;
    CompareOp code;
};

void add_record(Result& r, node_t from, int64_t p) {
    const Cell first = cell_of(from, p);
    if (holds(r.series, 0, r.index, r.step, first, r.code)) return;
    const int64_t at = length_of_buffer(r.series);
    for (int64_t j = 0; j < r.step && p + j < length_of_buffer(from); j++) {
        const Cell c = cell_of(from, p + j);
        *series::reserve_cell(series::buffer_of(r.series)) = c;
    }
    hashtab::put_at(r.index, static_cast<uint32_t>(at));
}

// One pass over the records of src: with other, keep the records whose
// first cell other holds (keep_members) or lacks (!keep_members).
void pass(Result& r, const Cell& src, const Cell* other, bool keep_members) {
    node_t other_index = other ? index_of(*other) : 0;
    for (int64_t p = series_index(src); p < length_of_buffer(series_node(src)); p += r.step) {
        if (other) {
            const Cell first = cell_of(series_node(src), p);
            if (holds(series_node(other), series_index(other), other_index, r.step, first, r.code) != keep_members)
                continue;
        }
        add_record(r, series_node(src), p);
    }
}

Cell clamped(const Cell* v) {
    Cell c = *v;
    const uint32_t len = series::buffer_length(series_node(c));
    if (series_index(c) > len) series_index(c) = len;
    return c;
}

}  // namespace

// ---- entry points -------------------------------------------------------------

Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options) {
    const Match m = search(series, value, options);
    if (m.position < 0) return &shared::none;
    const int64_t at = options.tail ? std::min(m.position + m.advance, length_of_buffer(series_node(series))) : m.position;
    return push_position(series, at);
}

Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options) {
    datatype::FindOptions o = options;
    o.match = false;
    const Match m = search(series, value, o);
    if (m.position < 0) return &shared::none;
    const int64_t at = m.position + m.length;
    if (at >= length_of_buffer(series_node(series))) return &shared::none;
    const Cell c = cell_of(series_node(series), at);
    return stack::push(&c);
}

Cell* sort(Cell* series, const datatype::SortOptions& options) {
    const node_t n = series_node(series);
    const int64_t len = length_of_buffer(n);
    int64_t index = series_index(series);
    if (index >= len) return series;
    int64_t count = len - index;
    if (options.part) {
        int64_t c;
        if (cell::type_of(options.part) == TYPE_INTEGER)
            c = integer_value(options.part);
        else if (cell::type_of(options.part) == cell::type_of(series) && series_node(options.part) == n)
            c = static_cast<int64_t>(series_index(options.part)) - index;
        else
            bad_refinement_arg("part", options.part);
        if (c >= 0) {
            count = std::min(c, count);
        } else if (index + c < 0) {
            series_index(series) = 0;
            return series;
        } else {
            index += c;
            count = -c;
            series_index(series) = static_cast<uint32_t>(index);
        }
    }
    int64_t width = 1;
    if (options.skip) {
        if (cell::type_of(options.skip) != TYPE_INTEGER) bad_refinement_arg("skip", options.skip);
        width = integer_value(options.skip);
        if (width < 1 || count % width != 0 || count < width) bad_refinement_arg("skip", options.skip);
    } else if (options.all) {
        err::raise(err::BAD_REFINES);
    }

    const CompareOp order = options.case_sensitive ? CompareOp::SortCase : CompareOp::Sort;
    SortContext ctx{order, options.reverse, false, static_cast<uint32_t>(width), 0};
    bool with_function = false;
    if (options.comparator) {
        const uint32_t ct = cell::type_of(options.comparator);
        if (ct == TYPE_FUNCTION) {
            with_function = true;
            ctx.whole = options.all;
        } else if (ct == TYPE_INTEGER) {
            if (!options.skip || options.all) err::raise(err::BAD_REFINES);
            const int32_t o = integer_value(options.comparator);
            if (o < 1 || o > width) err::raise(err::OUT_OF_RANGE, options.comparator);
            ctx.offset = static_cast<uint32_t>(o - 1);
        } else {
            bad_refinement_arg("compare", options.comparator);
        }
    } else {
        ctx.whole = options.all;
    }
    const int64_t records = count / width;

    const Cell s = *series;
    const bool owned = owner::check_change(&s, words::w_sort, &shared::none, static_cast<int32_t>(index),
                                           static_cast<int32_t>(count));
    if (with_function) {
        const FunctionSort f{*options.comparator, 0, ctx.width, ctx.offset, ctx.whole, options.reverse};
        sort_with_function(s, index, records, f, options.stable);
    } else {
        // Sorted in place: compare slots neither allocate nor run user
        // code, so the buffer stays where it is for the whole sort.
        Cell* base = series::head_cell(series::buffer_of(n)) + index;
        const size_t bytes = static_cast<size_t>(width) * sizeof(Cell);
        if (options.stable)
            sort::merge_sort(base, static_cast<size_t>(records), bytes, &ctx, 0, &compare_records);
        else
            sort::partition_sort(base, static_cast<size_t>(records), bytes, &ctx, 0, &compare_records);
    }
    if (owned)
        owner::check_change(&s, words::w_sorted, &shared::none, static_cast<int32_t>(index),
                            static_cast<int32_t>(count));
    return series;
}

int32_t comparator_order(const Cell* result) {
    switch (cell::type_of(result)) {
        case TYPE_LOGIC: return logic_value(result) ? 1 : -1;
        case TYPE_INTEGER: {
            const int32_t v = integer_value(result);
            return v > 0 ? -1 : v < 0 ? 1 : 0;
        }
        case TYPE_FLOAT: {
            const double d = cell::get_double(result);
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        }
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

Cell* set_op(SetOp code, Cell* a, const Cell* b, bool case_sensitive, const Cell* skip) {
    int64_t step = 1;
    if (skip) {
        if (cell::type_of(skip) != TYPE_INTEGER || integer_value(skip) < 1) bad_refinement_arg("skip", skip);
        step = integer_value(skip);
    }
    const bool two = code != SetOp::Unique;
    const Cell first = clamped(a);
    const Cell second = two ? clamped(b) : Cell{TYPE_NONE, 0, 0, 0};
    uint64_t capacity = series::buffer_length(series_node(first)) - series_index(first);
    if (code == SetOp::Union) capacity += series::buffer_length(series_node(second)) - series_index(second);
    // A cell buffer's size in bytes is a 32-bit number.
    if (capacity > 0x7FFFFFFFu / sizeof(Cell)) err::raise(err::NO_MEMORY);
    if (capacity == 0) capacity = 1;

    stack::TopSaved mark;
    const node_t index = hashtab::make(static_cast<uint32_t>(capacity), nullptr, hashtab::Kind::HASH, 0);
    const CompareOp equal = case_sensitive ? CompareOp::StrictEqual : CompareOp::Equal;
    Result r{hashtab::record(index)->series, index, step, equal};
    const Cell held{TYPE_HASH, 0, r.series, index};
    stack::push(&held);

    switch (code) {
        case SetOp::Unique: pass(r, first, nullptr, true); break;
        case SetOp::Union:
            pass(r, first, nullptr, true);
            pass(r, second, nullptr, true);
            break;
        case SetOp::Intersect: pass(r, first, &second, true); break;
        case SetOp::Exclude: pass(r, first, &second, false); break;
        case SetOp::Difference:
        default:
            pass(r, first, &second, false);
            pass(r, second, &first, false);
            break;
    }

    const bool hashed = cell::type_of(&first) == TYPE_HASH || (two && cell::type_of(&second) == TYPE_HASH);
    if (hashed) {
        // A hash! indexes every cell, not only the records' first ones.
        hashtab::rebuild(index, series::buffer_length(r.series));
        *a = Cell{TYPE_HASH, 0, r.series, index};
    } else {
        *a = Cell{cell::type_of(&first), 0, r.series, 0};
    }
    return a;
}

}  // namespace qel::block
