// bitset!: the spec language of make (chars, integers, ranges, strings,
// nested blocks, a leading `not`), membership and modification, the
// bitwise and set operations, ordering and the molded text, which reads
// back through make.
//
// Modifying a bitset may move its buffer, so spec blocks and strings are
// re-read through their nodes at every step of a walk.
#include "datatypes/bitset.hpp"

#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/unicode.hpp"

namespace qel::bitset {

namespace {

constexpr uint32_t NOT = series_flag::NOT;

Cell bitset_cell(node_t n) { return Cell{TYPE_BITSET, 0, n, 0}; }
uint8_t fill_byte(node_t bits) { return is_complement(bits) ? 0xFF : 0x00; }

// A new buffer of bytes bytes, every byte of its capacity filled as the
// flag says.
node_t alloc_bits(uint32_t bytes, bool complement) {
    const node_t n = memory::alloc_bytes_filled(bytes, complement ? 0xFF : 0x00);
    SeriesBuffer* s = series::buffer_of(n);
    s->tail = s->head + bytes;
    if (complement) s->flags |= NOT;
    return n;
}

// A copy with the same bytes and flags; the spare capacity is set to follow
// the flag, which a plain series copy leaves undefined.
node_t copy_bits(node_t src) {
    const node_t n = memory::copy_series(series::buffer_of(src));
    SeriesBuffer* s = series::buffer_of(n);
    memory::fill_range(series::tail_ptr(s), series::end_ptr(s), fill_byte(n));
    return n;
}

void report(const Cell* bitset, const Cell* action, const Cell* value) {
    if (series::flags_of(series_node(bitset)) & series_flag::OWNED)
        owner::check_change(bitset, action, value ? value : &shared::none, 0, 0);
}

}  // namespace

// ---- storage -----------------------------------------------------------------

uint8_t* data_ptr(const Cell* bitset) { return series::head_ptr(series::buffer_of(series_node(bitset))); }

uint32_t byte_length(node_t bits) {
    SeriesBuffer* s = series::buffer_of(bits);
    return s->tail - s->head;
}

bool is_complement(node_t bits) { return series::flags_of(bits) & NOT; }

void grow_to(node_t bits, uint32_t n) {
    const uint32_t need = (n >> 3) + 1;
    SeriesBuffer* s = series::buffer_of(bits);
    if (s->head + need > s->size) {
        const uint8_t fill = fill_byte(bits);
        s = memory::expand_series(s, need);
        memory::fill_range(series::tail_ptr(s), series::end_ptr(s), fill);
    }
    if (s->tail - s->head < need) s->tail = s->head + need;
}

bool out_of_range(node_t bits, int64_t n) { return n < 0 || (n >> 3) >= byte_length(bits); }

void invert_bytes(node_t bits) {
    SeriesBuffer* s = series::buffer_of(bits);
    for (uint8_t* p = series::data(s); p < series::end_ptr(s); p++) *p = static_cast<uint8_t>(~*p);
}

bool has(const Cell* bitset, int64_t n) {
    const node_t bits = series_node(bitset);
    if (n < 0) return false;
    if (out_of_range(bits, n)) return is_complement(bits);
    return data_ptr(bitset)[n >> 3] & (0x80u >> (n & 7));
}

// ---- walking specs -------------------------------------------------------------

namespace {

[[noreturn]] void bad_value(const Cell* value, Mode mode) {
    const Cell type = datatype_cell(TYPE_BITSET);
    switch (mode) {
        case MAKE_MODE: err::raise(err::BAD_MAKE_ARG, &type, value);
        case TO_MODE: err::raise(err::BAD_TO_ARG, &type, value);
        default: err::raise(err::INVALID_ARG, value);
    }
}

// One member; value is what the error names.
int32_t single(node_t bits, int64_t v, Op op, const Cell* value) {
    if (v < 0) {
        if (op == TEST) return 0;
        err::raise(err::OUT_OF_RANGE, value);
    }
    const auto n = static_cast<uint32_t>(v);
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (n & 7));
    switch (op) {
        case MEASURE:
            return static_cast<int32_t>(n);
        case SET:
            if (out_of_range(bits, n)) {
                if (is_complement(bits)) return static_cast<int32_t>(n);  // already a member
                grow_to(bits, n);
            }
            series::head_ptr(series::buffer_of(bits))[n >> 3] |= mask;
            return static_cast<int32_t>(n);
        case TEST:
            if (out_of_range(bits, n)) return is_complement(bits) ? 1 : 0;
            return series::head_ptr(series::buffer_of(bits))[n >> 3] & mask ? 1 : 0;
        case CLEAR:
            if (out_of_range(bits, n)) {
                if (!is_complement(bits)) return static_cast<int32_t>(n);  // already absent
                grow_to(bits, n);
            }
            series::head_ptr(series::buffer_of(bits))[n >> 3] &= static_cast<uint8_t>(~mask);
            return static_cast<int32_t>(n);
    }
    rt::runtime_error(rt::code::NO_SWITCH, rt::here());
}

bool is_dash(const Cell* c) {
    return cell::type_of(c) == TYPE_WORD && word_symbol(c) == words::sym_dash;
}

Cell block_at(node_t n, uint32_t i) { return series::head_cell(series::buffer_of(n))[i]; }

// The member a char! or an integer! names.
int32_t member_of(const Cell& c) {
    return cell::type_of(&c) == TYPE_CHAR ? static_cast<int32_t>(char_code(c)) : integer_value(c);
}

// The highest member met (-1 for none), or for test 1 / 0.
int32_t walk(const Cell* value, node_t bits, Op op, Mode mode);

int32_t walk_block(const Cell* block, node_t bits, Op op, Mode mode) {
    const node_t n = series_node(block);
    int32_t highest = -1;
    for (uint32_t i = series_index(block); i < series::buffer_length(n); i++) {
        const Cell item = block_at(n, i);
        const uint32_t t = cell::type_of(&item);
        int32_t r;
        if ((t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < series::buffer_length(n)) {
            const Cell next = block_at(n, i + 1);
            if (!is_dash(&next)) {
                r = walk(&item, bits, op, mode);
            } else {
                if (i + 2 >= series::buffer_length(n)) err::raise(err::PAST_END);
                const Cell end = block_at(n, i + 2);
                if (cell::type_of(&end) != t) err::raise(err::INVALID_ARG, &end);
                const int32_t low = member_of(item), high = member_of(end);
                if (high < low) err::raise(err::PAST_END);
                if (low < 0 && op != TEST) err::raise(err::OUT_OF_RANGE, &item);
                r = process_range(bits, low, high, op);
                i += 2;
            }
        } else {
            r = walk(&item, bits, op, mode);
        }
        if (op == TEST) {
            if (r == 0) return 0;
        } else if (r > highest) {
            highest = r;
        }
    }
    return op == TEST ? 1 : highest;
}

int32_t walk(const Cell* value, node_t bits, Op op, Mode mode) {
    const Cell v = *value;
    switch (cell::type_of(&v)) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            return single(bits, member_of(v), op, &v);
        case TYPE_FLOAT: {
            const double d = cell::get_double(&v);
            if (!(d > -2147483649.0 && d < 2147483648.0)) {
                if (op == TEST) return 0;
                err::raise(err::OUT_OF_RANGE, &v);
            }
            return single(bits, static_cast<int64_t>(d), op, &v);
        }
        case TYPE_STRING:
            return process_string(&v, bits, op);
        case TYPE_BLOCK:
            return walk_block(&v, bits, op, mode);
        case TYPE_BINARY:
            err::raise(err::NOT_DONE);
        default:
            bad_value(&v, mode);
    }
}

uint32_t bytes_for(int32_t highest) {
    const int64_t b = (static_cast<int64_t>(highest) + 8) >> 3;
    return b < 1 ? 1u : static_cast<uint32_t>(b);
}

}  // namespace

