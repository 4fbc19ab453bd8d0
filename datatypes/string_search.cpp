// find, select, sort and the set operations of the text types.
//
// Searches run over unit indexes held in 64-bit integers, so that stepping
// back from the head or past the limit by a /skip size is a comparison, not
// a wrap-around, and no read ever lands outside the used units. Everything
// that may allocate (forming a non-text value into a pattern) happens before
// the loops, which then read straight from the buffers.
#include "datatypes/string_search.hpp"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_set>
#include <vector>

#include "datatypes/block_search.hpp"
#include "datatypes/string.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/sort.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace qel::string {

namespace {

uint32_t total_units(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return (s->tail - s->head) / width(s);
}

uint32_t unit_at(node_t n, uint32_t i) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint32_t w = width(s);
    return read_unit(series::head_ptr(s) + static_cast<size_t>(i) * w, w);
}

[[noreturn]] void bad_refinement(const Cell* refinement, const Cell* value) {
    const Cell w = refinement_word(refinement);
    err::raise(err::INVALID_REFINE_ARG, &w, value);
}

bool is_pattern_type(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF ||
           t == TYPE_BINARY || t == TYPE_WORD;
}

// A /part argument as a count from the series' index: an integer, or a
// position in the same series.
int64_t part_count(const Cell* series, uint32_t index, const Cell* part) {
    if (cell::type_of(part) == TYPE_INTEGER) return integer_value(part);
    if (cell::type_of(part) == cell::type_of(series) && series_node(part) == series_node(series))
        return static_cast<int64_t>(series_index(part)) - index;
    bad_refinement(words::ref_part, part);
}

struct Match {
    bool found = false;
    uint32_t position = 0;  // units from the head
    uint32_t length = 0;    // units the match covers
};

// What the searched value became: one unit (a code point, a byte, or a
// bitset test) or a pattern of units in a buffer.
struct Needle {
    enum Kind { UNIT, BITSET, PATTERN } kind = UNIT;
    uint32_t unit = 0;
    const Cell* bitset = nullptr;
    node_t pattern = 0;
    uint32_t from = 0;
    uint32_t length = 0;
};

