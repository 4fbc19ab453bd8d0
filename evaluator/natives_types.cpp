// Facts about single values: same? (identity, not equality), type? and
// complement?.
//
// same? reads the cells themselves: two values are the same when they
// would be the same thing for every change made through either one, so a
// series is the same only at the same index of the same buffer, and a word
// only with the same binding and spelling.
#include <cstring>

#include "runtime/actions.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/series.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

// The tuple length lives in header bits 19-22.

bool is_series_identity(uint32_t t) {
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
    case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE:
        return true;
    default:
        return false;
    }
}

bool same(const Cell* a, const Cell* b) {
    const uint32_t t = cell::type_of(a);
    if (t != cell::type_of(b)) return false;
    if (is_series_identity(t)) return a->data1 == b->data1 && a->data2 == b->data2;
    switch (t) {
    case TYPE_NONE: case TYPE_UNSET:
        return true;
    case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT:
        return a->data1 == b->data1;
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET:
        return a->data2 == b->data2;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME: case TYPE_OP:
        // The same bits: 0.0 and -0.0 differ, a NaN is the same as itself.
        return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D:
        return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_TUPLE:
        return tuple_length(a) == tuple_length(b) && actions::compare(a, b, CompareOp::Equal);
    case TYPE_MONEY:
        return actions::compare(a, b, CompareOp::Same);
    default:
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
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
        // Also reached with the check flag clear, from callers that pass
        // anything; the error names the native as a call would.
        const Cell name = *word::make_from_cstr("complement?");
        const Cell type{TYPE_DATATYPE, cell::type_of(v), 0, 0};
        const Cell arg = *word::make_from_cstr("bits");
        err::raise(err::EXPECT_ARG, &name, &type, &arg);
    }
    const bool r = series::flags_of(v->data2) & series_flag::NOT;
    stack::set_last_reset(r ? &shared::true_value : &shared::false_value);
}

}  // namespace qel::natives
