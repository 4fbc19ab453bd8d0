// string!: the buffer discipline shared by every text type, the helpers the
// runtime uses to build text, and the slots that make, convert, form, mold,
// compare and address a string. Searching lives in string_search.cpp, the
// modifying actions in string_modify.cpp; this file registers all of them.
//
// Sizes are computed in 64 bits and refused above what a 32-bit process
// could address (internal no-memory), so a huge /dup or a long text can
// never wrap into a small allocation that is then overrun.
#include "datatypes/string.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/fills.hpp"
#include "datatypes/float_text.hpp"
#include "datatypes/string_modify.hpp"
#include "datatypes/string_search.hpp"
#include "runtime/stack.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace qel::string {

namespace {

// Above this many bytes a buffer could not exist in a 32-bit process (the
// buffer header and rounding must still fit in 32 bits after it).
constexpr uint64_t MAX_BUFFER_BYTES = 0x7FFFFF00;

uint32_t total_units(const SeriesBuffer* s) { return (s->tail - s->head) / width(s); }

}  // namespace

// ---- units and sizes ----------------------------------------------------------

uint32_t width(const SeriesBuffer* s) {
    const uint32_t w = series::unit(s);
    if (w == 1 || w == 2 || w == 4) return w;
    rt::runtime_error(rt::code::NO_SWITCH, rt::here());
}

uint32_t checked_bytes(uint64_t units, uint32_t w) {
    uint64_t bytes;
    if (__builtin_mul_overflow(units, static_cast<uint64_t>(w), &bytes) || bytes > MAX_BUFFER_BYTES)
        err::raise(err::NO_MEMORY);
    return static_cast<uint32_t>(bytes);
}

void write_unit(uint8_t* p, uint32_t w, uint32_t cp) {
    switch (w) {
        case 1: *p = static_cast<uint8_t>(cp); break;
        case 2: {
            const uint16_t u = static_cast<uint16_t>(cp);
            std::memcpy(p, &u, 2);
            break;
        }
        case 4: std::memcpy(p, &cp, 4); break;
        default: rt::runtime_error(rt::code::NO_SWITCH, rt::here());
    }
}

// ---- reading values -------------------------------------------------------------

uint32_t clamp_index(Cell* value) {
    const uint32_t total = total_units(series::buffer_of(series_node(value)));
    if (series_index(value) > total) series_index(value) = total;
    return series_index(value);
}

uint32_t length(const Cell* value) {
    const uint32_t total = total_units(series::buffer_of(series_node(value)));
    return series_index(value) >= total ? 0 : total - series_index(value);
}

uint32_t length_whole(const Cell* value) { return total_units(series::buffer_of(series_node(value))); }

bool is_tail(const Cell* value) { return length(value) == 0; }

uint32_t char_at(const Cell* value, uint32_t offset) {
    SeriesBuffer* s = series::buffer_of(series_node(value));
    const uint32_t w = width(s);
    if (offset >= total_units(s)) return 0;
    return read_unit(series::head_ptr(s) + static_cast<size_t>(offset) * w, w);
}

// ---- making and cutting -----------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity, uint32_t type) {
    const node_t n = memory::alloc_codepoints(capacity ? capacity : 1, 1);
    *cell = Cell{type, 0, n, 0};
    return cell;
}

Cell* clear_latin1(Cell* value) {
    SeriesBuffer* s = series::buffer_of(series_node(value));
    s->tail = s->head;
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | 1u;
    series_index(value) = 0;
    return value;
}

void truncate(node_t n, uint32_t units) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint64_t end = s->head + static_cast<uint64_t>(units) * width(s);
    if (s->tail > end) s->tail = static_cast<uint32_t>(end);
}

// ---- storing code points -----------------------------------------------------------

void append_char(node_t n, uint32_t cp) {
    if (cp > unicode::MAX_CODEPOINT) err::raise(err::INVALID_CHAR);
    const uint32_t need = append_width(cp);
    if (need > width(series::buffer_of(n))) unicode::widen(n, need);
    unicode::append_codepoint(n, cp);
}