Match search(Cell* series, Cell* value, const datatype::FindOptions& options) {
    Cell* part = options.part;
    Cell* skip = options.skip;
    const bool case_sensitive = options.case_sensitive;
    const bool same = options.same;
    const bool last = options.last;
    const bool reverse = options.reverse;
    const bool tail = options.tail;
    const bool match = options.match;
    Match none;
    const node_t sn = series_node(series);
    const uint32_t st = cell::type_of(series);
    const uint32_t total = total_units(sn);
    if (total == 0) return none;
    const uint32_t index = clamp_index(series);
    if (index == total && !reverse) return none;
    if (options.any || options.with) err::raise(err::NOT_DONE);

    int64_t step = 1;
    if (skip) {
        if (cell::type_of(skip) != TYPE_INTEGER) bad_refinement(words::ref_skip, skip);
        step = integer_value(skip);
        if (step < 1) err::raise(err::OUT_OF_RANGE, skip);
    }
    int64_t count = -1;
    if (part) {
        count = part_count(series, index, part);
        if (count < 1) return none;
        count = std::min<int64_t>(count, reverse ? index : total - index);
        if (count < 1) return none;
    }

    const uint32_t vt = cell::type_of(value);
    const bool folding = is_any_string(st) && !case_sensitive && !same && vt != TYPE_FLOAT;
    Needle needle;
    Cell* formed = nullptr;
    if (vt == TYPE_CHAR) {
        needle.unit = folding ? fold(char_code(value)) : char_code(value);
    } else if (vt == TYPE_BITSET) {
        needle.kind = Needle::BITSET;
        needle.bitset = value;
    } else if (vt == TYPE_INTEGER && st == TYPE_BINARY) {
        needle.unit = static_cast<uint32_t>(integer_value(value));
    } else if (is_pattern_type(vt)) {
        if (vt == TYPE_BINARY && st != TYPE_BINARY) err::raise(err::INVALID_ARG, value);
        needle.kind = Needle::PATTERN;
        if (vt == TYPE_WORD) {
            needle.pattern = symbol::get_string(word_symbol(value));
            needle.length = total_units(needle.pattern);
        } else {
            needle.pattern = series_node(value);
            needle.from = std::min(series_index(value), total_units(series_node(value)));
            needle.length = total_units(series_node(value)) - needle.from;
        }
    } else {
        formed = stack::push_slot();
        make_at(formed, 16);
        actions::form(value, series_node(formed), false, INT32_MAX);
        needle.kind = Needle::PATTERN;
        needle.pattern = series_node(formed);
        needle.length = total_units(needle.pattern);
    }
    // An empty pattern matches nothing rather than everywhere.
    if (needle.kind == Needle::PATTERN && needle.length == 0) {
        if (formed) stack::pop_n(1);
        return none;
    }

    int64_t p, end, dir;
    if (last) {
        dir = -1;
        end = index;
        p = (count >= 0 ? index + count : total) - 1;
    } else if (reverse) {
        dir = -1;
        p = static_cast<int64_t>(index) - 1;
        end = count >= 0 ? std::max<int64_t>(p + 1 - count, 0) : 0;
        if (p < end || match) return none;
    } else {
        dir = 1;
        end = count >= 0 ? index + count : total;
        p = index;
    }

    SeriesBuffer* sb = series::buffer_of(sn);
    const uint32_t w = width(sb);
    const uint8_t* data = series::head_ptr(sb);
    auto unit = [&](int64_t i) {
        const uint32_t c = read_unit(data + static_cast<size_t>(i) * w, w);
        return folding ? fold(c) : c;
    };
    const uint8_t* pdata = nullptr;
    uint32_t pw = 1;
    if (needle.kind == Needle::PATTERN) {
        SeriesBuffer* pb = series::buffer_of(needle.pattern);
        pw = width(pb);
        pdata = series::head_ptr(pb) + static_cast<size_t>(needle.from) * pw;
    }
    auto pattern_unit = [&](uint32_t k) {
        const uint32_t c = read_unit(pdata + static_cast<size_t>(k) * pw, pw);
        return folding ? fold(c) : c;
    };
    const int64_t n = needle.length;

    Match m;
    for (;;) {
        if (needle.kind != Needle::PATTERN) {
            if (p >= 0 && p < total) {
                const uint32_t c = needle.kind == Needle::BITSET
                                       ? bitset_has(needle.bitset, read_unit(data + static_cast<size_t>(p) * w, w))
                                       : unit(p) == needle.unit;
                if (c) {
                    m = Match{true, static_cast<uint32_t>(p), 1};
                    break;
                }
            }
        } else {
            int64_t start;
            bool ok = true;
            if (dir > 0) {
                if (p + n > end) break;  // every later candidate runs into the limit too
                start = p;
            } else {
                if (p - end + 1 < n) break;
                start = p - (n - 1);
            }
            for (int64_t k = 0; k < n; k++)
                if (unit(start + k) != pattern_unit(static_cast<uint32_t>(k))) {
                    ok = false;
                    break;
                }
            if (ok) {
                m = Match{true, static_cast<uint32_t>(start), static_cast<uint32_t>(n)};
                break;
            }
        }
        if (match) break;
        p += dir * step;
        if (dir < 0 ? p < end : p >= end) break;
    }
    if (formed) stack::pop_n(1);
    if (m.found && tail) {
        const int64_t after = needle.kind == Needle::PATTERN ? int64_t{m.position} + n : int64_t{m.position} + step;
        m.position = static_cast<uint32_t>(std::min<int64_t>(after, total));
    }
    return m;
}

}  // namespace

bool bitset_has(const Cell* bitset, uint32_t cp) {
    SeriesBuffer* s = series::buffer_of(series_node(bitset));
    const uint64_t bits = static_cast<uint64_t>(s->tail - s->head) * 8;
    if (cp >= bits) return (s->flags & series_flag::NOT) != 0;
    return (series::head_ptr(s)[cp >> 3] & (0x80u >> (cp & 7))) != 0;
}

