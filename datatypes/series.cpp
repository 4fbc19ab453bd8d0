// series!: the actions shared by every series type (see series.hpp).
//
// Elements are handled as units of the buffer's width (1, 2 or 4 bytes for
// text and binary, 16 for cells), converted to bytes by shifting, so one
// routine serves blocks and strings alike. Every change goes through the
// owner reports and keeps a hash! index current. Buffer addresses are
// re-read through the node after anything that may allocate or run user
// code (the owner reports call change handlers).
#include "datatypes/series.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/vector.hpp"
#include "runtime/actions.hpp"
#include "runtime/block_code.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/murmur3.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel {

namespace {

SeriesBuffer* buf(const Cell* v) { return series::buffer_of(series_node(v)); }
uint32_t shift_of(const Cell* v) { return series::log2_unit(buf(v)); }
uint8_t* unit_ptr(const Cell* v, uint32_t i) { return series::head_ptr(buf(v)) + (static_cast<size_t>(i) << shift_of(v)); }

Cell integer_cell(int64_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(v)), 0}; }

[[noreturn]] void bad_refine(const char* refinement, const Cell* value) {
    const Cell w = *word::make_from_cstr(refinement);
    err::raise(err::INVALID_REFINE_ARG, &w, value);
}

bool is_hash(const Cell* v) { return cell::type_of(v) == TYPE_HASH && hash_index_node(v) != 0; }

// Stored positions of a hash! index after count cells at position moved by
// offset; a declined shift means the whole index is built again.
void shift_hash(const Cell* v, int32_t offset, uint32_t position, uint32_t count, bool removed) {
    if (!is_hash(v)) return;
    if (hashtab::shift_positions(hash_index_node(v), offset, position, count, removed))
        hashtab::rebuild(hash_index_node(v), series_type::total_length(v));
}

// The scratch series that receives the one element a take without /part
// removes: the caller turns it into the element at once, so one buffer,
// kept in the root block, serves every such take. Registration resets it,
// since a registration means fresh memory.
uint32_t scratch_slot = 0;  // 1-based cell of the root block, 0 when not made

node_t scratch(uint32_t unit) {
    if (!scratch_slot) {
        const node_t n = memory::alloc_bytes(16);
        *series::reserve_cell(&root_cell) = Cell{TYPE_BINARY, 0, n, 0};
        scratch_slot = series::length_of(&root_cell);
    }
    const node_t n = series_node(series::cells_of(series_node(root_cell))[scratch_slot - 1]);
    SeriesBuffer* s = series::buffer_of(n);
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | unit;
    s->head = 0;
    s->tail = 0;
    return n;
}

// Word 3 of a new series made from v: a vector! keeps its element layout
// there; the other types start without an index.
uint32_t third_word_of_copy(const Cell& v) { return cell::type_of(&v) == TYPE_VECTOR ? vector::element_type(v) : 0; }

// The byte an integer! or char! stands for when poked into a binary!
// (anything above 255 does not fit).
uint32_t byte_of(const Cell* v) {
    return cell::type_of(v) == TYPE_CHAR ? char_code(v) : static_cast<uint32_t>(integer_value(v));
}

// A new empty series of the value's type and width on the argument stack.
Cell* push_empty_like(const Cell* value) {
    const Cell v = *value;
    Cell* out = stack::push_slot();
    out->header = TYPE_UNSET;
    const node_t n = series::copy_part(series_node(v), 0, 0);
    *out = Cell{cell::type_of(&v), 0, n, third_word_of_copy(v)};
    if (cell::type_of(&v) == TYPE_HASH) hash_index_node(out) = hashtab::make(1, out, hashtab::Kind::HASH, 0);
    return out;
}

// Makes room for bytes more at the tail of the buffer, doubling the
// needed size so that repeated growth stays amortised.
SeriesBuffer* grow_by(node_t n, uint64_t bytes, bool twice) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint64_t need = static_cast<uint64_t>(s->tail) + bytes;
    if (need > UINT32_MAX - memory::BUFFER_OVERHEAD - 16) err::raise(err::NO_MEMORY);
    if (need <= s->size) return s;
    if (s->flags & series_flag::FIXED) err::raise(err::LIMIT_HIT);
    const uint64_t used = need - s->head;
    uint64_t size = twice ? 2 * used : used;
    if (size > UINT32_MAX - memory::BUFFER_OVERHEAD - 16) size = used;
    return memory::expand_series(s, static_cast<uint32_t>(size));
}