void poke_char(node_t n, uint32_t index, uint32_t cp) {
    if (cp > unicode::MAX_CODEPOINT) err::raise(err::INVALID_CHAR);
    SeriesBuffer* s = unicode::ensure_width(n, cp);
    const uint32_t w = width(s);
    if (index >= total_units(s)) return;
    write_unit(series::head_ptr(s) + static_cast<size_t>(index) * w, w, cp);
}

// ---- concatenation -----------------------------------------------------------------

node_t concatenate(const Cell* target_in, const Cell* source_in, int32_t part, uint32_t offset, bool keep_width,
                   Mode mode) {
    const Cell target = *target_in;
    Cell source = *source_in;
    if (is_all_word(cell::type_of(&source))) {
        // The symbol's cached text is shared by every word of that spelling:
        // it must never be widened on behalf of one target.
        source = Cell{TYPE_STRING, 0, symbol::get_string(word_symbol(source)), 0};
        keep_width = true;
    }
    const node_t tn = series_node(target);
    const node_t sn = series_node(source);
    uint32_t tw = width(series::buffer_of(tn));
    uint32_t sw = width(series::buffer_of(sn));
    if (tw < sw) {
        unicode::widen(tn, sw);
        tw = sw;
    } else if (sw < tw && !keep_width) {
        unicode::widen(sn, tw);
        sw = tw;
    }
    SeriesBuffer* s = series::buffer_of(sn);
    const uint32_t s_total = total_units(s);
    const uint32_t s_index = std::min(series_index(source), s_total);
    uint32_t n = s_total - s_index;
    if (part >= 0 && static_cast<uint32_t>(part) < n) n = static_cast<uint32_t>(part);
    if (n == 0) return tn;

    SeriesBuffer* t = series::buffer_of(tn);
    const uint32_t used = total_units(t);
    const uint64_t wanted = uint64_t{series_index(target)} + offset;
    const uint32_t at = mode == APPEND ? used : static_cast<uint32_t>(std::min<uint64_t>(wanted, used));
    const uint32_t bytes = checked_bytes(n, tw);
    const uint32_t needed = checked_bytes(static_cast<uint64_t>(used) + n, tw);
    // A unit run inserted from the target's own buffer is taken before the
    // insertion opens its gap: the value contributes what it held.
    std::vector<uint8_t> own;
    if (tn == sn && mode == INSERT) {
        const uint8_t* from = series::head_ptr(s) + static_cast<size_t>(s_index) * sw;
        own.assign(from, from + static_cast<size_t>(n) * sw);
    }
    if (static_cast<uint64_t>(t->head) + needed > t->size) {
        const uint64_t doubled = 2 * static_cast<uint64_t>(needed);
        t = memory::expand_series(t, static_cast<uint32_t>(doubled <= MAX_BUFFER_BYTES ? doubled : needed));
    }
    uint8_t* head = series::head_ptr(t);
    uint8_t* dst = head + static_cast<size_t>(at) * tw;
    if (mode == INSERT) std::memmove(dst + bytes, dst, static_cast<size_t>(used - at) * tw);
    const uint8_t* src = own.empty() ? series::head_ptr(series::buffer_of(sn)) + static_cast<size_t>(s_index) * sw
                                     : own.data();
    if (sw == tw) {
        std::memmove(dst, src, bytes);
    } else {
        for (uint32_t i = 0; i < n; i++) write_unit(dst + static_cast<size_t>(i) * tw, tw, read_unit(src + static_cast<size_t>(i) * sw, sw));
    }
    const uint32_t end = mode == OVERWRITE ? std::max(at + n, used) : used + n;
    t->tail = t->head + end * tw;
    return tn;
}

// ---- digits out ----------------------------------------------------------------------

namespace {
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
}

const char* byte_to_hex(uint8_t byte) {
    static char pair[2];
    pair[0] = HEX_DIGITS[byte >> 4];
    pair[1] = HEX_DIGITS[byte & 15];
    return pair;
}

const char* to_hex(uint32_t value, bool short_form) {
    static char digits[9];
    for (int i = 7; i >= 0; i--) {
        digits[i] = HEX_DIGITS[value & 15];
        value >>= 4;
    }
    digits[8] = 0;
    if (!short_form) return digits;
    const char* p = digits;
    while (*p == '0' && p[1]) p++;
    return *p == '0' ? "00" : p;
}

