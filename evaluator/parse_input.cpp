// The parse engine's input work: literal matching, one-pass repetition and
// searching over the units of the input (1, 2 or 4 bytes for text, bytes
// for binary!, cells for blocks), datatype matching, and the copies and
// modifications of matched stretches.
//
// The matching loops read the buffers straight through their nodes and
// allocate nothing, so they hold buffer addresses only within one call.
// Text compared without case goes through string::fold, the one fold of
// every case-insensitive text comparison.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_search.hpp"
#include "datatypes/typeset.hpp"
#include "runtime/actions.hpp"
#include "evaluator/parse_input.hpp"
#include "runtime/stack.hpp"
#include "lexer/scanner.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace qel::parse {

namespace {

constexpr Cell NONE{TYPE_NONE, 0, 0, 0};

inline uint32_t unit_width(const SeriesBuffer* s) { return series::unit(s); }

inline uint32_t read(const uint8_t* p, uint32_t w) { return string::read_unit(p, w); }

// The unit at index of a text or binary buffer.
inline uint32_t unit_at(node_t n, uint32_t index) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint32_t w = unit_width(s);
    return read(series::head_ptr(s) + static_cast<size_t>(index) * w, w);
}

// A bitset! rule read straight from its buffer: its bits, and the answer
// for a unit beyond them (set for a complemented bitset).
struct Charset {
    const uint8_t* bits;
    uint64_t count;
    bool outside;
    explicit Charset(const Cell* v) {
        SeriesBuffer* b = series::buffer_of(series_node(v));
        bits = series::head_ptr(b);
        count = static_cast<uint64_t>(b->tail - b->head) * 8;
        outside = (b->flags & series_flag::NOT) != 0;
    }
    bool has(uint32_t c) const { return c < count ? (bits[c >> 3] & (0x80u >> (c & 7))) != 0 : outside; }
};

inline bool is_text_rule(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

inline uint32_t text_length(const Cell* v) { return string::length(v); }

inline bool same_char(uint32_t a, uint32_t b, bool strict) {
    return a == b || (!strict && string::fold(a) == string::fold(b));
}

// The bytes a value stands for in a binary input: a binary's own bytes, the
// UTF-8 form of a text (with its brackets for a tag). false for values that
// have no byte form.
bool bytes_of(const Cell* v, std::vector<uint8_t>& out) {
    const uint32_t t = cell::type_of(v);
    if (t == TYPE_BINARY) {
        const uint32_t tot = series::buffer_length(series_node(v));
        const uint32_t from = std::min(series_index(v), tot);
        SeriesBuffer* s = series::buffer_of(series_node(v));
        out.assign(series::head_ptr(s) + from, series::head_ptr(s) + tot);
        return true;
    }
    if (is_text_rule(t) || t == TYPE_TAG) {
        out.assign(unicode::utf8_length(v, -1) + 1, 0);
        out.resize(unicode::write_utf8(v, -1, out.data(), false));
        if (t == TYPE_TAG) {
            out.insert(out.begin(), '<');
            out.push_back('>');
        }
        return true;
    }
    return false;
}

bool bytes_at(const Cell* in, uint32_t index, const std::vector<uint8_t>& b, uint32_t end) {
    if (static_cast<uint64_t>(index) + b.size() > end) return false;
    SeriesBuffer* s = series::buffer_of(series_node(in));
    return b.empty() || std::memcmp(series::head_ptr(s) + index, b.data(), b.size()) == 0;
}

// A cell of a block input against a rule value: lit-word! and lit-path!
// rules match words and paths of the same spelling.
bool cell_matches(const Cell* element, const Cell* v, CompareOp code) {
    const uint32_t t = cell::type_of(v);
    CompareOp op = code;
    if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH)
        op = code == CompareOp::StrictEqual ? CompareOp::WordCase : CompareOp::Word;
    return actions::compare(element, v, op);
}