int32_t process_range(node_t bits, int32_t low, int32_t high, Op op) {
    if (op == MEASURE) return high;
    // Grown once up front rather than byte by byte.
    if (op == SET && !is_complement(bits) && high >= 0) grow_to(bits, static_cast<uint32_t>(high));
    if (op == CLEAR && is_complement(bits) && high >= 0) grow_to(bits, static_cast<uint32_t>(high));
    for (int64_t n = low; n <= high; n++) {
        const Cell v{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0};
        const int32_t r = single(bits, n, op, &v);
        if (op == TEST && r == 0) return 0;
    }
    return op == TEST ? 1 : high;
}

int32_t process_string(const Cell* string, node_t bits, Op op) {
    const node_t n = series_node(string);
    int32_t highest = -1;
    for (uint32_t i = series_index(string); i < series::buffer_length(n); i++) {
        const uint32_t cp = unicode::codepoint_at(n, i);
        const Cell v{TYPE_CHAR, 0, cp, 0};
        const int32_t r = single(bits, cp, op, &v);
        if (op == TEST && r == 0) return 0;
        if (r > highest) highest = r;
    }
    return op == TEST ? 1 : highest;
}

int32_t process(const Cell* value, node_t bits, Op op, bool nested, Mode mode) {
    const int32_t r = walk(value, bits, op, mode);
    if (nested || op == TEST || op == CLEAR) return r;
    const uint32_t bytes = bytes_for(r);
    if (op == SET && !is_complement(bits)) {
        SeriesBuffer* s = series::buffer_of(bits);
        if (s->tail - s->head < bytes) grow_to(bits, bytes * 8 - 1);
    }
    return static_cast<int32_t>(bytes);
}