// ---- molding ----------------------------------------------------------------------

namespace {

// The caret forms of the codes below 95; 0 where a code has none.
constexpr char CARET_CONTROLS[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

char caret_entry(uint32_t cp) {
    if (cp < 32) return CARET_CONTROLS[cp];
    if (cp == '"') return '"';
    if (cp == '^') return '^';
    return 0;
}

void append_ascii(node_t out, const char* s) {
    while (*s) append_char(out, static_cast<uint8_t>(*s++));
}

}  // namespace

void mold_char(node_t out, uint32_t cp, bool escape, bool all) {
    // 30 would read back as the caret of ^^, so it always goes in hex.
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        append_ascii(out, "^(");
        append_ascii(out, to_hex(cp, true));
        append_char(out, ')');
        return;
    }
    if (escape) {
        if (const char e = cp < 95 ? caret_entry(cp) : 0) {
            append_char(out, '^');
            append_char(out, static_cast<uint8_t>(e));
            return;
        }
        if (cp == 127) {
            append_ascii(out, "^~");
            return;
        }
    }
    append_char(out, cp);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell v = *value;
    const node_t n = series_node(v);
    const uint32_t full = length(&v);
    const uint32_t first = std::min(series_index(v), length_whole(&v));
    uint32_t run = full;
    if (options.part) run = limit < 0 ? 0 : std::min<uint32_t>(full, static_cast<uint32_t>(limit));

    // One pass finds what decides the delimiters and, for braces, the first
    // opening brace without a partner: the last one that lifted the nesting
    // from zero, when the nesting never came back down. Every opening brace
    // before it is balanced, every one from it on must be escaped.
    uint32_t quotes = 0, lines = 0, depth = 0, last_open = 0;
    for (uint32_t i = 0; i < run; i++) {
        const uint32_t c = unicode::codepoint_at(n, first + i);
        if (c == '"') quotes++;
        else if (c == '\n') lines++;
        else if (c == '{') {
            if (depth == 0) last_open = i;
            depth++;
        } else if (c == '}' && depth > 0) {
            depth--;
        }
    }
    const bool braces = lines >= 3 || quotes > 0 || full >= 50;
    if (!braces) {
        append_char(out, '"');
        for (uint32_t i = 0; i < run; i++) mold_char(out, unicode::codepoint_at(n, first + i), true, options.all);
        append_char(out, '"');
    } else {
        const uint32_t unbalanced_from = depth > 0 ? last_open : run;
        append_char(out, '{');
        depth = 0;
        for (uint32_t i = 0; i < run; i++) {
            const uint32_t c = unicode::codepoint_at(n, first + i);
            if (c == '{') {
                if (i < unbalanced_from) depth++;
                else append_char(out, '^');
                append_char(out, c);
            } else if (c == '}') {
                if (depth < 1) append_char(out, '^');
                else depth--;
                append_char(out, c);
            } else if (c == '"') {
                append_char(out, c);
            } else {
                mold_char(out, c, true, options.all);
            }
        }
        append_char(out, '}');
    }
    const int64_t left = static_cast<int64_t>(limit) - run - 2;
    return static_cast<int32_t>(std::max<int64_t>(left, INT32_MIN));
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    const Cell v = *value;
    const Cell target{TYPE_STRING, 0, out, 0};
    concatenate(&target, &v, part ? std::max(limit, 0) : -1, 0, true, APPEND);
    const int64_t left = static_cast<int64_t>(limit) - length(&v);
    return static_cast<int32_t>(std::max<int64_t>(left, INT32_MIN));
}

// ---- comparing ----------------------------------------------------------------------

uint32_t fold(uint32_t cp) { return unicode::to_upper(cp); }