Cell* find(Cell* series, Cell* value, const datatype::FindOptions& options) {
    const Match m = search(series, value, options);
    if (!m.found) return &shared::none;
    Cell* r = stack::push(series);
    series_index(r) = m.position;
    return r;
}

Cell* select(Cell* series, Cell* value, const datatype::FindOptions& options) {
    datatype::FindOptions o = options;
    o.tail = false;
    o.match = false;
    const Match m = search(series, value, o);
    if (!m.found) return &shared::none;
    const uint64_t at = static_cast<uint64_t>(m.position) + m.length;
    if (at >= total_units(series_node(series))) return &shared::none;
    const uint32_t c = unit_at(series_node(series), static_cast<uint32_t>(at));
    const Cell result{cell::type_of(series) == TYPE_BINARY ? uint32_t{TYPE_INTEGER} : uint32_t{TYPE_CHAR}, 0, c, 0};
    return stack::push(&result);
}

// ---- sort ---------------------------------------------------------------------------

namespace {

struct SortSpec {
    uint32_t width;
    bool folding;
    bool whole;        // compare the whole record
    uint32_t offset;   // compared unit inside a record
    uint32_t size;     // units per record
    bool reverse;
};

int compare_records(const void* a, const void* b, void* context, uint32_t) {
    const SortSpec& s = *static_cast<const SortSpec*>(context);
    const auto* pa = static_cast<const uint8_t*>(a);
    const auto* pb = static_cast<const uint8_t*>(b);
    const uint32_t from = s.whole ? 0 : s.offset;
    const uint32_t to = s.whole ? s.size : s.offset + 1;
    for (uint32_t k = from; k < to; k++) {
        uint32_t x = read_unit(pa + static_cast<size_t>(k) * s.width, s.width);
        uint32_t y = read_unit(pb + static_cast<size_t>(k) * s.width, s.width);
        if (s.folding) {
            x = fold(x);
            y = fold(y);
        }
        if (x != y) {
            const int r = x > y ? 1 : -1;
            return s.reverse ? -r : r;
        }
    }
    return 0;
}

// Sorting with a compare function runs user code between compares, which
// may allocate or change the string. So the records are copied into a
// snapshot held on the argument stack, a permutation of record numbers is
// sorted in C++ memory, and the string takes the records back in that order
// when it still has the sorted range in the same units. The function's
// result is read exactly as block sort reads it (block::comparator_order),
// so a function orders strings and blocks alike.
struct FunctionSort {
    const Cell* function;
    node_t snapshot;
    uint32_t width;
    uint32_t size;
    uint32_t offset;
    bool whole;
    bool reverse;
    Cell* views;  // two strings for whole records, on the argument stack
};

Cell record_value(const FunctionSort& f, uint32_t record, Cell* view) {
    SeriesBuffer* s = series::buffer_of(f.snapshot);
    const uint8_t* at = series::head_ptr(s) + static_cast<size_t>(record) * f.size * f.width;
    if (!f.whole) return Cell{TYPE_CHAR, 0, read_unit(at + static_cast<size_t>(f.offset) * f.width, f.width), 0};
    clear_latin1(view);
    for (uint32_t k = 0; k < f.size; k++)
        append_char(series_node(view), read_unit(series::head_ptr(series::buffer_of(f.snapshot)) +
                                                     (static_cast<size_t>(record) * f.size + k) * f.width,
                                                 f.width));
    return *view;
}

int call_function(const void* a, const void* b, void* context, uint32_t) {
    const FunctionSort& f = *static_cast<const FunctionSort*>(context);
    uint32_t ra, rb;
    std::memcpy(&ra, a, sizeof ra);
    std::memcpy(&rb, b, sizeof rb);
    const Cell x = record_value(f, ra, f.views);
    const Cell y = record_value(f, rb, f.views + 1);
    const Cell result = f.reverse ? block::call_comparator(f.function, &x, &y, 0)
                                  : block::call_comparator(f.function, &y, &x, 0);
    return block::comparator_order(&result);
}

void sort_with_function(Cell* series, uint32_t index, uint32_t records, FunctionSort f, bool stable) {
    if (!block::call_comparator) err::raise(err::NOT_DONE);
    const Cell* top = stack::arg_top;
    const uint32_t units = records * f.size;
    const node_t snapshot = series::copy_part(series_node(series), index, units);
    Cell* held = stack::push_slot();
    *held = Cell{TYPE_STRING, 0, snapshot, 0};
    f.snapshot = snapshot;
    f.views = stack::push_slot();
    *f.views = Cell{TYPE_UNSET, 0, 0, 0};
    Cell* second = stack::push_slot();
    *second = *f.views;
    make_at(f.views, f.size);
    make_at(second, f.size);
    std::vector<uint32_t> order(records);
    std::iota(order.begin(), order.end(), 0u);
    if (stable) sort::merge_sort(order.data(), order.size(), sizeof(uint32_t), &f, 0, &call_function);
    else sort::partition_sort(order.data(), order.size(), sizeof(uint32_t), &f, 0, &call_function);
    SeriesBuffer* s = series::buffer_of(series_node(series));
    if (width(s) == f.width && uint64_t{index} + units <= (s->tail - s->head) / f.width) {
        const uint8_t* from = series::head_ptr(series::buffer_of(snapshot));
        uint8_t* to = series::head_ptr(s) + static_cast<size_t>(index) * f.width;
        const size_t bytes = static_cast<size_t>(f.size) * f.width;
        for (uint32_t i = 0; i < records; i++) std::memcpy(to + i * bytes, from + order[i] * bytes, bytes);
    }
    stack::pop_n(static_cast<uint32_t>(stack::arg_top - top));
}

}  // namespace