// ---- making ----------------------------------------------------------------------

Cell* from_spec(Cell* result, const Cell* spec, Mode mode) {
    Cell s = *spec;
    bool complement = false;
    if (cell::type_of(&s) == TYPE_BLOCK && series::length_of(&s) > 0) {
        const Cell first = block_at(series_node(s), series_index(s));
        if (cell::type_of(&first) == TYPE_WORD && word_symbol(first) == words::sym_not) {
            complement = true;
            series_index(s)++;
            if (series::length_of(&s) > 0) {
                const Cell next = block_at(series_node(s), series_index(s));
                if (cell::type_of(&next) == TYPE_BINARY) s = next;
            }
        }
    }
    node_t n;
    switch (cell::type_of(&s)) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (mode == TO_MODE) bad_value(&s, TO_MODE);
            int64_t bits_wanted;
            if (cell::type_of(&s) == TYPE_INTEGER) {
                bits_wanted = integer_value(s);
            } else {
                const double d = cell::get_double(&s);
                if (!(d >= -2147483648.0 && d <= 2147483647.0)) {
                    const Cell type = datatype_cell(TYPE_INTEGER);
                    err::raise(err::TYPE_LIMIT, &type);
                }
                bits_wanted = static_cast<int64_t>(d);
            }
            if (bits_wanted < 0) err::raise(err::OUT_OF_RANGE, &s);
            n = alloc_bits(static_cast<uint32_t>((bits_wanted + 7) / 8), false);
            break;
        }
        case TYPE_BITSET:
            n = copy_bits(series_node(s));
            break;
        case TYPE_BINARY: {
            const uint32_t len = static_cast<uint32_t>(series::length_of(&s));
            n = alloc_bits(len, complement);
            const uint8_t* src = series::head_ptr(series::buffer_of(series_node(s))) + series_index(s);
            uint8_t* dst = series::head_ptr(series::buffer_of(n));
            for (uint32_t i = 0; i < len; i++) dst[i] = complement ? static_cast<uint8_t>(~src[i]) : src[i];
            break;
        }
        default: {
            const auto bytes = static_cast<uint32_t>(process(&s, 0, MEASURE, false, mode));
            n = alloc_bits(bytes, complement);
            process(&s, n, complement ? CLEAR : SET, false, mode);
            break;
        }
    }
    *result = bitset_cell(n);
    return result;
}

// ---- binary operations ------------------------------------------------------------