int64_t match_text(const Cell* in, const Cell* v, CompareOp code, uint32_t end) {
    const uint32_t index = series_index(in);
    const uint32_t t = cell::type_of(v);
    const bool strict = code == CompareOp::StrictEqual;
    const CompareOp text_op = strict ? CompareOp::StrictEqual : CompareOp::Equal;
    if (index >= end) return is_text_rule(t) && t != TYPE_EMAIL && t != TYPE_REF && text_length(v) == 0 ? 0 : -1;
    switch (t) {
        case TYPE_BITSET:
            return Charset(v).has(unit_at(series_node(in), index)) ? 1 : -1;
        case TYPE_CHAR:
            return same_char(unit_at(series_node(in), index), char_code(v), strict) ? 1 : -1;
        case TYPE_TAG: {
            const uint32_t n = text_length(v);
            if (static_cast<uint64_t>(index) + n + 2 > end) return -1;
            if (unit_at(series_node(in), index) != '<' || unit_at(series_node(in), index + n + 1) != '>') return -1;
            Cell at = *in;
            series_index(at) = index + 1;
            return string::compare_values(&at, v, text_op, true) == 0 ? int64_t{n} + 2 : -1;
        }
        default:
            if (!is_text_rule(t)) return -1;
            const uint32_t n = text_length(v);
            if (static_cast<uint64_t>(index) + n > end) return -1;
            return string::compare_values(in, v, text_op, true) == 0 ? int64_t{n} : -1;
    }
}

int64_t match_bytes(const Cell* in, const Cell* v, uint32_t end) {
    const uint32_t index = series_index(in);
    const uint32_t t = cell::type_of(v);
    if (index >= end) return (t == TYPE_BINARY || is_text_rule(t)) && series::length_of(v) <= 0 ? 0 : -1;
    switch (t) {
        case TYPE_BITSET:
            return Charset(v).has(unit_at(series_node(in), index)) ? 1 : -1;
        case TYPE_CHAR:
            return unit_at(series_node(in), index) == char_code(v) ? 1 : -1;
        default: {
            std::vector<uint8_t> b;
            if (!bytes_of(v, b)) return -1;
            return bytes_at(in, index, b, end) ? static_cast<int64_t>(b.size()) : -1;
        }
    }
}

// The one-pass loops of the common repetitions.
template <class Test>
uint32_t run_units(const Cell* in, uint32_t end, int64_t max, uint32_t* to, Test test) {
    SeriesBuffer* s = series::buffer_of(series_node(in));
    const uint32_t w = unit_width(s);
    const uint8_t* p = series::head_ptr(s);
    uint32_t i = series_index(in);
    uint32_t stop = end;
    if (max >= 0 && static_cast<uint64_t>(i) + static_cast<uint64_t>(max) < stop) stop = i + static_cast<uint32_t>(max);
    switch (w) {
        case 1: while (i < stop && test(p[i])) i++; break;
        case 2: while (i < stop && test(read(p + static_cast<size_t>(i) * 2, 2))) i++; break;
        default: while (i < stop && test(read(p + static_cast<size_t>(i) * 4, 4))) i++; break;
    }
    *to = i;
    return i - series_index(in);
}

}  // namespace

bool is_plain(uint32_t t) {
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD:
        case TYPE_INTEGER: case TYPE_DATATYPE: case TYPE_TYPESET: case TYPE_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_UNSET:
            return false;
        default:
            return true;
    }
}

int64_t match_literal(const Cell* in, const Cell* v, CompareOp code, uint32_t end) {
    switch (kind_of(cell::type_of(in))) {
        case Kind::TEXT: return match_text(in, v, code, end);
        case Kind::BYTES: return match_bytes(in, v, end);
        case Kind::CELLS: {
            if (series_index(in) >= end) return -1;
            const Cell element = *(series::cells_of(series_node(in)) + series_index(in));
            return cell_matches(&element, v, code) ? 1 : -1;
        }
    }
    return -1;
}