int32_t compare_values(const Cell* a, const Cell* b, CompareOp op, bool prefix) {
    const Cell x = *a;
    const Cell y = *b;
    const bool same = series_node(x) == series_node(y) && series_index(x) == series_index(y);
    if (op == CompareOp::Same) return same ? 0 : -1;
    const bool equality = is_content_equality(op);
    if (same && equality && !prefix) return 0;
    const uint32_t len1 = length(&x);
    const uint32_t len2 = length(&y);
    uint32_t n;
    if (prefix) {
        if (len2 == 0) return op == CompareOp::Find ? 1 : 0;
        if (len1 < len2) return 1;
        n = len2;
    } else {
        if (len1 != len2 && (equality || len2 == 0)) return 1;
        n = std::min(len1, len2);
    }
    const bool folding = !is_case_sensitive(op);
    SeriesBuffer* s1 = series::buffer_of(series_node(x));
    SeriesBuffer* s2 = series::buffer_of(series_node(y));
    const uint32_t w1 = width(s1), w2 = width(s2);
    const uint8_t* p1 = series::head_ptr(s1) + static_cast<size_t>(series_index(x)) * w1;
    const uint8_t* p2 = series::head_ptr(s2) + static_cast<size_t>(series_index(y)) * w2;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c1 = read_unit(p1 + static_cast<size_t>(i) * w1, w1);
        uint32_t c2 = read_unit(p2 + static_cast<size_t>(i) * w2, w2);
        if (c1 == c2) continue;
        if (folding) {
            c1 = fold(c1);
            c2 = fold(c2);
            if (c1 == c2) continue;
        }
        return c1 > c2 ? 1 : -1;
    }
    if (prefix) return 0;
    return len1 > len2 ? 1 : len1 == len2 ? 0 : -1;
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const bool loose = op == CompareOp::Equal || op == CompareOp::NotEqual;
    if (cell::type_of(a) != cell::type_of(b) && !(is_any_string(cell::type_of(b)) && loose)) return -2;
    return compare_values(a, b, op);
}

// ---- make and to ----------------------------------------------------------------------

Cell refinement_word(const Cell* refinement) {
    Cell w = *refinement;
    cell::set_type(&w, TYPE_WORD);
    w.header &= ~cell_flag::NEW_LINE;
    return w;
}

namespace {

// binary! reaches make and to through inheritance until it has slots of its
// own; then its own conversion decides. Without one, the UTF-8 form of the
// formed value is the natural binary of a text.
Cell* to_binary(Cell* proto, Cell* spec, bool making) {
    const auto own = datatype::action<datatype::TO>(TYPE_BINARY);
    if (own && own != &string::to) return own(proto, spec, TYPE_BINARY);
    Cell* r = stack::push_slot();
    *r = Cell{TYPE_UNSET, 0, 0, 0};
    const uint32_t st = cell::type_of(spec);
    if (making && st == TYPE_INTEGER) {
        if (integer_value(spec) < 0) err::raise(err::OUT_OF_RANGE, spec);
        *r = Cell{TYPE_BINARY, 0, memory::alloc_bytes(integer_value(spec)), 0};
        return r;
    }
    Cell* text = stack::push_slot();
    make_at(text, 16);
    if (is_any_string(st)) form(spec, series_node(text), false, INT32_MAX);
    else actions::form(spec, series_node(text), false, INT32_MAX);
    const node_t bytes = unicode::to_utf8(text, -1);
    *r = Cell{TYPE_BINARY, 0, bytes, 0};
    stack::pop_n(1);
    return r;
}

}  // namespace

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    if (type == TYPE_BINARY) return to_binary(proto, spec, false);
    const uint32_t st = cell::type_of(spec);
    if (st == TYPE_NONE) {
        const Cell t = datatype_cell(type);
        err::raise(err::BAD_TO_ARG, &t, spec);
    }
    Cell* r = stack::push_slot();
    *r = Cell{TYPE_UNSET, 0, 0, 0};
    if (is_block_paren_or_hash(st)) {
        make_at(r, 16, TYPE_STRING);
        append(r, spec, -1, false, 1);
    } else if (is_any_string(st)) {
        const uint32_t from = std::min(series_index(spec), length_whole(spec));
        const node_t copy = series::copy_part(series_node(spec), from, length(spec));
        *r = Cell{TYPE_STRING, 0, copy, 0};
    } else if (st == TYPE_REFINEMENT) {
        make_at(r, 16, TYPE_STRING);
        if (type == TYPE_STRING) actions::form(spec, series_node(r), false, INT32_MAX);
        else actions::mold(spec, series_node(r), datatype::MoldOptions{}, INT32_MAX, 0);
    } else if (st == TYPE_BINARY) {
        SeriesBuffer* s = series::buffer_of(series_node(spec));
        const uint32_t total = s->tail - s->head;
        const uint32_t from = std::min(series_index(spec), total);
        const uint8_t* start = series::head_ptr(s) + from;
        if (const uint8_t* bad = unicode::find_invalid_utf8(start, start + (total - from))) {
            const uint32_t at = static_cast<uint32_t>(bad - series::head_ptr(s));
            *r = Cell{TYPE_BINARY, 0, series::copy_part(series_node(spec), at, total - at), 0};
            err::raise(err::INVALID_UTF8, r);
        }
        const unicode::Loaded text =
            unicode::load_utf8_series(series_node(spec), s->head + from, total - from, 0, false);
        *r = Cell{TYPE_STRING, 0, text.node, 0};
    } else {
        make_at(r, 16, TYPE_STRING);
        actions::form(spec, series_node(r), false, INT32_MAX);
    }
    cell::set_type(r, type);
    series_index(r) = 0;
    return r;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t st = cell::type_of(spec);
    if (type == TYPE_BINARY) {
        if (st == TYPE_MONEY) {
            const Cell t = datatype_cell(TYPE_BINARY);
            err::raise(err::BAD_MAKE_ARG, &t, spec);
        }
        return to_binary(proto, spec, true);
    }
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int64_t size;
        if (st == TYPE_INTEGER) {
            size = integer_value(spec);
        } else {
            const double d = cell::get_double(spec);
            // Written so that NaN fails too.
            if (!(d > -2147483649.0 && d < 2147483648.0)) err::raise(err::OUT_OF_RANGE, spec);
            size = static_cast<int64_t>(d);
        }
        if (size < 0) err::raise(err::OUT_OF_RANGE, spec);
        Cell* r = stack::push_slot();
        *r = Cell{TYPE_UNSET, 0, 0, 0};
        return make_at(r, static_cast<uint32_t>(size), type);
    }
    return to(proto, spec, type);
}