// Opens a gap of count units at unit position pos (growing the buffer)
// and answers its address.
uint8_t* open_gap(const Cell* v, uint32_t pos, uint32_t count, bool twice) {
    block_code::changed(series_node(v));
    const uint32_t shift = shift_of(v);
    SeriesBuffer* s = grow_by(series_node(v), static_cast<uint64_t>(count) << shift, twice);
    uint8_t* at = series::head_ptr(s) + (static_cast<size_t>(pos) << shift);
    std::memmove(at + (static_cast<size_t>(count) << shift), at, static_cast<size_t>(series::tail_ptr(s) - at));
    s->tail += count << shift;
    return at;
}

// Removes count units at unit position pos, closing the gap.
void close_gap(const Cell* v, uint32_t pos, uint32_t count) {
    const uint32_t shift = shift_of(v);
    SeriesBuffer* s = buf(v);
    block_code::changed(s);
    uint8_t* at = series::head_ptr(s) + (static_cast<size_t>(pos) << shift);
    uint8_t* end = at + (static_cast<size_t>(count) << shift);
    std::memmove(at, end, static_cast<size_t>(series::tail_ptr(s) - end));
    s->tail -= count << shift;
}

// The element at a unit position as a value pushed on the argument stack
// (blocks answer a copy of the cell).
Cell* push_element(const Cell* v, uint32_t i) {
    const uint32_t t = cell::type_of(v);
    if (is_block_like(t)) return stack::push(reinterpret_cast<Cell*>(unit_ptr(v, i)));
    if (t == TYPE_BINARY) {
        const Cell byte = integer_cell(*unit_ptr(v, i));
        return stack::push(&byte);
    }
    if (is_any_string(t)) {
        const uint32_t cp = unicode::unit_at(series::head_ptr(buf(v)), i, series::unit(buf(v)));
        Cell* c = stack::push_slot();
        *c = Cell{TYPE_CHAR, 0, cp, 0};
        return c;
    }
    if (t == TYPE_VECTOR) return vector::push_element(v, i);
    err::raise(err::NOT_DONE);
}

}  // namespace

