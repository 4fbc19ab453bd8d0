// append, insert, change, swap, take and trim on the text types.
//
// Every text that goes in is first described as a run of units in some
// buffer (the value's own, or a temporary one for chars, tags and formed
// values) and then spliced into the series in one step: widen once, size
// once (with overflow checks, since a /dup count times a long text easily
// leaves 32 bits), move the rest once, copy, and repeat by doubling. A run
// that lives in the series' own buffer is copied out before the buffer
// changes, so a value always contributes what it held when the action began.
#include "datatypes/string_modify.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/unicode.hpp"

namespace qel::string {

namespace {

uint32_t total_units(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return (s->tail - s->head) / width(s);
}

bool is_text_value(uint32_t t) { return is_any_string(t) && t != TYPE_TAG; }

// Writes reps copies of n units of run (from its index) over replaced units
// at unit index at of the buffer; min_width is the width the run's content
// asks for beyond its buffer's (a char's append width).
void splice(node_t sn, uint32_t at, uint32_t replaced, const Cell& run, uint32_t n, uint64_t reps,
            uint32_t min_width) {
    const uint32_t used = total_units(sn);
    at = std::min(at, used);
    replaced = std::min(replaced, used - at);
    const node_t rn = series_node(run);
    const uint32_t rw = width(series::buffer_of(rn));
    const uint32_t run_from = std::min(series_index(run), total_units(rn));
    n = std::min(n, total_units(rn) - run_from);
    uint64_t written;
    if (__builtin_mul_overflow(static_cast<uint64_t>(n), reps, &written)) err::raise(err::NO_MEMORY);
    const uint32_t w = std::max({width(series::buffer_of(sn)), rw, min_width});
    const uint32_t need = checked_bytes(static_cast<uint64_t>(used) - replaced + written, w);
    const uint32_t run_bytes = checked_bytes(written, w);
    std::vector<uint8_t> own;
    if (rn == sn) {
        const uint8_t* from = series::head_ptr(series::buffer_of(rn)) + static_cast<size_t>(run_from) * rw;
        own.assign(from, from + static_cast<size_t>(n) * rw);
    }
    if (w > width(series::buffer_of(sn))) unicode::widen(sn, w);
    SeriesBuffer* s = series::buffer_of(sn);
    if (static_cast<uint64_t>(s->head) + need > s->size) {
        const uint64_t doubled = 2 * static_cast<uint64_t>(need);
        s = memory::expand_series(s, doubled <= 0x7FFFFF00 ? static_cast<uint32_t>(doubled) : need);
    }
    uint8_t* head = series::head_ptr(s);
    uint8_t* dst = head + static_cast<size_t>(at) * w;
    std::memmove(dst + run_bytes, dst + static_cast<size_t>(replaced) * w,
                 static_cast<size_t>(used - at - replaced) * w);
    const uint8_t* src = own.empty() ? series::head_ptr(series::buffer_of(rn)) + static_cast<size_t>(run_from) * rw
                                     : own.data();
    const size_t one = static_cast<size_t>(n) * w;
    if (rw == w) std::memcpy(dst, src, one);
    else
        for (uint32_t i = 0; i < n; i++)
            write_unit(dst + static_cast<size_t>(i) * w, w, read_unit(src + static_cast<size_t>(i) * rw, rw));
    for (size_t done = one; done < run_bytes && one > 0;) {
        const size_t chunk = std::min(done, run_bytes - done);
        std::memcpy(dst + done, dst, chunk);
        done += chunk;
    }
    s->tail = s->head + need;
}

// The units from unit index start to the tail repeated so that they stand
// dup times.
void repeat_tail(node_t n, uint32_t start, int32_t dup) {
    if (dup <= 1) return;
    const uint32_t used = total_units(n);
    const Cell run{TYPE_STRING, start, n, 0};
    splice(n, used, 0, run, used - start, static_cast<uint64_t>(dup) - 1, 1);
}

// Forms the value onto the tail within allowance units (-1: no limit),
// cutting off what goes beyond; answers the allowance left.
int64_t form_onto(node_t out, const Cell* value, int64_t allowance) {
    const uint32_t before = total_units(out);
    if (allowance < 0) {
        actions::form(value, out, false, INT32_MAX);
        return -1;
    }
    actions::form(value, out, true, static_cast<int32_t>(std::min<int64_t>(allowance, INT32_MAX)));
    const uint32_t appended = total_units(out) - before;
    if (appended >= allowance) {
        truncate(out, static_cast<uint32_t>(before + allowance));
        return 0;
    }
    return allowance - appended;
}

// A tag as "<" text ">" within allowance: each bracket only while some
// allowance is left for it.
void tag_onto(node_t out, const Cell* tag, int64_t allowance) {
    if (allowance != 0) {
        append_char(out, '<');
        if (allowance > 0) allowance--;
    }
    int64_t n = length(tag);
    if (allowance >= 0) n = std::min(n, allowance);
    const Cell target{TYPE_STRING, 0, out, 0};
    concatenate(&target, tag, static_cast<int32_t>(n), 0, true, APPEND);
    if (allowance > 0) allowance -= n;
    if (allowance != 0) append_char(out, '>');
}

// Elements of a block from its index, each formed onto out. Either count
// elements (allowance -1) or, with an allowance, characters.
void form_block_onto(node_t out, const Cell* block, int64_t count, int64_t allowance) {
    const Cell b = *block;
    for (int64_t i = 0;; i++) {
        if (count >= 0 && i >= count) break;
        SeriesBuffer* s = series::buffer_of(series_node(b));
        const uint64_t at = uint64_t{series_index(b)} + static_cast<uint64_t>(i);
        if (at >= (s->tail - s->head) / sizeof(Cell)) break;
        // The element is formed from a copy on the argument stack: forming
        // allocates, which may move the block's buffer.
        Cell* e = stack::push(series::head_cell(s) + at);
        allowance = form_onto(out, e, allowance);
        stack::pop_n(1);
        if (allowance == 0) break;
    }
}

// What insert and change write: a run of units and the width its content
// needs. Temporary buffers sit in a stack cell for the collector; the
// caller drops it with release().
struct Run {
    Cell cell{};
    uint32_t n = 0;
    uint32_t min_width = 1;
    bool pushed = false;
    void release() {
        if (pushed) stack::pop_n(1);
    }
};

Run make_run(const Cell* value, int64_t allowance) {
    Run r;
    const uint32_t vt = cell::type_of(value);
    if (is_text_value(vt)) {
        r.cell = *value;
        r.n = length(value);
        if (allowance >= 0) r.n = static_cast<uint32_t>(std::min<int64_t>(r.n, allowance));
        return r;
    }
    Cell* tmp = stack::push_slot();
    *tmp = Cell{TYPE_UNSET, 0, 0, 0};
    r.pushed = true;
    if (vt == TYPE_CHAR) {
        const uint32_t cp = char_code(value);
        if (cp > unicode::MAX_CODEPOINT) err::raise(err::INVALID_CHAR);
        r.min_width = append_width(cp);
        *tmp = Cell{TYPE_STRING, 0, memory::alloc_codepoints(1, r.min_width), 0};
        SeriesBuffer* s = series::buffer_of(series_node(tmp));
        write_unit(series::head_ptr(s), r.min_width, cp);
        s->tail += r.min_width;
    } else {
        make_at(tmp, 16);
        if (vt == TYPE_TAG) tag_onto(series_node(tmp), value, allowance);
        else if (is_block_paren_or_hash(vt))
            form_block_onto(series_node(tmp), value, -1, allowance);
        else form_onto(series_node(tmp), value, allowance);
    }
    r.cell = *tmp;
    r.n = total_units(series_node(tmp));
    return r;
}

// Refuses, before anything is written, a result of dup copies of n more
// units that no 32-bit buffer could hold.
void check_room(node_t sn, uint64_t n, int32_t dup, uint32_t value_width) {
    uint64_t units;
    if (__builtin_mul_overflow(n, static_cast<uint64_t>(dup), &units)) err::raise(err::NO_MEMORY);
    checked_bytes(units + total_units(sn), std::max(width(series::buffer_of(sn)), value_width));
}

// The appends a loop makes most, without describing a run: an integer's
// digits, or a text of the series' own width, from another buffer, that
// fits the room left. Answers false, having written nothing, for anything
// else.
bool append_plain(node_t sn, const Cell* value) {
    const uint32_t vt = cell::type_of(value);
    if (vt == TYPE_INTEGER) {
        char digits[12];
        const uint32_t n = integer::to_decimal(integer_value(value), digits);
        text::append_latin1(sn, digits, n);
        return true;
    }
    if (!is_text_value(vt) || series_node(value) == sn) return false;
    SeriesBuffer* s = series::buffer_of(sn);
    SeriesBuffer* r = series::buffer_of(series_node(value));
    const uint32_t w = series::unit(s);
    if (series::unit(r) != w) return false;
    const uint64_t from = uint64_t{series_index(value)} * w;
    const uint32_t used = r->tail - r->head;
    if (from >= used) return true;
    const auto bytes = static_cast<uint32_t>(used - from);
    if (uint64_t{s->tail} + bytes > s->size) return false;
    std::memcpy(series::tail_ptr(s), series::head_ptr(r) + from, bytes);
    s->tail += bytes;
    return true;
}

// append's general path: dup copies of the value's text (formed unless
// it is a text) at the tail.
void append_formed(node_t sn, const Cell* value, int32_t part, bool only, int32_t dup) {
    const uint32_t start = total_units(sn);
    const uint32_t vt = cell::type_of(value);
    if (is_text_value(vt)) {
        uint32_t n = length(value);
        if (part >= 0) n = std::min(n, static_cast<uint32_t>(part));
        splice(sn, start, 0, *value, n, static_cast<uint64_t>(dup), 1);
    } else if (vt == TYPE_CHAR) {
        check_room(sn, 1, dup, append_width(char_code(value)));
        append_char(sn, char_code(value));
        repeat_tail(sn, start, dup);
    } else if (vt == TYPE_TAG) {
        check_room(sn, uint64_t{length(value)} + 2, dup, width(series::buffer_of(series_node(value))));
        tag_onto(sn, value, part);
        repeat_tail(sn, start, dup);
    } else if (is_block_paren_or_hash(vt)) {
        // Without /only a /part counts elements; with it, characters.
        if (only) form_block_onto(sn, value, -1, part);
        else form_block_onto(sn, value, part, -1);
        repeat_tail(sn, start, dup);
    } else {
        form_onto(sn, value, only ? part : -1);
        repeat_tail(sn, start, dup);
    }
}

}  // namespace

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1 || part == 0) return series;
    const int32_t index = static_cast<int32_t>(clamp_index(series));
    const bool owned = owner::check_change(series, words::w_append, value, index, part);
    const node_t sn = series_node(series);
    if (dup != 1 || part >= 0 || !append_plain(sn, value)) append_formed(sn, value, part, only, dup);
    if (owned) owner::check_change(series, words::w_appended, value, index, part);
    series_index(series) = 0;
    return series;
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1 || part == 0) return series;
    const uint32_t index = clamp_index(series);
    if (index == total_units(series_node(series))) {
        append(series, value, part, only, dup);
        series_index(series) = total_units(series_node(series));
        return series;
    }
    const bool owned = owner::check_change(series, words::w_insert, value, static_cast<int32_t>(index), part);
    Run run = make_run(value, part);
    splice(series_node(series), index, 0, run.cell, run.n, static_cast<uint64_t>(dup), run.min_width);
    run.release();
    if (owned) owner::check_change(series, words::w_inserted, value, static_cast<int32_t>(index), part);
    const uint64_t after = static_cast<uint64_t>(index) + static_cast<uint64_t>(run.n) * static_cast<uint64_t>(dup);
    series_index(series) = static_cast<uint32_t>(std::min<uint64_t>(after, total_units(series_node(series))));
    return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1 || part == 0) return series;
    const uint32_t index = clamp_index(series);
    const uint32_t used = total_units(series_node(series));
    if (index == used) {
        append(series, value, -1, only, dup);
        series_index(series) = total_units(series_node(series));
        return series;
    }
    Run run = make_run(value, -1);
    const uint64_t written = static_cast<uint64_t>(run.n) * static_cast<uint64_t>(dup);
    const uint32_t replaced = static_cast<uint32_t>(
        std::min<uint64_t>(part >= 0 ? static_cast<uint64_t>(part) : written, used - index));
    const bool owned =
        owner::check_change(series, words::w_change, value, static_cast<int32_t>(index), static_cast<int32_t>(replaced));
    splice(series_node(series), index, replaced, run.cell, run.n, static_cast<uint64_t>(dup), run.min_width);
    run.release();
    if (owned)
        owner::check_change(series, words::w_changed, value, static_cast<int32_t>(index),
                            static_cast<int32_t>(replaced));
    series_index(series) = static_cast<uint32_t>(std::min<uint64_t>(index + written, total_units(series_node(series))));
    return series;
}

