// Action entries that normalise their refinements before calling a slot
// (see action_entries.hpp).
#include "evaluator/action_entries.hpp"

#include <algorithm>

#include "datatypes/series.hpp"
#include "runtime/actions.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "runtime/stack.hpp"

namespace qel::actions {

namespace {

struct Counts {
    bool nothing = false;  // the action leaves the series as it is
    int32_t part = -1;
    int32_t dup = 1;
};

// The /part count measured on `measured` (the value for append and insert,
// the series for change), whose index this brings back to its tail and
// moves back for a negative count.
Counts normalise(Cell* series, Cell* value, Cell* part, Cell* dup, bool change) {
    Counts c;
    if (dup) {
        c.dup = cell::type_of(dup) == TYPE_INTEGER ? integer_value(dup) : 1;
        if (c.dup < 1) {
            c.nothing = true;
            return c;
        }
    }
    if (!part) return c;
    Cell* measured = change ? series : value;
    const bool positional = series_type::is_series(cell::type_of(measured));
    int64_t n;
    if (cell::type_of(part) == TYPE_INTEGER) {
        n = integer_value(part);
    } else {
        if (!change && !positional && cell::type_of(value) != TYPE_MAP) err::raise(err::INVALID_PART, part);
        if (cell::type_of(part) != cell::type_of(measured) || series_node(part) != series_node(measured) ||
            !positional) {
            const Cell w = *word::make_from_cstr("part");
            err::raise(err::INVALID_REFINE_ARG, &w, part);
        }
        n = static_cast<int64_t>(series_index(part)) - series_index(measured);
    }
    const bool backwards = n < 0;
    if (positional) {
        const uint32_t index = series_type::clamp_index(measured);
        if (n < 0) {
            const uint32_t start = static_cast<uint32_t>(std::max<int64_t>(0, index + n));
            n = index - start;
            series_index(measured) = start;
        }
    }
    // change with a count of 0 replaces nothing and still writes the values.
    if (n < 0 || (n == 0 && (backwards || !change))) {
        c.nothing = true;
        return c;
    }
    c.part = static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
    return c;
}

template <datatype::Slot S>
Cell* dispatch(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    const Counts c = normalise(series, value, part, dup, S == datatype::CHANGE);
    if (c.nothing) return series;
    return slot<S>(series)(series, value, c.part, only, c.dup);
}

}  // namespace

Cell* append(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return dispatch<datatype::APPEND>(series, value, part, only, dup);
}

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return dispatch<datatype::INSERT>(series, value, part, only, dup);
}

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return dispatch<datatype::CHANGE>(series, value, part, only, dup);
}

int32_t index_argument(const Cell* index) {
    switch (cell::type_of(index)) {
        case TYPE_LOGIC: return logic_value(index) ? 1 : 2;
        case TYPE_CHAR: return static_cast<int32_t>(char_code(index));
        case TYPE_INTEGER: return integer_value(index);
        default: return 0;
    }
}

Cell* pick(Cell* series, Cell* index) {
    return slot<datatype::PICK>(series)(series, index_argument(index), index);
}

Cell* poke(Cell* series, Cell* index, Cell* value) {
    return slot<datatype::POKE>(series)(series, index_argument(index), value, index);
}

Cell length(Cell* series) {
    const int32_t n = slot<datatype::LENGTH_Q>(series)(series);
    return n < 0 ? shared::none : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0};
}


// ---- entries of the action words ----------------------------------------------