namespace series_type {

// ---- index arithmetic ------------------------------------------------------------

uint32_t total_length(const Cell* value) { return series::buffer_length(series_node(value)); }

bool at_tail(const Cell* value) {
    SeriesBuffer* s = series::buffer_of(series_node(value));
    const uint64_t offset = static_cast<uint64_t>(series_index(value)) << series::log2_unit(s);
    return s->head + offset >= s->tail;
}

bool skip_by(Cell* value, int32_t n) {
    const int64_t total = total_length(value);
    const int64_t to = static_cast<int64_t>(series_index(value)) + n;
    if (to >= 0 && to <= total) series_index(value) = static_cast<uint32_t>(to);
    return to >= total;
}

uint32_t offset_index(int32_t base) {
    const Cell* v = stack::arg_base;
    const Cell* offset = v + 1;
    if (cell::type_of(offset) != TYPE_INTEGER) err::raise(err::INVALID_ARG, offset);
    const int32_t off = integer_value(offset);
    if (off <= 0) base = 0;
    const int64_t to = static_cast<int64_t>(series_index(v)) + off - base;
    return static_cast<uint32_t>(std::clamp<int64_t>(to, 0, total_length(v)));
}

uint32_t length_from(Cell* value, bool from_head) {
    const uint32_t total = total_length(value);
    const uint32_t start = from_head ? 0 : series_index(value);
    if (total >= start) return total - start;
    series_index(value) = total;
    return 0;
}

// ---- types -------------------------------------------------------------------------

bool is_series(uint32_t t) {
    return is_block_like(t) || is_any_string(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}

uint32_t clamp_index(Cell* value) {
    const uint32_t total = total_length(value);
    if (series_index(value) > total) series_index(value) = total;
    return series_index(value);
}

int32_t part_count(const Cell* series, const Cell* part) {
    if (cell::type_of(part) == TYPE_INTEGER) return integer_value(part);
    if (cell::type_of(part) == cell::type_of(series) && series_node(part) == series_node(series)) {
        const int64_t d = static_cast<int64_t>(series_index(part)) - series_index(series);
        return static_cast<int32_t>(std::clamp<int64_t>(d, INT32_MIN, INT32_MAX));
    }
    bad_refine("part", part);
}

// ---- navigation and queries ------------------------------------------------------

void at() { series_index(stack::arg_base) = offset_index(1); }
void skip() { series_index(stack::arg_base) = offset_index(0); }
void back() {
    if (series_index(stack::arg_base) > 0) series_index(stack::arg_base)--;
}
void head() { series_index(stack::arg_base) = 0; }
void next() { skip_by(stack::arg_base, 1); }
void tail() { series_index(stack::arg_base) = total_length(stack::arg_base); }
void head_q() { *stack::arg_base = Cell{TYPE_LOGIC, series_index(stack::arg_base) == 0, 0, 0}; }
void tail_q() { *stack::arg_base = Cell{TYPE_LOGIC, at_tail(stack::arg_base), 0, 0}; }
void index_q() { *stack::arg_base = Cell{TYPE_INTEGER, 0, series_index(stack::arg_base) + 1, 0}; }

int32_t length(Cell* series) { return static_cast<int32_t>(length_from(series, false)); }

// ---- pick and poke ---------------------------------------------------------------

namespace {

// The unit position of a 1-based pick or poke position from the index
// (negative positions count back from it); -1 when outside the series.
int64_t element_position(const Cell* series, int32_t index) {
    if (index == 0) return -1;
    const int64_t p = static_cast<int64_t>(series_index(series)) + index - (index > 0 ? 1 : 0);
    return p < 0 || p >= total_length(series) ? -1 : p;
}

}  // namespace

Cell* pick(Cell* series, int32_t index, Cell*) {
    const int64_t p = element_position(series, index);
    if (p < 0) return &shared::none;
    if (is_block_like(cell::type_of(series))) return reinterpret_cast<Cell*>(unit_ptr(series, static_cast<uint32_t>(p)));
    return push_element(series, static_cast<uint32_t>(p));
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell*) {
    const int64_t p64 = element_position(series, index);
    if (p64 < 0) {
        const Cell at = integer_cell(index);
        err::raise(err::OUT_OF_RANGE, &at);
    }
    const uint32_t p = static_cast<uint32_t>(p64);
    const uint32_t t = cell::type_of(series);
    // The value is checked before the report, so a refused store reports
    // nothing.
    if (is_any_string(t) && cell::type_of(value) != TYPE_CHAR) err::raise(err::INVALID_ARG, value);
    if (t == TYPE_BINARY) {
        const uint32_t vt = cell::type_of(value);
        if ((vt != TYPE_INTEGER && vt != TYPE_CHAR)) err::raise(err::INVALID_ARG, value);
        if (byte_of(value) > 255) err::raise(err::OUT_OF_RANGE, value);
    }
    if (t == TYPE_VECTOR && cell::type_of(value) != vector::element_type(series)) err::raise(err::INVALID_ARG, value);
    if (t == TYPE_IMAGE) err::raise(err::NOT_DONE);
    const Report report(series, words::w_poke, value, static_cast<int32_t>(p), 1);
    if (p >= total_length(series)) {  // a change handler shortened it
        const Cell at = integer_cell(index);
        err::raise(err::OUT_OF_RANGE, &at);
    }
    if (is_block_like(t)) {
        cell::copy(value, reinterpret_cast<Cell*>(unit_ptr(series, p)));
        if (is_hash(series)) hashtab::put_at(hash_index_node(series), p);
    } else if (t == TYPE_BINARY) {
        *unit_ptr(series, p) = static_cast<uint8_t>(byte_of(value));
    } else if (t == TYPE_VECTOR) {
        vector::check_element(unit_ptr(series, p), value, vector::width(series), vector::element_type(series));
    } else {
        const uint32_t cp = char_code(value);
        unicode::ensure_width(series_node(series), cp);
        SeriesBuffer* s = buf(series);
        uint8_t* at = series::head_ptr(s);
        switch (series::unit(s)) {
            case 1: at[p] = static_cast<uint8_t>(cp); break;
            case 2: reinterpret_cast<uint16_t*>(at)[p] = static_cast<uint16_t>(cp); break;
            default: reinterpret_cast<uint32_t*>(at)[p] = cp; break;
        }
    }
    report.after(words::w_poked, value, static_cast<int32_t>(p), 1);
    return value;
}

// ---- clear, remove, reverse ------------------------------------------------------

Cell* clear(Cell* series) {
    const uint32_t n = length_from(series, false);
    if (n == 0) return series;
    const int32_t index = static_cast<int32_t>(series_index(series));
    const Report report(series, words::w_clear, nullptr, index, static_cast<int32_t>(n));
    const uint32_t at = clamp_index(series);
    if (is_hash(series)) hashtab::remove_range(hash_index_node(series), at, total_length(series) - at);
    SeriesBuffer* s = buf(series);
    s->tail = s->head + (at << series::log2_unit(s));
    report.after(words::w_cleared, nullptr, index, 0);
    return series;
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    int32_t count = 1;
    if (part) {
        count = part_count(series, part);
        if (count < 1) return series;
    }
    if (key) {
        int64_t found = -1;
        if (is_block_like(cell::type_of(series))) {
            found = block::find_key(series, key, true);
        } else {
            const stack::Saved saved;
            const Cell* r = actions::slot<datatype::FIND>(series)(series, key, {.case_sensitive = true});
            if (cell::type_of(r) != TYPE_NONE) found = series_index(r);
        }
        if (found < 0) return &shared::none;
        series_index(series) = static_cast<uint32_t>(found);
        count = count == INT32_MAX ? count : count + 1;
    }
    if (at_tail(series)) return series;
    const uint32_t at = series_index(series);
    const Report report(series, words::w_remove, nullptr, static_cast<int32_t>(at), count);
    const uint32_t total = total_length(series);
    if (at >= total) return series;
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(count), total - at);
    close_gap(series, at, n);
    shift_hash(series, -static_cast<int32_t>(n), at + n, total - at - n, true);
    report.after(words::w_removed, nullptr, static_cast<int32_t>(at), 0);
    return series;
}

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    if (at_tail(series)) return series;
    const uint32_t len = length_from(series, false);
    int64_t count = len;
    if (part) {
        count = part_count(series, part);
        if (count < 1) return series;
        count = std::min<int64_t>(count, len);
    }
    int64_t n = 1;
    if (skip) {
        if (cell::type_of(skip) != TYPE_INTEGER) bad_refine("skip", skip);
        n = integer_value(skip);
        if (n == count) return series;
        if (n < 1) err::raise(err::OUT_OF_RANGE, skip);
        if (count < n || count % n) bad_refine("skip", skip);
    }
    const uint32_t at = series_index(series);
    const Report report(series, words::w_reverse, nullptr, static_cast<int32_t>(at), static_cast<int32_t>(count));
    if (length_from(series, false) < count) return series;  // cut by a change handler
    const uint32_t shift = shift_of(series);
    const size_t record = static_cast<size_t>(n) << shift;
    std::vector<uint8_t> temp(record);
    const uint32_t records = static_cast<uint32_t>(count / n);
    const bool hash = is_hash(series);
    for (uint32_t i = 0, j = records - 1; i < j; i++, j--) {
        const uint32_t pi = at + i * static_cast<uint32_t>(n), pj = at + j * static_cast<uint32_t>(n);
        if (hash)
            for (uint32_t k = 0; k < n; k++) {
                hashtab::remove_at(hash_index_node(series), pi + k);
                hashtab::remove_at(hash_index_node(series), pj + k);
            }
        uint8_t* a = unit_ptr(series, pi);
        uint8_t* b = unit_ptr(series, pj);
        std::memcpy(temp.data(), a, record);
        std::memcpy(a, b, record);
        std::memcpy(b, temp.data(), record);
        if (hash)
            for (uint32_t k = 0; k < n; k++) {
                hashtab::put_at(hash_index_node(series), pi + k);
                hashtab::put_at(hash_index_node(series), pj + k);
            }
    }
    report.after(words::w_reversed, nullptr, static_cast<int32_t>(at), static_cast<int32_t>(count));
    return series;
}