Cell* swap(Cell* series1, Cell* series2) {
    const uint32_t t2 = cell::type_of(series2);
    if (!is_any_string(t2) && t2 != TYPE_BINARY) err::raise(err::INVALID_ARG, series2);
    if (is_tail(series1) || is_tail(series2)) return series1;
    const uint32_t i1 = clamp_index(series1);
    const uint32_t i2 = clamp_index(series2);
    const uint32_t c1 = char_at(series1, i1);
    const uint32_t c2 = char_at(series2, i2);
    const bool owned1 = owner::check_change(series1, words::w_swap, series2, static_cast<int32_t>(i1), 1);
    const bool owned2 = owner::check_change(series2, words::w_swap, series1, static_cast<int32_t>(i2), 1);
    poke_char(series_node(series1), i1, c2);
    poke_char(series_node(series2), i2, c1);
    if (owned1) owner::check_change(series1, words::w_swaped, series2, static_cast<int32_t>(i1), 1);
    if (owned2) owner::check_change(series2, words::w_swaped, series1, static_cast<int32_t>(i2), 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    const auto shared_take = datatype::action<datatype::TAKE>(TYPE_SERIES);
    if (!shared_take || shared_take == &take) err::raise(err::NOT_DONE);
    const uint32_t type = cell::type_of(series);
    Cell* r = shared_take(series, part, deep, last);
    if (!part && r && cell::type_of(r) == type && length(r) == 1) {
        const uint32_t c = char_at(r, series_index(r));
        *r = Cell{type == TYPE_BINARY ? uint32_t{TYPE_INTEGER} : uint32_t{TYPE_CHAR}, 0, c, 0};
    }
    return r;
}

// ---- trim ---------------------------------------------------------------------------

namespace {

bool wide_space(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) ||
           c == 8232 || c == 8233 || c == 8239 || c == 8287 || c == 12288;
}

// The blanks that may surround a line: no control codes but tab.
bool line_space(uint32_t c) { return c == ' ' || c == '\t' || (c > 127 && wide_space(c)); }

std::vector<uint32_t> units_from_index(const Cell* s) {
    std::vector<uint32_t> u(length(s));
    for (uint32_t i = 0; i < u.size(); i++) u[i] = char_at(s, series_index(s) + i);
    return u;
}

// The kept units replace everything from the index; there are never more of
// them than there were, so they fit the buffer and its width.
void store_from_index(const Cell* s, const std::vector<uint32_t>& u) {
    SeriesBuffer* b = series::buffer_of(series_node(s));
    const uint32_t w = width(b);
    uint8_t* at = series::head_ptr(b) + static_cast<size_t>(series_index(s)) * w;
    for (size_t i = 0; i < u.size(); i++) write_unit(at + i * w, w, u[i]);
    b->tail = b->head + (series_index(s) + static_cast<uint32_t>(u.size())) * w;
}

std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& u) {
    std::vector<uint32_t> out;
    bool gap = false;
    for (const uint32_t c : u) {
        if (wide_space(c)) {
            gap = !out.empty();
            continue;
        }
        if (gap) out.push_back(' ');
        gap = false;
        out.push_back(c);
    }
    return out;
}