// ---- path access ----------------------------------------------------------------------

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const uint32_t et = cell::type_of(step.element);
    const Cell* where = step.path ? step.path : value;
    if (et == TYPE_INTEGER) {
        const int32_t position = integer_value(step.element);
        if (!step.new_value) return actions::slot<datatype::PICK>(value)(value, position, step.element);
        return actions::slot<datatype::POKE>(value)(value, position, step.new_value, step.element);
    }
    if (et == TYPE_WORD) err::raise(err::INVALID_PATH, where, step.element);
    if (!step.new_value)
        return select(value, step.element, {.case_sensitive = step.case_sensitive});
    Cell* found = find(value, step.element, {.case_sensitive = step.case_sensitive});
    if (cell::type_of(found) == TYPE_NONE) err::raise(err::BAD_PATH_SET, where, step.element);
    // The key's own first unit stays; the unit after it takes the value.
    return actions::slot<datatype::POKE>(found)(found, 2, step.new_value, nullptr);
}

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &to);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::FIND>(r, &find);
    datatype::set_slot<datatype::SELECT>(r, &select);
    datatype::set_slot<datatype::SORT>(r, &sort);
    datatype::set_slot<datatype::APPEND>(r, &append);
    datatype::set_slot<datatype::CHANGE>(r, &change);
    datatype::set_slot<datatype::INSERT>(r, &insert);
    datatype::set_slot<datatype::SWAP>(r, &swap);
    datatype::set_slot<datatype::TAKE>(r, &take);
    datatype::set_slot<datatype::TRIM>(r, &trim);
    // Not text operations: a string answers them with the unsupported-action
    // error rather than with series! behaviour.
    r.actions[datatype::SET_PATH] = nullptr;
    for (uint32_t s = datatype::ABSOLUTE; s <= datatype::XOR_T; s++) r.actions[s] = nullptr;
    r.actions[datatype::PUT] = nullptr;
    for (uint32_t s = datatype::CREATE; s <= datatype::DELETE; s++) r.actions[s] = nullptr;
    for (uint32_t s = datatype::OPEN; s <= datatype::WRITE; s++) r.actions[s] = nullptr;
}

}  // namespace qel::string
