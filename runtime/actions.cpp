// Action slot lookups and the comparison and form/mold dispatch that every
// datatype's code uses on values of other types.
#include "runtime/actions.hpp"

#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"

namespace qel::actions {

ActionFn lookup_or_raise(const Cell* value, uint32_t slot) {
    if (ActionFn f = lookup(value, slot)) return f;
    const Cell name = stack::get_call_name();
    const Cell type{TYPE_DATATYPE, cell::type_of(value), 0, 0};
    const Cell arg = err::arg_name_at(0);
    err::raise(err::EXPECT_ARG, &name, &type, &arg);
}

namespace {

int32_t raw_compare(const Cell* a, const Cell* b, CompareOp op) {
    const auto f = datatype::action<datatype::COMPARE>(cell::type_of(a));
    return f ? f(a, b, op) : -2;
}

}  // namespace

bool compare(const Cell* a, const Cell* b, CompareOp op) {
    const int32_t r = raw_compare(a, b, op);
    if (r == -2 && !is_equality(op)) err::raise(err::INVALID_COMPARE, a, b);
    switch (op) {
        case CompareOp::NotEqual: return r != 0;
        case CompareOp::Lesser: return r < 0;
        case CompareOp::LesserOrEqual: return r < 1;
        case CompareOp::Greater: return r >= 1;
        case CompareOp::GreaterOrEqual: return r >= 0;
        default:
            if (is_equality(op)) return r == 0;
            // Sort's orders have no truth value, and no other code is known.
            rt::runtime_error(rt::code::NO_SWITCH, rt::here());
    }
}

int32_t compare_values(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t t = cell::type_of(a);
    if (t == TYPE_LOGIC && cell::type_of(b) == TYPE_LOGIC)
        return static_cast<int32_t>(logic_value(a) != 0) - static_cast<int32_t>(logic_value(b) != 0);
    // Functions order by their records, which no two share.
    if (t >= TYPE_NATIVE && t <= TYPE_OP && cell::type_of(b) == t)
        return (native_info(a) > native_info(b)) - (native_info(a) < native_info(b));
    if ((t == TYPE_FUNCTION || t == TYPE_ROUTINE) && cell::type_of(b) == t)
        return (function_body(a) > function_body(b)) - (function_body(a) < function_body(b));
    return raw_compare(a, b, op);
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    return slot<datatype::FORM>(value)(value, out, part, limit);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    return slot<datatype::MOLD>(value)(value, out, options, limit, indent);
}

}  // namespace qel::actions