std::vector<uint32_t> trim_ends(const std::vector<uint32_t>& u, bool head, bool tail) {
    const bool only_tail = tail && !head;
    const bool only_head = head && !tail;
    size_t b = 0, e = u.size();
    if (!only_tail)
        while (b < e && wide_space(u[b])) b++;
    bool dropped_lf = false;
    if (!only_head)
        while (e > b && wide_space(u[e - 1])) dropped_lf |= u[--e] == '\n';
    if (head || tail) return std::vector<uint32_t>(u.begin() + static_cast<ptrdiff_t>(b), u.begin() + static_cast<ptrdiff_t>(e));
    std::vector<uint32_t> out;
    for (size_t line = b; line <= e;) {
        size_t stop = line;
        while (stop < e && u[stop] != '\n') stop++;
        const bool ends_with_lf = stop < e;
        size_t s = line, t = stop;
        if (line != b)
            while (s < t && line_space(u[s])) s++;
        if (ends_with_lf)
            while (t > s && line_space(u[t - 1])) t--;
        out.insert(out.end(), u.begin() + static_cast<ptrdiff_t>(s), u.begin() + static_cast<ptrdiff_t>(t));
        if (!ends_with_lf) break;
        out.push_back('\n');
        line = stop + 1;
    }
    if (dropped_lf) out.push_back('\n');
    return out;
}

}  // namespace

