// The comparison natives and not (same? tests identity, in
// natives_types.cpp): each comparison compares the argument base with the
// next argument through the first value's compare slot and leaves a logic!.
#include "runtime/actions.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"

namespace qel::natives {

namespace {
void compare_to_logic(CompareOp op) {
    const bool r = actions::compare(stack::arg_base, stack::arg_base + 1, op);
    stack::set_last_reset(r ? &shared::true_value : &shared::false_value);
}
}  // namespace

void native_equal_q(const int32_t*) { compare_to_logic(CompareOp::Equal); }
void native_not_equal_q(const int32_t*) { compare_to_logic(CompareOp::NotEqual); }
void native_strict_equal_q(const int32_t*) { compare_to_logic(CompareOp::StrictEqual); }
void native_lesser_q(const int32_t*) { compare_to_logic(CompareOp::Lesser); }
void native_lesser_or_equal_q(const int32_t*) { compare_to_logic(CompareOp::LesserOrEqual); }
void native_greater_q(const int32_t*) { compare_to_logic(CompareOp::Greater); }
void native_greater_or_equal_q(const int32_t*) { compare_to_logic(CompareOp::GreaterOrEqual); }

void native_not(const int32_t*) {
    stack::set_last_reset(is_truthy(stack::arg_base) ? &shared::false_value : &shared::true_value);
}

}  // namespace qel::natives
