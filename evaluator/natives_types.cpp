// Facts about single values: same? (identity, not equality), type? and
// complement?.
//
// same? reads the cells themselves: two values are the same when they
// would be the same thing for every change made through either one, so a
// series is the same only at the same index of the same buffer, and a word
// only with the same binding and spelling.
#include <bit>
#include <cstdint>

#include "datatypes/series.hpp"
#include "runtime/actions.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/series.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

bool same(const Cell* a, const Cell* b) {
    const uint32_t t = cell::type_of(a);
    if (t != cell::type_of(b)) return false;
    if (series_type::is_series(t)) return series_index(a) == series_index(b) && series_node(a) == series_node(b);
    switch (t) {
    case TYPE_NONE: case TYPE_UNSET:
        return true;
    case TYPE_DATATYPE:
        return datatype_id(a) == datatype_id(b);
    case TYPE_LOGIC:
        return logic_value(a) == logic_value(b);
    case TYPE_OBJECT:
        return object_context(a) == object_context(b);
    case TYPE_CHAR:
        return char_code(a) == char_code(b);
    case TYPE_INTEGER:
        return integer_value(a) == integer_value(b);
    case TYPE_BITSET:
        return series_node(a) == series_node(b);
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        // The same bits: 0.0 and -0.0 differ, a NaN is the same as itself.
        return std::bit_cast<uint64_t>(cell::get_double(a)) == std::bit_cast<uint64_t>(cell::get_double(b));
    case TYPE_PAIR:
        return pair_x(a) == pair_x(b) && pair_y(a) == pair_y(b);
    case TYPE_OP:
        // Made from the same function: the same spec and body (or info).
        return function_spec(a) == function_spec(b) && function_body(a) == function_body(b);
    case TYPE_NATIVE: case TYPE_ACTION:
        return native_index(a) == native_index(b) && native_spec(a) == native_spec(b);
    case TYPE_POINT2D:
        return payload_word(a, 0) == payload_word(b, 0) && payload_word(a, 1) == payload_word(b, 1);
    case TYPE_TUPLE:
        return tuple_length(a) == tuple_length(b) && actions::compare(a, b, CompareOp::Equal);
    case TYPE_MONEY:
        return actions::compare(a, b, CompareOp::Same);
    default:
        return same_payload(a, b);
    }
}

}  // namespace

void native_same_q(const int32_t*) {
    const bool r = same(stack::arg_base, stack::arg_base + 1);
    stack::set_last_reset(r ? &shared::true_value : &shared::false_value);
}

void native_type_q(const int32_t* refinements) {
    const uint32_t t = cell::type_of(stack::arg_base);
    if (refinements[0] >= 0) {
        const Cell* word = datatype::entry(t).word;
        stack::set_last_reset(word ? word : &shared::none);
        return;
    }
    const Cell type{TYPE_DATATYPE, t, 0, 0};
    stack::set_last_reset(&type);
}

void native_complement_q(const int32_t*) {
    const Cell* v = stack::arg_base;
    if (cell::type_of(v) != TYPE_BITSET) {
        // The spec lets only bitset! through; the native checks again so
        // that no other payload is read as a bitset's, naming itself in
        // the error as a call would.
        const Cell name = *word::make_from_cstr("complement?");
        const Cell type{TYPE_DATATYPE, cell::type_of(v), 0, 0};
        const Cell arg = *word::make_from_cstr("bits");
        err::raise(err::EXPECT_ARG, &name, &type, &arg);
    }
    const bool r = series::flags_of(series_node(v)) & series_flag::NOT;
    stack::set_last_reset(r ? &shared::true_value : &shared::false_value);
}

}  // namespace qel::natives
