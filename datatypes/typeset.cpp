// typeset!: building typesets from blocks of types, their bitwise and set
// operations, membership, ordering and their text. A typeset has no buffer:
// every operation works on the 96 payload bits and answers a new cell.
#include "datatypes/typeset.hpp"

#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"

namespace qel::typeset {

namespace {

uint32_t& word_of(Cell* ts, uint32_t type) { return payload_word(ts, type >> 5); }

// The bit of a type inside its payload word: the byte's place in the
// word (little-endian) plus the bit's place in the byte (high bit first).
uint32_t mask_of(uint32_t type) { return (0x80u >> (type & 7)) << (8 * ((type >> 3) & 3)); }

Cell make_empty() { return Cell{TYPE_TYPESET, 0, 0, 0}; }

// A word's value; the no-value error names the word.
Cell resolved(const Cell* value) {
    if (cell::type_of(value) != TYPE_WORD) return *value;
    Cell w = *value;
    const Cell v = *word::get(&w);
    if (cell::type_of(&v) == TYPE_UNSET) err::raise(err::NO_VALUE, &w);
    return v;
}

void or_in(Cell* ts, const Cell* other) {
    for (uint32_t i = 0; i < 3; i++) payload_word(ts, i) |= payload_word(other, i);
}

// A copy of the typeset at the block's tail (valid until the next
// allocation).
Cell* append_copy(const Cell* block, const Cell& ts) {
    Cell* c = series::reserve_cell(block);
    *c = ts;
    return c;
}

}  // namespace


void set_bit(Cell* ts, uint32_t type) {
    if (type < BITS) word_of(ts, type) |= mask_of(type);
}

int32_t count(const Cell* ts) {
    int32_t n = 0;
    for (uint32_t t = 1; t <= datatype::highest() && t < BITS; t++) n += has(ts, t);
    return n;
}

Cell* append_all_types(const Cell* block) {
    Cell ts{TYPE_TYPESET, ~0u, ~0u, ~0u};
    word_of(&ts, TYPE_UNSET) &= ~mask_of(TYPE_UNSET);
    return append_copy(block, ts);
}

Cell* append_from_block(const Cell* block, const Cell* spec) {
    // Built aside first: appending may move the spec's buffer too.
    Cell ts = make_empty();
    const node_t n = series_node(spec);
    const uint32_t len = series::buffer_length(n);
    for (uint32_t i = series_index(spec); i < len; i++) {
        const Cell item = series::head_cell(series::buffer_of(n))[i];
        const Cell v = resolved(&item);
        switch (cell::type_of(&v)) {
            case TYPE_DATATYPE: set_bit(&ts, datatype_id(v)); break;
            case TYPE_TYPESET: or_in(&ts, &v); break;
            case TYPE_WORD: set_bit(&ts, TYPE_OBJECT); break;  // a word names an object's class
            case TYPE_BLOCK: break;
            default: err::raise(err::INVALID_TYPE_SPEC, &v);
        }
    }
    return append_copy(block, ts);
}

void add_type(Cell* ts, const Cell* value) {
    const Cell v = resolved(value);
    switch (cell::type_of(&v)) {
        case TYPE_DATATYPE: set_bit(ts, datatype_id(v)); break;
        case TYPE_TYPESET: or_in(ts, &v); break;
        default: err::raise(err::INVALID_ARG, &v);
    }
}

namespace {

Cell combine(const Cell& a, Cell b, SetOp code) {
    Cell r = make_empty();
    auto apply = [&](uint32_t x, uint32_t y) -> uint32_t {
        switch (code) {
            case SetOp::Union: return x | y;
            case SetOp::Intersect: return x & y;
            case SetOp::Difference: return x ^ y;
            case SetOp::Exclude: return x & ~y;
            default: rt::runtime_error(rt::code::NO_SWITCH, rt::here());
        }
    };
    for (uint32_t i = 0; i < 3; i++) payload_word(r, i) = apply(payload_word(a, i), payload_word(b, i));
    return r;
}

}  // namespace

void do_bitwise(SetOp code) {
    Cell* a = stack::arg_base;
    if (code == SetOp::Unique) return;  // unique: a typeset has no duplicates
    const Cell* b = a + 1;
    Cell other;
    if (cell::type_of(b) == TYPE_TYPESET) {
        other = *b;
    } else if (cell::type_of(b) == TYPE_DATATYPE) {
        other = make_empty();
        set_bit(&other, datatype_id(b));
    } else {
        err::raise(err::INVALID_ARG, b);
    }
    *a = combine(*a, other, code);
}

// ---- actions -------------------------------------------------------------------

namespace {

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t t = cell::type_of(spec);
    if (t == TYPE_TYPESET) {
        *proto = *spec;
        return proto;
    }
    if (t != TYPE_BLOCK) {
        const Cell type = datatype_cell(TYPE_TYPESET);
        err::raise(err::BAD_TO_ARG, &type, spec);
    }
    Cell ts = make_empty();
    const node_t n = series_node(spec);
    const uint32_t len = series::buffer_length(n);
    for (uint32_t i = series_index(spec); i < len; i++) {
        const Cell item = series::head_cell(series::buffer_of(n))[i];
        add_type(&ts, &item);
    }
    *proto = ts;
    return proto;
}

int32_t form_names(const Cell* value, node_t out, bool only, bool part, int32_t limit) {
    if (!only) {
        text::append_latin1(out, "make typeset! [", 15);
        limit -= 15;
    }
    bool any = false;
    for (uint32_t t = 1; t <= datatype::highest() && t < BITS; t++) {
        if (!has(value, t)) continue;
        const datatype::NameEntry& e = datatype::entry(t);
        if (!e.name) continue;
        // The text written so far stays: a cut mold is never closed.
        if (part && limit < 0) return limit;
        text::append_latin1(out, e.name, e.length + 1);
        text::append_latin1(out, " ", 1);
        limit -= static_cast<int32_t>(e.length) + 2;
        any = true;
    }
    if (any) {
        SeriesBuffer* s = series::buffer_of(out);
        s->tail -= series::unit(s);  // the last blank
    }
    if (!only) text::append_latin1(out, "]", 1);
    else if (any) limit += 1;
    return limit;
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    return form_names(value, out, false, part, limit);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return form_names(value, out, options.only, options.part, limit);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_TYPESET) return -2;
    switch (op) {
        case CompareOp::Equal: case CompareOp::NotEqual: case CompareOp::StrictEqual: case CompareOp::Same:
        case CompareOp::Find:
            return same_payload(a, b) ? 0 : 1;
        case CompareOp::Sort: case CompareOp::SortCase: {
            const int32_t x = count(a), y = count(b);
            return (x > y) - (x < y);
        }
        default:
            return -2;  // typesets have no order of their own
    }
}

void and_action() { do_bitwise(SetOp::Intersect); }
void or_action() { do_bitwise(SetOp::Union); }
void xor_action() { do_bitwise(SetOp::Difference); }

Cell* complement(Cell* value) {
    for (uint32_t i = 0; i < 3; i++) payload_word(value, i) = ~payload_word(value, i);
    return value;
}

Cell* find(Cell* series, Cell* value, const datatype::FindOptions&) {
    if (cell::type_of(value) != TYPE_DATATYPE) err::raise(err::INVALID_ARG, value);
    return has(series, datatype_id(value)) ? &shared::true_value : &shared::false_value;
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::AND_T>(r, &and_action);
    datatype::set_slot<datatype::COMPLEMENT>(r, &complement);
    datatype::set_slot<datatype::OR_T>(r, &or_action);
    datatype::set_slot<datatype::XOR_T>(r, &xor_action);
    datatype::set_slot<datatype::FIND>(r, &find);
}

}  // namespace qel::typeset