void do_bitwise(SetOp code) {
    Cell* a = stack::arg_base;
    if (code == SetOp::Unique) return;  // unique: a set has no duplicates
    const Cell* b = a + 1;
    if (cell::type_of(b) != TYPE_BITSET) {
        const Cell type = datatype_cell(cell::type_of(b));
        err::raise(err::INVALID_TYPE, &type);
    }
    const node_t na = series_node(a), nb = series_node(b);
    const uint32_t la = byte_length(na), lb = byte_length(nb);
    const uint32_t lmax = la > lb ? la : lb, lmin = la < lb ? la : lb;
    // Exactly one flag set gives a complement result, whatever the code.
    const bool complement = is_complement(na) != is_complement(nb);
    const node_t r = alloc_bits(lmax, false);
    const uint8_t* pa = series::head_ptr(series::buffer_of(na));
    const uint8_t* pb = series::head_ptr(series::buffer_of(nb));
    uint8_t* pr = series::head_ptr(series::buffer_of(r));
    for (uint32_t i = 0; i < lmin; i++) {
        switch (code) {
            case SetOp::Union: pr[i] = pa[i] | pb[i]; break;
            case SetOp::Intersect: pr[i] = pa[i] & pb[i]; break;
            case SetOp::Difference: pr[i] = pa[i] ^ pb[i]; break;
            case SetOp::Exclude: pr[i] = pa[i] & static_cast<uint8_t>(~pb[i]); break;
            default: rt::runtime_error(rt::code::NO_SWITCH, rt::here());
        }
    }
    const uint8_t* longer = la > lb ? pa : pb;
    const bool copy_rest =
        code == SetOp::Union || code == SetOp::Difference || (code == SetOp::Exclude && la > lb);
    if (copy_rest)
        for (uint32_t i = lmin; i < lmax; i++) pr[i] = longer[i];
    if (complement) {
        SeriesBuffer* s = series::buffer_of(r);
        s->flags |= NOT;
        memory::fill_range(series::tail_ptr(s), series::end_ptr(s), 0xFF);
    }
    *a = bitset_cell(r);
}

// ---- actions ------------------------------------------------------------------------

namespace {

Cell* make(Cell* proto, Cell* spec, uint32_t) { return from_spec(proto, spec, MAKE_MODE); }
Cell* to(Cell* proto, Cell* spec, uint32_t) { return from_spec(proto, spec, TO_MODE); }

Cell* reflect(Cell* value, int32_t field) {
    if (field != words::sym_owned) err::raise(err::NOT_DONE);
    const Cell* o = owner::find(value);
    if (!o) {
        *value = shared::none;
        return value;
    }
    const Cell obj = o[0], word = o[1];
    const node_t n = memory::alloc_cells(2);
    const Cell block{TYPE_BLOCK, 0, n, 0};
    *series::reserve_cell(&block) = obj;
    *series::reserve_cell(&block) = word;
    *value = block;
    return value;
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    const node_t bits = series_node(value);
    const bool complement = is_complement(bits);
    text::append_latin1(out, "make bitset! ", 13);
    limit -= 13;
    if (complement) {
        text::append_latin1(out, "[not ", 5);
        limit -= 5;
    }
    text::append_latin1(out, "#{", 2);
    limit -= 2;
    static const char hex[] = "0123456789ABCDEF";
    const uint32_t len = byte_length(bits);
    for (uint32_t i = 0; i < len; i++) {
        // Re-read each time: appending may collect, which moves buffers.
        uint8_t b = series::head_ptr(series::buffer_of(bits))[i];
        if (complement) b = static_cast<uint8_t>(~b);
        const char pair[2] = {hex[b >> 4], hex[b & 15]};
        text::append_latin1(out, pair, 2);
        limit -= 2;
        if (part && limit < 0) return limit;
    }
    text::append_latin1(out, "}", 1);
    limit -= 1;
    if (complement) {
        text::append_latin1(out, "]", 1);
        limit -= 1;
    }
    return limit;
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return form(value, out, options.part, limit);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_BITSET) return -2;
    if (op == CompareOp::Same) return series_node(a) == series_node(b) ? 0 : 1;
    const node_t na = series_node(a), nb = series_node(b);
    const uint32_t la = byte_length(na), lb = byte_length(nb);
    if (la != lb) return la < lb ? -1 : 1;
    if (la == 0) return 0;
    const bool ca = is_complement(na), cb = is_complement(nb);
    if (ca != cb) return ca ? 1 : -1;
    const uint8_t* pa = series::head_ptr(series::buffer_of(na));
    const uint8_t* pb = series::head_ptr(series::buffer_of(nb));
    for (uint32_t i = la; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return 0;
}

Cell* complement(Cell* value) {
    const node_t n = copy_bits(series_node(value));
    series::buffer_of(n)->flags ^= NOT;
    invert_bytes(n);
    *value = bitset_cell(n);
    return value;
}

void and_action() { do_bitwise(SetOp::Intersect); }
void or_action() { do_bitwise(SetOp::Union); }
void xor_action() { do_bitwise(SetOp::Difference); }

Cell* append(Cell* series, Cell* value, int32_t, bool, int32_t) {
    process(value, series_node(series), SET, false, OTHER_MODE);
    report(series, words::w_append, value);
    return series;
}

Cell* clear(Cell* series) {
    const node_t n = series_node(series);
    SeriesBuffer* s = series::buffer_of(n);
    memory::fill_range(series::head_ptr(s), series::tail_ptr(s), fill_byte(n));
    report(series, words::w_clear, nullptr);
    return series;
}

Cell* copy(Cell* value, Cell* result, Cell*, bool, Cell*) {
    *result = bitset_cell(copy_bits(series_node(value)));
    return result;
}

Cell* pick(Cell* series, int32_t index, Cell* index_cell) {
    const Cell i = index_cell ? *index_cell : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
    return process(&i, series_node(series), TEST, false, OTHER_MODE) ? &shared::true_value : &shared::false_value;
}

Cell* find(Cell* series, Cell* value, const datatype::FindOptions&) {
    return process(value, series_node(series), TEST, false, OTHER_MODE) ? &shared::true_value : &shared::none;
}

int32_t length_q(Cell* series) { return static_cast<int32_t>(byte_length(series_node(series)) * 8); }

bool clears(const Cell* v) {
    switch (cell::type_of(v)) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return logic_value(v) == 0;
        case TYPE_INTEGER: return integer_value(v) == 0;
        case TYPE_FLOAT: return cell::get_double(v) == 0.0;
        default: return false;
    }
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    const Cell i = index_cell ? *index_cell : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
    process(&i, series_node(series), clears(value) ? CLEAR : SET, false, OTHER_MODE);
    report(series, words::w_poke, value);
    return value;
}