uint32_t repeat_literal(const Cell* in, const Cell* v, CompareOp code, uint32_t end, int64_t max, uint32_t* to) {
    const Kind k = kind_of(cell::type_of(in));
    const uint32_t t = cell::type_of(v);
    if (series_index(in) >= end) {
        *to = series_index(in);
        // An empty text rule matches at the end, once.
        return max != 0 && match_literal(in, v, code, end) == 0 ? 1 : 0;
    }
    if (k != Kind::CELLS && t == TYPE_BITSET) {
        const Charset set(v);
        return run_units(in, end, max, to, [&](uint32_t c) { return set.has(c); });
    }
    if (k == Kind::TEXT && t == TYPE_CHAR) {
        const uint32_t want = char_code(v);
        if (code == CompareOp::StrictEqual) return run_units(in, end, max, to, [&](uint32_t c) { return c == want; });
        const uint32_t folded = string::fold(want);
        return run_units(in, end, max, to, [&](uint32_t c) { return c == want || string::fold(c) == folded; });
    }
    if (k == Kind::BYTES && t == TYPE_CHAR) {
        const uint32_t want = char_code(v);
        return run_units(in, end, max, to, [&](uint32_t c) { return c == want; });
    }
    Cell at = *in;
    uint32_t n = 0;
    while (max < 0 || n < max) {
        const int64_t step = match_literal(&at, v, code, end);
        if (step < 0) break;
        n++;
        series_index(at) += static_cast<uint32_t>(step);
        if (step == 0) break;
    }
    *to = series_index(at);
    return n;
}

bool search(const Cell* in, const Cell* v, CompareOp code, uint32_t end, uint32_t* at, uint32_t* length) {
    const Kind k = kind_of(cell::type_of(in));
    const uint32_t t = cell::type_of(v);
    const uint32_t from = series_index(in);
    if (k == Kind::CELLS) {
        for (uint32_t i = from; i < end; i++) {
            const Cell element = *(series::cells_of(series_node(in)) + i);
            if (cell_matches(&element, v, code)) {
                *at = i;
                *length = 1;
                return true;
            }
        }
        return false;
    }
    if (t == TYPE_BITSET || t == TYPE_CHAR) {
        uint32_t to;
        // The first unit that matches: the run of units that do not.
        const bool strict = code == CompareOp::StrictEqual || k == Kind::BYTES;
        const uint32_t want = t == TYPE_CHAR ? char_code(v) : 0;
        const uint32_t folded = string::fold(want);
        if (t == TYPE_BITSET)
            run_units(in, end, -1, &to, [set = Charset(v)](uint32_t c) { return !set.has(c); });
        else if (strict)
            run_units(in, end, -1, &to, [&](uint32_t c) { return c != want; });
        else
            run_units(in, end, -1, &to, [&](uint32_t c) { return c != want && string::fold(c) != folded; });
        if (to >= end) return false;
        *at = to;
        *length = 1;
        return true;
    }
    if (k == Kind::BYTES) {
        std::vector<uint8_t> b;
        if (t == TYPE_INTEGER) {
            const int32_t byte = integer_value(v);
            if (byte < 0 || byte > 255) err::raise(err::PARSE_RULE, v);
            b.push_back(static_cast<uint8_t>(byte));
        } else if (!bytes_of(v, b)) {
            err::raise(err::PARSE_RULE, v);
        }
        for (uint64_t i = from; i + b.size() <= end; i++)
            if (bytes_at(in, static_cast<uint32_t>(i), b, end)) {
                *at = static_cast<uint32_t>(i);
                *length = static_cast<uint32_t>(b.size());
                return true;
            }
        return false;
    }
    if (!is_text_rule(t) && t != TYPE_TAG) err::raise(err::PARSE_RULE, v);
    // Text: a candidate is a position whose first unit could start the
    // match; the whole match is checked from there.
    const uint32_t n = text_length(v);
    uint32_t first = 0;
    if (t == TYPE_TAG) first = '<';
    else if (n > 0) first = string::char_at(v, series_index(v));
    const bool strict = code == CompareOp::StrictEqual;
    Cell probe = *in;
    for (uint64_t i = from; i <= end; i++) {
        if (n > 0 || t == TYPE_TAG) {
            if (i >= end) break;
            if (!same_char(unit_at(series_node(in), static_cast<uint32_t>(i)), first, strict)) continue;
        }
        series_index(probe) = static_cast<uint32_t>(i);
        const int64_t m = match_text(&probe, v, code, end);
        if (m >= 0) {
            *at = static_cast<uint32_t>(i);
            *length = static_cast<uint32_t>(m);
            return true;
        }
    }
    return false;
}