// ---- take and copy ---------------------------------------------------------------

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    const uint32_t len = length_from(series, false);
    if (len == 0) {
        series->header = TYPE_NONE;
        return series;
    }
    const uint32_t index = series_index(series);
    const uint32_t total = total_length(series);
    int64_t count = 1;
    int64_t available = len;
    bool before = false;
    int32_t given = 1;
    if (part) {
        if (cell::type_of(part) == TYPE_INTEGER) {
            count = integer_value(part);
        } else if (cell::type_of(part) == cell::type_of(series) && series_node(part) == series_node(series)) {
            const int64_t p = std::min<uint32_t>(series_index(part), total);
            count = p < index ? 0 : last ? total - p : p - index;
        } else {
            bad_refine("part", part);
        }
        given = static_cast<int32_t>(count);
        if (count < 0) {
            available = index;
            count = last ? 1 : -count;
            before = !last;
        }
        count = std::min(count, available);
        // Taking nothing leaves the series as it was: no report, no change.
        if (count == 0) return push_empty_like(series);
    }
    const Report report(series, words::w_take, nullptr, static_cast<int32_t>(index), given);
    // A change handler may have shortened the series: take what is left.
    const uint32_t now = total_length(series);
    const uint32_t from_index = std::min(index, now);
    uint32_t n = static_cast<uint32_t>(count);
    uint32_t start;
    if (last) {
        n = std::min(n, now - from_index);
        start = now - n;
    } else if (before) {
        n = std::min(n, from_index);
        start = from_index - n;
    } else {
        n = std::min(n, now - from_index);
        start = from_index;
    }
    const Cell v = *series;
    node_t copy;
    if (part) {
        copy = series::copy_part(series_node(v), start, n);
    } else {
        copy = scratch(series::unit(buf(&v)));
        SeriesBuffer* s = series::buffer_of(copy);
        const uint32_t bytes = n << shift_of(&v);
        std::memcpy(series::data(s), unit_ptr(&v, start), bytes);
        s->tail = bytes;
    }
    Cell* out = stack::push_slot();
    *out = Cell{cell::type_of(&v), 0, copy, third_word_of_copy(v)};
    close_gap(&v, start, n);
    if (before) series_index(series) = start;
    shift_hash(&v, -static_cast<int32_t>(n), start + n, now - start - n, true);
    if (part && cell::type_of(&v) == TYPE_HASH) {
        hash_index_node(out) = 0;
        hash_index_node(out) = hashtab::make(n, out, hashtab::Kind::HASH, 0);
    }
    report.after(words::w_taken, nullptr, static_cast<int32_t>(index), 0);
    (void)deep;
    return out;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    const Cell v = *value;
    const uint32_t total = total_length(&v);
    int64_t start = series_index(v);
    int64_t count = static_cast<int64_t>(total) - start;
    if (part) {
        if (cell::type_of(part) == TYPE_PAIR) {
            const int64_t x = pair_x(part);
            const int64_t y = pair_y(part);
            start = std::max<int64_t>(0, start + x - (x > 0 ? 1 : 0));
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(&v, part);
        }
        if (count < 0) {
            count = -count;
            if (count > start) {
                count = start;
                start = 0;
            } else {
                start -= count;
            }
        }
    }
    if (start > total) start = total;
    count = std::clamp<int64_t>(count, 0, total - start);
    if (result != value) result->header = TYPE_UNSET;
    const node_t n = series::copy_part(series_node(v), static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    *result = Cell{cell::type_of(&v) | (v.header & cell_flag::NEW_LINE), 0, n, third_word_of_copy(v)};
    return result;
}