Cell* remove(Cell* series, Cell* part, Cell*) {
    if (!part) err::raise(err::MISSING_ARG);
    // Stored bits are the membership either way; a complement bitset's
    // remove sets them, which is how removal has always behaved there.
    process(part, series_node(series), is_complement(series_node(series)) ? SET : CLEAR, false, OTHER_MODE);
    report(series, words::w_remove, part);
    return series;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (word_symbol(field) != words::sym_owned) err::raise(err::NOT_DONE);
    if (cell::type_of(value) == TYPE_NONE) {
        owner::remove_deep(target);
    } else if (cell::type_of(value) == TYPE_BLOCK && series::length_of(value) >= 2) {
        const Cell obj = block_at(series_node(value), series_index(value));
        const Cell word = block_at(series_node(value), series_index(value) + 1);
        owner::attach(&obj, &word, target);
    } else {
        err::raise(err::INVALID_ARG, value);
    }
    return target;
}

Cell* path_value(Cell* value, const datatype::PathStep& step) {
    const uint32_t t = cell::type_of(step.element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        const Cell type = datatype_cell(t);
        err::raise(err::INVALID_TYPE, &type);
    }
    if (!step.new_value) return pick(value, 0, step.element);
    return poke(value, 0, step.new_value, step.element);
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::REFLECT>(r, &reflect);
    datatype::set_slot<datatype::TO>(r, &to);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::EVAL_PATH>(r, &path_value);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::NEGATE>(r, &complement);
    datatype::set_slot<datatype::COMPLEMENT>(r, &complement);
    datatype::set_slot<datatype::AND_T>(r, &and_action);
    datatype::set_slot<datatype::OR_T>(r, &or_action);
    datatype::set_slot<datatype::XOR_T>(r, &xor_action);
    datatype::set_slot<datatype::APPEND>(r, &append);
    datatype::set_slot<datatype::INSERT>(r, &append);
    datatype::set_slot<datatype::CLEAR>(r, &clear);
    datatype::set_slot<datatype::COPY>(r, &copy);
    datatype::set_slot<datatype::FIND>(r, &find);
    datatype::set_slot<datatype::LENGTH_Q>(r, &length_q);
    datatype::set_slot<datatype::PICK>(r, &pick);
    datatype::set_slot<datatype::POKE>(r, &poke);
    datatype::set_slot<datatype::REMOVE>(r, &remove);
    datatype::set_slot<datatype::MODIFY>(r, &modify);
}

}  // namespace qel::bitset