Cell* sort(Cell* series, const datatype::SortOptions& options) {
    uint32_t index = clamp_index(series);
    const uint32_t total = total_units(series_node(series));
    int64_t count = total - index;
    if (options.part) {
        count = part_count(series, index, options.part);
        if (count >= 0) {
            count = std::min<int64_t>(count, total - index);
        } else {
            count = -count;
            if (count > index) {
                series_index(series) = 0;
                return series;
            }
            index -= static_cast<uint32_t>(count);
            series_index(series) = index;
        }
    }
    if (count == 0) return series;
    int64_t size = 1;
    if (options.skip) {
        if (cell::type_of(options.skip) != TYPE_INTEGER) bad_refinement(words::ref_skip, options.skip);
        size = integer_value(options.skip);
        if (size < 1 || size > count || count % size != 0) bad_refinement(words::ref_skip, options.skip);
    } else if (options.all) {
        err::raise(err::BAD_REFINES);
    }
    uint32_t offset = 0;
    bool with_function = false;
    if (options.comparator) {
        const uint32_t ct = cell::type_of(options.comparator);
        if (ct == TYPE_INTEGER) {
            if (!options.skip || options.all) err::raise(err::BAD_REFINES);
            const int32_t at = integer_value(options.comparator);
            if (at < 1 || at > size) err::raise(err::OUT_OF_RANGE, options.comparator);
            offset = static_cast<uint32_t>(at - 1);
        } else if (ct == TYPE_FUNCTION) {
            if (!block::call_comparator) err::raise(err::NOT_DONE);
            with_function = true;
        } else {
            bad_refinement(words::ref_compare, options.comparator);
        }
    }
    SeriesBuffer* s = series::buffer_of(series_node(series));
    SortSpec spec{width(s), !options.case_sensitive && is_any_string(cell::type_of(series)),
                  options.all && options.skip != nullptr, offset, static_cast<uint32_t>(size), options.reverse};
    const bool owned = owner::check_change(series, words::w_sort, &shared::none, static_cast<int32_t>(index),
                                           static_cast<int32_t>(count));
    s = series::buffer_of(series_node(series));
    uint8_t* base = series::head_ptr(s) + static_cast<size_t>(index) * spec.width;
    const size_t records = static_cast<size_t>(count / size);
    const size_t record_bytes = static_cast<size_t>(size) * spec.width;
    if (with_function)
        sort_with_function(series, index, static_cast<uint32_t>(records),
                           FunctionSort{options.comparator, 0, spec.width, spec.size, 0, spec.whole, options.reverse,
                                        nullptr},
                           options.stable && !options.case_sensitive);
    else if (options.stable && !options.case_sensitive)
        sort::merge_sort(base, records, record_bytes, &spec, 0, &compare_records);
    else
        sort::partition_sort(base, records, record_bytes, &spec, 0, &compare_records);
    if (owned)
        owner::check_change(series, words::w_sorted, &shared::none, static_cast<int32_t>(index),
                            static_cast<int32_t>(count));
    return series;
}