// ---- move ------------------------------------------------------------------------

namespace {

[[noreturn]] void move_bad(const Cell* a, const Cell* b) {
    const Cell ta{TYPE_DATATYPE, cell::type_of(a), 0, 0};
    const Cell tb{TYPE_DATATYPE, cell::type_of(b), 0, 0};
    err::raise(err::MOVE_BAD, &ta, &tb);
}

// Code points into a string at a position, widening it first so that
// every one fits.
void insert_codepoints(const Cell* target, uint32_t at, const std::vector<uint32_t>& cps) {
    uint32_t widest = 0;
    for (uint32_t cp : cps) widest = std::max(widest, cp);
    unicode::ensure_width(series_node(target), widest);
    uint8_t* p = open_gap(target, at, static_cast<uint32_t>(cps.size()), true);
    const uint32_t width = series::unit(buf(target));
    for (size_t i = 0; i < cps.size(); i++) {
        switch (width) {
            case 1: p[i] = static_cast<uint8_t>(cps[i]); break;
            case 2: reinterpret_cast<uint16_t*>(p)[i] = static_cast<uint16_t>(cps[i]); break;
            default: reinterpret_cast<uint32_t*>(p)[i] = cps[i]; break;
        }
    }
}

}  // namespace

Cell* move(Cell* origin, Cell* target, Cell* part) {
    const uint32_t tt = cell::type_of(target);
    if (!is_series(tt)) {
        const Cell name = stack::get_call_name();
        const Cell type{TYPE_DATATYPE, tt, 0, 0};
        const Cell arg = err::arg_name_at(1);
        err::raise(err::EXPECT_ARG, &name, &type, &arg);
    }
    if (at_tail(origin)) return target;
    const uint32_t olen = length_from(origin, false);
    uint32_t count = 1;
    if (part) {
        const int32_t n = part_count(origin, part);
        if (n < 1) return target;
        count = std::min<uint32_t>(static_cast<uint32_t>(n), olen);
    }
    const uint32_t oidx = series_index(origin);
    if (series_node(origin) != series_node(target)) {
        const uint32_t ot = cell::type_of(origin);
        if (is_block_like(ot) != is_block_like(tt)) move_bad(origin, target);
        const bool same_width = series::unit(buf(origin)) == series::unit(buf(target));
        if (!same_width && (ot == TYPE_BINARY || tt == TYPE_BINARY)) move_bad(origin, target);
        // Vector elements are numbers of one layout: they move only into a
        // vector of that very layout.
        if ((ot == TYPE_VECTOR || tt == TYPE_VECTOR) &&
            (ot != tt || !same_width || vector::element_type(origin) != vector::element_type(target)))
            move_bad(origin, target);
        const Report report(target, words::w_move, origin, static_cast<int32_t>(oidx), static_cast<int32_t>(count));
        const uint32_t tidx = clamp_index(target);
        count = std::min(count, length_from(origin, false));
        const uint32_t tlen = total_length(target);
        if (same_width) {
            open_gap(target, tidx, count, true);
            std::memcpy(unit_ptr(target, tidx), unit_ptr(origin, oidx), static_cast<size_t>(count) << shift_of(origin));
        } else {
            std::vector<uint32_t> cps(count);
            SeriesBuffer* s = buf(origin);
            for (uint32_t i = 0; i < count; i++) cps[i] = unicode::unit_at(series::head_ptr(s), oidx + i, series::unit(s));
            insert_codepoints(target, tidx, cps);
        }
        const uint32_t orest = total_length(origin) - oidx - count;
        close_gap(origin, oidx, count);
        shift_hash(origin, -static_cast<int32_t>(count), oidx + count, orest, true);
        if (is_hash(target)) {
            shift_hash(target, static_cast<int32_t>(count), tidx, tlen - tidx, false);
            for (uint32_t i = 0; i < count; i++) hashtab::put_at(hash_index_node(target), tidx + i);
        }
        report.after(words::w_moved, origin, static_cast<int32_t>(tidx), static_cast<int32_t>(count));
        return target;
    }
    // Within one buffer: the moved units go out to a temporary block, the
    // units between shift over, and the block comes back at the target.
    const uint32_t total = total_length(origin);
    const uint32_t tidx = std::min(series_index(target), total);
    if (tidx == oidx) return target;
    if (tidx > oidx && tidx < oidx + count) return origin;
    const Report report(target, words::w_move, origin, static_cast<int32_t>(oidx), static_cast<int32_t>(count));
    if (total_length(origin) != total) return target;  // changed under us by a handler
    const uint32_t shift = shift_of(origin);
    const size_t bytes = static_cast<size_t>(count) << shift;
    std::vector<uint8_t> temp(bytes);
    std::memcpy(temp.data(), unit_ptr(origin, oidx), bytes);
    uint32_t place;
    if (tidx > oidx) {
        place = tidx - count;
        std::memmove(unit_ptr(origin, oidx), unit_ptr(origin, oidx + count), static_cast<size_t>(place - oidx) << shift);
    } else {
        place = tidx;
        std::memmove(unit_ptr(origin, tidx + count), unit_ptr(origin, tidx), static_cast<size_t>(oidx - tidx) << shift);
    }
    std::memcpy(unit_ptr(origin, place), temp.data(), bytes);
    if (is_hash(origin) && hashtab::move_range(hash_index_node(origin), oidx, count, tidx))
        hashtab::rebuild(hash_index_node(origin), total);
    report.after(words::w_moved, origin, static_cast<int32_t>(place), static_cast<int32_t>(count));
    return target;
}