void remove_chars_in(Cell* series, const Cell* with) {
    std::vector<uint32_t> set;
    if (!with) {
        set = {'\t', '\n', '\r', ' '};
    } else {
        const uint32_t wt = cell::type_of(with);
        if (is_any_string(wt) || wt == TYPE_BINARY) set = units_from_index(with);
        else if (wt == TYPE_CHAR) set.push_back(char_code(with));
        else if (wt == TYPE_INTEGER) set.push_back(static_cast<uint32_t>(integer_value(with)));
    }
    if (set.empty()) return;
    std::sort(set.begin(), set.end());
    std::vector<uint32_t> u = units_from_index(series);
    u.erase(std::remove_if(u.begin(), u.end(),
                           [&](uint32_t c) { return std::binary_search(set.begin(), set.end(), c); }),
            u.end());
    store_from_index(series, u);
}

Cell* trim(Cell* series, const datatype::TrimOptions& options) {
    const bool removing = options.all || options.with;
    if (!removing && options.automatic) err::raise(err::NOT_DONE);
    const uint32_t index = clamp_index(series);
    const int32_t n = static_cast<int32_t>(length(series));
    const bool owned = owner::check_change(series, words::w_trim, &shared::none, static_cast<int32_t>(index), n);
    if (removing) remove_chars_in(series, options.with);
    else if (options.lines) store_from_index(series, trim_lines(units_from_index(series)));
    else store_from_index(series, trim_ends(units_from_index(series), options.head, options.tail));
    if (owned) owner::check_change(series, words::w_trimmed, &shared::none, static_cast<int32_t>(index), n);
    return series;
}

}  // namespace qel::string