int64_t match_type(const Cell* in, const Cell* v, uint32_t end) {
    const Kind k = kind_of(cell::type_of(in));
    if (k == Kind::TEXT) err::raise(err::PARSE_UNSUPPORTED);
    if (series_index(in) >= end) return -1;
    auto fits = [&](uint32_t type) {
        return cell::type_of(v) == TYPE_DATATYPE ? type == datatype_id(v) : typeset::has(v, type);
    };
    if (k == Kind::CELLS) {
        const Cell element = *(series::cells_of(series_node(in)) + series_index(in));
        return fits(cell::type_of(&element)) ? 1 : -1;
    }
    // Bytes: one value scanned as source text, from bytes staged outside
    // the series frames (the scan may allocate).
    SeriesBuffer* s = series::buffer_of(series_node(in));
    std::vector<uint8_t> text(series::head_ptr(s) + series_index(in), series::head_ptr(s) + end);
    text.push_back(0);
    uint32_t consumed = 0;
    const uint32_t type = lexer::scan(text.data(), static_cast<uint32_t>(text.size() - 1), nullptr, lexer::M_SCAN,
                                      false, nullptr, nullptr, &consumed);
    if (type == 0 || type == TYPE_ERROR || !fits(type) || consumed == 0) return -1;
    return consumed;
}

Cell element_at(const Cell* in, uint32_t index) {
    switch (kind_of(cell::type_of(in))) {
        case Kind::TEXT: return Cell{TYPE_CHAR, 0, unit_at(series_node(in), index), 0};
        case Kind::BYTES: return Cell{TYPE_INTEGER, 0, unit_at(series_node(in), index), 0};
        case Kind::CELLS: {
            Cell c = *(series::cells_of(series_node(in)) + index);
            cell::clear_new_line(&c);
            return c;
        }
    }
    return NONE;
}

Cell* push_copy(const Cell* in, uint32_t from, uint32_t to) {
    Cell* const mark = stack::arg_top;
    Cell* series = stack::push(in);
    series_index(series) = from;
    const Cell count{TYPE_INTEGER, 0, to > from ? to - from : 0, 0};
    Cell* part = stack::push(&count);
    Cell* result = stack::push(&shared::unset);
    const Cell copy = *actions::slot<datatype::COPY>(series)(series, result, part, false, nullptr);
    stack::arg_top = mark;
    return stack::push(&copy);
}

int64_t remove_units(const Cell* in, uint32_t at, uint32_t count) {
    const int64_t before = total(in);
    Cell* const mark = stack::arg_top;
    Cell* series = stack::push(in);
    series_index(series) = at;
    const Cell n{TYPE_INTEGER, 0, count, 0};
    Cell* part = stack::push(&n);
    actions::slot<datatype::REMOVE>(series)(series, part, nullptr);
    stack::arg_top = mark;
    return static_cast<int64_t>(total(in)) - before;
}

int64_t insert_value(const Cell* in, uint32_t at, const Cell* value, bool only) {
    const int64_t before = total(in);
    Cell* const mark = stack::arg_top;
    Cell* series = stack::push(in);
    series_index(series) = at;
    Cell* v = stack::push(value);
    actions::slot<datatype::INSERT>(series)(series, v, -1, only, 1);
    stack::arg_top = mark;
    return static_cast<int64_t>(total(in)) - before;
}

int64_t change_units(const Cell* in, uint32_t at, uint32_t count, const Cell* value, bool only) {
    const int64_t before = total(in);
    Cell* const mark = stack::arg_top;
    Cell* series = stack::push(in);
    series_index(series) = at;
    Cell* v = stack::push(value);
    actions::slot<datatype::CHANGE>(series)(series, v, static_cast<int32_t>(count), only, 1);
    stack::arg_top = mark;
    return static_cast<int64_t>(total(in)) - before;
}

void keep_value(Cell* target, const Cell* value, bool at_index, bool each) {
    const bool cells = is_block_like(cell::type_of(target));
    const bool only = cells && !(each && is_block_like(cell::type_of(value)));
    const int64_t before = total(target);
    Cell* const mark = stack::arg_top;
    Cell* series = stack::push(target);
    Cell* v = stack::push(value);
    const auto insert = at_index ? actions::slot<datatype::INSERT>(series) : actions::slot<datatype::APPEND>(series);
    insert(series, v, -1, only, 1);
    stack::arg_top = mark;
    if (at_index) series_index(target) += static_cast<uint32_t>(static_cast<int64_t>(total(target)) - before);
}

}  // namespace qel::parse