// ---- random, reflect, modify -----------------------------------------------------

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    const uint32_t len = length_from(value, false);
    if (seed) {
        random::seed(static_cast<int32_t>(
            hashtab::murmur3_bytes(unit_ptr(value, series_index(value)), size_t{len} << shift_of(value))));
        value->header = TYPE_UNSET;
        return value;
    }
    if (only) {
        if (len == 0) return &shared::none;
        const int32_t m = random::integer(secure, static_cast<int32_t>(len));
        return push_element(value, series_index(value) + static_cast<uint32_t>(m) - 1);
    }
    const uint32_t at = series_index(value);
    const Report report(value, words::w_random, nullptr, static_cast<int32_t>(at), static_cast<int32_t>(len));
    const uint32_t n = length_from(value, false);
    const uint32_t shift = shift_of(value);
    const size_t width = size_t{1} << shift;
    uint8_t temp[16];
    for (uint32_t c = n, i = at; c >= 1; c--, i++) {
        const uint32_t m = static_cast<uint32_t>(random::integer(secure, static_cast<int32_t>(c)));
        uint8_t* a = unit_ptr(value, i);
        uint8_t* b = unit_ptr(value, i + m - 1);
        std::memcpy(temp, a, width);
        std::memcpy(a, b, width);
        std::memcpy(b, temp, width);
    }
    if (is_hash(value)) hashtab::rebuild(hash_index_node(value), total_length(value));
    report.after(words::w_randomized, nullptr, static_cast<int32_t>(at), static_cast<int32_t>(n));
    return value;
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    if (symbol::canonical(field_symbol) != symbol::canonical(words::sym_owned)) err::raise(err::NOT_DONE);
    Cell* entry = owner::find(value);
    return entry ? entry : &shared::none;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    const uint32_t ft = cell::type_of(field);
    if (!is_word_or_refinement(ft)) return target;
    if (symbol::canonical(word_symbol(field)) != symbol::canonical(words::sym_owned)) return target;
    if (cell::type_of(value) == TYPE_NONE) {
        owner::remove_deep(target);
    } else if (cell::type_of(value) == TYPE_BLOCK && length_from(value, false) >= 2) {
        // Copies: attaching allocates and the block may move.
        const Cell* cells = reinterpret_cast<Cell*>(unit_ptr(value, series_index(value)));
        const Cell owner_cell = cells[0];
        const Cell field_word = cells[1];
        owner::attach(&owner_cell, &field_word, target);
    }
    return target;
}

