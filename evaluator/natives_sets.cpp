// The set-operation natives: unique, union, intersect, exclude and
// difference. One dispatching step checks that the data sets go together
// and hands them, with the operation's code, to the body of the first
// set's datatype: blocks and hashes, strings, bitsets and typesets, and
// for difference also dates, whose difference is a time!. The bodies
// leave their result in the argument base.
#include "datatypes/bitset.hpp"
#include "datatypes/block_search.hpp"
#include "datatypes/date.hpp"
#include "datatypes/string_search.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

bool block_or_hash(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// The refinements are /case and /skip size, in that order.
void set_operation(const char* native, SetOp code, const int32_t* refinements) {
    Cell* a = stack::arg_base;
    Cell* b = a + 1;
    const bool case_sensitive = refinements[0] >= 0;
    Cell* skip = refinements[1] >= 0 ? a + refinements[1] : nullptr;
    const uint32_t ta = cell::type_of(a);
    const char* first_arg = code == SetOp::Unique ? "set" : "set1";
    if (code != SetOp::Unique) {
        const uint32_t tb = cell::type_of(b);
        if (block_or_hash(ta) ? !block_or_hash(tb) : tb != ta) {
            const Cell expected{TYPE_DATATYPE, ta, 0, 0};
            const Cell found{TYPE_DATATYPE, tb, 0, 0};
            err::raise(err::EXPECT_VAL, &expected, &found);
        }
    }
    if (skip && cell::type_of(skip) != TYPE_INTEGER) expect_arg(native, skip, "size");
    switch (ta) {
        case TYPE_BLOCK:
        case TYPE_HASH:
            block::set_op(code, a, b, case_sensitive, skip);
            break;
        case TYPE_STRING:
            string::set_op(code, a, b, case_sensitive, skip);
            break;
        case TYPE_BITSET:
            if (code == SetOp::Unique) expect_arg(native, a, first_arg);
            bitset::do_bitwise(code);
            break;
        case TYPE_TYPESET:
            if (code == SetOp::Unique) expect_arg(native, a, first_arg);
            typeset::do_bitwise(code);
            break;
        case TYPE_DATE:
        {
            if (code != SetOp::Difference) expect_arg(native, a, first_arg);
            Cell span;
            date::difference(a, b, &span);
            *a = span;
            break;
        }
        default:
            expect_arg(native, a, first_arg);
    }
    stack::keep_first();
}

}  // namespace

void native_unique(const int32_t* refinements) { set_operation("unique", SetOp::Unique, refinements); }
void native_union(const int32_t* refinements) { set_operation("union", SetOp::Union, refinements); }
void native_intersect(const int32_t* refinements) { set_operation("intersect", SetOp::Intersect, refinements); }
void native_exclude(const int32_t* refinements) { set_operation("exclude", SetOp::Exclude, refinements); }
void native_difference(const int32_t* refinements) { set_operation("difference", SetOp::Difference, refinements); }

}  // namespace qel::natives