namespace {

inline Cell* arg(int i) { return stack::arg_base + i; }
inline Cell* ref_arg(const int32_t* r, int k) { return r[k] < 0 ? nullptr : stack::arg_base + r[k]; }
inline bool has(const int32_t* r, int k) { return r[k] >= 0; }

void store(const Cell* result) {
    const Cell v = result ? *result : shared::none;
    stack::set_last_reset(&v);
}

template <datatype::Slot S>
void direct(const int32_t*) {
    actions::slot<S>(arg(0))();
}

uint32_t target_type(const Cell* v) {
    return cell::type_of(v) == TYPE_DATATYPE ? datatype_id(v) : cell::type_of(v);
}

void e_make(const int32_t*) {
    Cell* proto = arg(0);
    const uint32_t t = target_type(proto);
    const auto slot = datatype::action<datatype::MAKE>(t);
    if (!slot) lookup_or_raise(proto, datatype::MAKE);
    store(slot(proto, arg(1), t));
}

void e_to(const int32_t*) {
    Cell* proto = arg(0);
    const uint32_t t = target_type(proto);
    const auto slot = datatype::action<datatype::TO>(t);
    if (!slot) lookup_or_raise(proto, datatype::TO);
    store(slot(proto, arg(1), t));
}

void e_reflect(const int32_t*) {
    store(slot<datatype::REFLECT>(arg(0))(arg(0), word_symbol(arg(1))));
}

// The output text of form and mold, kept on the argument stack above the
// arguments while the value is written (the entry's caller resets the top).
node_t kept_buffer() {
    const Cell s{TYPE_STRING, 0, text::make_buffer(16), 0};
    return series_node(stack::push(&s));
}

void text_result(node_t out) {
    const Cell s{TYPE_STRING, 0, out, 0};
    stack::set_last_reset(&s);
}

// form and mold: a limit below 1 with /part gives an empty string; the
// slot's output is cut to the limit afterwards.
int32_t part_limit(const int32_t* r, int k) {
    if (!has(r, k)) return 0x7FFFFFFF;
    const Cell* l = ref_arg(r, k);
    return cell::type_of(l) == TYPE_INTEGER ? integer_value(l) : 0x7FFFFFFF;
}

void cut(node_t out, int32_t limit) {
    if (limit >= 0 && text::length(out) > static_cast<uint32_t>(limit)) string::truncate(out, static_cast<uint32_t>(limit));
}

void e_form(const int32_t* r) {
    const int32_t limit = part_limit(r, 0);
    const node_t out = kept_buffer();
    if (!(has(r, 0) && limit < 1)) {
        const Cell v = *arg(0);
        actions::form(&v, out, has(r, 0), limit);
        cut(out, limit);
    }
    text_result(out);
}

void e_mold(const int32_t* r) {
    const int32_t limit = part_limit(r, 3);
    const node_t out = kept_buffer();
    if (!(has(r, 3) && limit < 1)) {
        const Cell v = *arg(0);
        const datatype::MoldOptions options{.only = has(r, 0), .all = has(r, 1), .flat = has(r, 2), .part = has(r, 3)};
        actions::mold(&v, out, options, limit, 0);
        cut(out, limit);
    }
    text_result(out);
}

void e_negate(const int32_t*) { store(slot<datatype::NEGATE>(arg(0))(arg(0))); }
void e_complement(const int32_t*) { store(slot<datatype::COMPLEMENT>(arg(0))(arg(0))); }

void e_even(const int32_t*) {
    const bool b = slot<datatype::EVEN_Q>(arg(0))(arg(0));
    stack::set_last_reset(b ? &shared::true_value : &shared::false_value);
}
void e_odd(const int32_t*) {
    const bool b = slot<datatype::ODD_Q>(arg(0))(arg(0));
    stack::set_last_reset(b ? &shared::true_value : &shared::false_value);
}

void e_append(const int32_t* r) { store(append(arg(0), arg(1), ref_arg(r, 0), has(r, 1), ref_arg(r, 2))); }
void e_insert(const int32_t* r) { store(insert(arg(0), arg(1), ref_arg(r, 0), has(r, 1), ref_arg(r, 2))); }
void e_change(const int32_t* r) { store(change(arg(0), arg(1), ref_arg(r, 0), has(r, 1), ref_arg(r, 2))); }
void e_clear(const int32_t*) { store(slot<datatype::CLEAR>(arg(0))(arg(0))); }

void e_copy(const int32_t* r) {
    Cell* types = ref_arg(r, 2);
    if (types && cell::type_of(types) != TYPE_DATATYPE && cell::type_of(types) != TYPE_TYPESET) {
        const Cell n = stack::get_call_name();
        const Cell t{TYPE_DATATYPE, cell::type_of(types), 0, 0};
        const Cell kind = err::arg_name_at(2);
        err::raise(err::EXPECT_ARG, &n, &t, &kind);
    }
    Cell* result = stack::push(&shared::unset);
    store(slot<datatype::COPY>(arg(0))(arg(0), result, ref_arg(r, 0), has(r, 1), types));
}

// The refinements find and select share, in their order: part only case
// same any with skip last reverse (find adds tail and match).
datatype::FindOptions find_options(const int32_t* r) {
    datatype::FindOptions o;
    o.part = ref_arg(r, 0);
    o.only = has(r, 1);
    o.case_sensitive = has(r, 2);
    o.same = has(r, 3);
    o.any = has(r, 4);
    o.with = ref_arg(r, 5);
    o.skip = ref_arg(r, 6);
    o.last = has(r, 7);
    o.reverse = has(r, 8);
    return o;
}

void e_find(const int32_t* r) {
    datatype::FindOptions o = find_options(r);
    o.tail = has(r, 9);
    o.match = has(r, 10);
    store(slot<datatype::FIND>(arg(0))(arg(0), arg(1), o));
}

void e_select(const int32_t* r) { store(slot<datatype::SELECT>(arg(0))(arg(0), arg(1), find_options(r))); }

void e_length(const int32_t*) {
    const Cell v = length(arg(0));
    stack::set_last_reset(&v);
}
void e_pick(const int32_t*) { store(pick(arg(0), arg(1))); }
void e_poke(const int32_t*) { store(poke(arg(0), arg(1), arg(2))); }
void e_put(const int32_t* r) { store(slot<datatype::PUT>(arg(0))(arg(0), arg(1), arg(2), has(r, 0))); }
void e_remove(const int32_t* r) {
    store(slot<datatype::REMOVE>(arg(0))(arg(0), ref_arg(r, 0), ref_arg(r, 1)));
}
void e_reverse(const int32_t* r) {
    store(slot<datatype::REVERSE>(arg(0))(arg(0), ref_arg(r, 0), ref_arg(r, 1)));
}
void e_sort(const int32_t* r) {
    const datatype::SortOptions o{.skip = ref_arg(r, 1),
                                  .comparator = ref_arg(r, 2),
                                  .part = ref_arg(r, 3),
                                  .case_sensitive = has(r, 0),
                                  .all = has(r, 4),
                                  .reverse = has(r, 5),
                                  .stable = has(r, 6)};
    store(slot<datatype::SORT>(arg(0))(arg(0), o));
}
void e_swap(const int32_t*) { store(slot<datatype::SWAP>(arg(0))(arg(0), arg(1))); }
void e_take(const int32_t* r) {
    store(slot<datatype::TAKE>(arg(0))(arg(0), ref_arg(r, 0), has(r, 1), has(r, 2)));
}
void e_trim(const int32_t* r) {
    datatype::TrimOptions o;
    o.head = has(r, 0);
    o.tail = has(r, 1);
    o.automatic = has(r, 2);
    o.lines = has(r, 3);
    o.all = has(r, 4);
    o.with = ref_arg(r, 5);
    store(slot<datatype::TRIM>(arg(0))(arg(0), o));
}
void e_move(const int32_t* r) { store(slot<datatype::MOVE>(arg(0))(arg(0), arg(1), ref_arg(r, 0))); }
void e_round(const int32_t* r) {
    datatype::RoundOptions o;
    o.scale = ref_arg(r, 0);
    o.even = has(r, 1);
    o.down = has(r, 2);
    o.half_down = has(r, 3);
    o.floor = has(r, 4);
    o.ceiling = has(r, 5);
    o.half_ceiling = has(r, 6);
    store(slot<datatype::ROUND>(arg(0))(arg(0), o));
}
void e_random(const int32_t* r) {
    store(slot<datatype::RANDOM>(arg(0))(arg(0), has(r, 0), has(r, 1), has(r, 2)));
}
// The first argument's word of each port action, for the error of an
// empty slot.
const char* port_arg_name(uint32_t s) {
    switch (s) {
        case datatype::READ: return "source";
        case datatype::RENAME: return "from";
        case datatype::WRITE: return "destination";
        case datatype::QUERY: return "target";
        default: return "port";
    }
}

template <datatype::Slot S, bool TWO>
void port_action(const int32_t* r) {
    const auto f = datatype::action<S>(cell::type_of(arg(0)));
    if (!f) {
        const Cell name = stack::get_call_name();
        const Cell type{TYPE_DATATYPE, cell::type_of(arg(0)), 0, 0};
        const Cell word = *word::make_from_cstr(port_arg_name(S));
        err::raise(err::EXPECT_ARG, &name, &type, &word);
    }
    store(f(arg(0), TWO ? arg(1) : nullptr, r));
}

void e_modify(const int32_t* r) {
    slot<datatype::MODIFY>(arg(0))(arg(0), arg(1), arg(2), has(r, 0));
    stack::keep_first();
}

}  // namespace