// ---- set operations --------------------------------------------------------------------

Cell* set_op(SetOp code, Cell* a, Cell* b, bool case_sensitive, Cell* skip) {
    uint32_t size = 1;
    if (skip) {
        if (cell::type_of(skip) != TYPE_INTEGER || integer_value(skip) < 1)
            bad_refinement(words::ref_skip, skip);
        size = static_cast<uint32_t>(integer_value(skip));
    }
    const bool two = code != SetOp::Unique;
    clamp_index(a);
    if (two) clamp_index(b);
    const uint32_t len_a = length(a);
    const uint32_t len_b = two ? length(b) : 0;
    uint32_t w = width(series::buffer_of(series_node(a)));
    if (code == SetOp::Union || code == SetOp::Difference) w = std::max(w, width(series::buffer_of(series_node(b))));
    const uint64_t room = static_cast<uint64_t>(len_a) + (code == SetOp::Union ? len_b : 0);
    checked_bytes(room, w);

    Cell* result = stack::push_slot();
    make_at(result, static_cast<uint32_t>(room));
    if (w > 1) unicode::widen(series_node(result), w);

    auto key = [&](uint32_t c) { return case_sensitive ? c : fold(c); };
    auto members = [&](const Cell* s, uint32_t len) {
        std::unordered_set<uint32_t> set;
        for (uint32_t i = 0; i < len; i += size) set.insert(key(char_at(s, series_index(s) + i)));
        return set;
    };
    std::unordered_set<uint32_t> held;
    // A record joins the result when the other series' membership says so
    // and no record with the same first unit is there yet.
    auto pass = [&](const Cell* s, uint32_t len, const std::unordered_set<uint32_t>* other, bool keep_members) {
        for (uint32_t i = 0; i < len; i += size) {
            const uint32_t k = key(char_at(s, series_index(s) + i));
            if (other && (other->count(k) != 0) != keep_members) continue;
            if (!held.insert(k).second) continue;
            const uint32_t end = std::min(len, i + size);
            for (uint32_t j = i; j < end; j++) {
                const uint32_t c = char_at(s, series_index(s) + j);
                uint8_t* at = series::reserve_bytes(series::buffer_of(series_node(result)), w);
                write_unit(at, w, c);
            }
        }
    };
    switch (code) {
        case SetOp::Unique: pass(a, len_a, nullptr, false); break;
        case SetOp::Union:
            pass(a, len_a, nullptr, false);
            pass(b, len_b, nullptr, false);
            break;
        case SetOp::Intersect: {
            const auto other = members(b, len_b);
            pass(a, len_a, &other, true);
            break;
        }
        case SetOp::Exclude: {
            const auto other = members(b, len_b);
            pass(a, len_a, &other, false);
            break;
        }
        default: {
            const auto in_b = members(b, len_b);
            const auto in_a = members(a, len_a);
            pass(a, len_a, &in_b, false);
            pass(b, len_b, &in_a, false);
            break;
        }
    }
    series_index(a) = 0;
    series_node(a) = series_node(result);
    stack::pop_n(1);
    return a;
}

}  // namespace qel::string