void fill(datatype::Record& r) {
    scratch_slot = 0;
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::RANDOM>(r, &random);
    datatype::set_slot<datatype::REFLECT>(r, &reflect);
    datatype::set_slot<datatype::AT>(r, &at);
    datatype::set_slot<datatype::BACK>(r, &back);
    datatype::set_slot<datatype::CLEAR>(r, &clear);
    datatype::set_slot<datatype::COPY>(r, &copy);
    datatype::set_slot<datatype::HEAD>(r, &head);
    datatype::set_slot<datatype::HEAD_Q>(r, &head_q);
    datatype::set_slot<datatype::INDEX_Q>(r, &index_q);
    datatype::set_slot<datatype::LENGTH_Q>(r, &length);
    datatype::set_slot<datatype::MOVE>(r, &move);
    datatype::set_slot<datatype::NEXT>(r, &next);
    datatype::set_slot<datatype::PICK>(r, &pick);
    datatype::set_slot<datatype::POKE>(r, &poke);
    datatype::set_slot<datatype::REMOVE>(r, &remove);
    datatype::set_slot<datatype::REVERSE>(r, &reverse);
    datatype::set_slot<datatype::SKIP>(r, &skip);
    datatype::set_slot<datatype::TAIL>(r, &tail);
    datatype::set_slot<datatype::TAIL_Q>(r, &tail_q);
    datatype::set_slot<datatype::TAKE>(r, &take);
    datatype::set_slot<datatype::MODIFY>(r, &modify);
}

}  // namespace series_type
}  // namespace qel