ActionEntry entry_of_slot(uint32_t s) {
    using namespace datatype;
    switch (s) {
        case MAKE: return e_make;
        case RANDOM: return e_random;
        case REFLECT: return e_reflect;
        case TO: return e_to;
        case FORM: return e_form;
        case MOLD: return e_mold;
        case ABSOLUTE: return direct<ABSOLUTE>;
        case ADD: return direct<ADD>;
        case DIVIDE: return direct<DIVIDE>;
        case MULTIPLY: return direct<MULTIPLY>;
        case NEGATE: return e_negate;
        case POWER: return direct<POWER>;
        case REMAINDER: return direct<REMAINDER>;
        case ROUND: return e_round;
        case SUBTRACT: return direct<SUBTRACT>;
        case EVEN_Q: return e_even;
        case ODD_Q: return e_odd;
        case AND_T: return direct<AND_T>;
        case COMPLEMENT: return e_complement;
        case OR_T: return direct<OR_T>;
        case XOR_T: return direct<XOR_T>;
        case APPEND: return e_append;
        case AT: return direct<AT>;
        case BACK: return direct<BACK>;
        case CHANGE: return e_change;
        case CLEAR: return e_clear;
        case COPY: return e_copy;
        case FIND: return e_find;
        case HEAD: return direct<HEAD>;
        case HEAD_Q: return direct<HEAD_Q>;
        case INDEX_Q: return direct<INDEX_Q>;
        case INSERT: return e_insert;
        case LENGTH_Q: return e_length;
        case MOVE: return e_move;
        case NEXT: return direct<NEXT>;
        case PICK: return e_pick;
        case POKE: return e_poke;
        case PUT: return e_put;
        case REMOVE: return e_remove;
        case REVERSE: return e_reverse;
        case SELECT: return e_select;
        case SORT: return e_sort;
        case SKIP: return direct<SKIP>;
        case SWAP: return e_swap;
        case TAIL: return direct<TAIL>;
        case TAIL_Q: return direct<TAIL_Q>;
        case TAKE: return e_take;
        case TRIM: return e_trim;
        case MODIFY: return e_modify;
        case CREATE: return port_action<CREATE, false>;
        case CLOSE: return port_action<CLOSE, false>;
        case DELETE: return port_action<DELETE, false>;
        case OPEN: return port_action<OPEN, false>;
        case OPEN_Q: return port_action<OPEN_Q, false>;
        case QUERY: return port_action<QUERY, false>;
        case READ: return port_action<READ, false>;
        case RENAME: return port_action<RENAME, true>;
        case UPDATE: return port_action<UPDATE, false>;
        case WRITE: return port_action<WRITE, true>;
        default: return nullptr;
    }
}

}  // namespace qel::actions
