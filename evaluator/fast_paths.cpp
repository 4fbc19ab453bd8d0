// Fast paths and call glue (see fast_paths.hpp).
//
// The overflow tests follow the 32-bit results: a sum overflowed when it
// is below the left operand exactly when the right one is not negative,
// a difference when its sign disagrees with the order of the operands, a
// product when the 64-bit result's high word is not the low word's sign.
#include "evaluator/fast_paths.hpp"

#include <cmath>

#include "evaluator/action_entries.hpp"
#include "runtime/actions.hpp"
#include "evaluator/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/entry.hpp"
#include "runtime/errors.hpp"

namespace qel::fast {

namespace {

using series::cells_of;

[[noreturn]] void bad_code() { rt::runtime_error(rt::code::NO_SWITCH, 0); }

inline Cell int_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
inline Cell float_cell(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}
inline const Cell* logic(bool b) { return b ? &shared::true_value : &shared::false_value; }

uint32_t math_slot(uint32_t code) {
    switch (code) {
        case ADD: return datatype::ADD;
        case SUBTRACT: return datatype::SUBTRACT;
        case MULTIPLY: return datatype::MULTIPLY;
        case OR: return datatype::OR_T;
        case AND: return datatype::AND_T;
        case XOR: return datatype::XOR_T;
        default: bad_code();
    }
}

// Both integers: the result, a float on overflow.
Cell int_result(uint32_t code, int32_t x, int32_t y) {
    switch (code) {
        case ADD: {
            const int32_t s = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(y));
            if ((s < x) != (y < 0)) return float_cell(static_cast<double>(x) + y);
            return int_cell(s);
        }
        case SUBTRACT: {
            const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(y));
            if ((d < 0) != (x < y)) return float_cell(static_cast<double>(x) - y);
            return int_cell(d);
        }
        case MULTIPLY: {
            const int64_t p = static_cast<int64_t>(x) * y;
            if (p != static_cast<int32_t>(p)) return float_cell(static_cast<double>(x) * y);
            return int_cell(static_cast<int32_t>(p));
        }
        case OR: return int_cell(x | y);
        case AND: return int_cell(x & y);
        case XOR: return int_cell(x ^ y);
        default: bad_code();
    }
}

// The generic path: the action inside a native frame named by name; the
// result is pushed where the frame began.
Cell* generic(uint32_t slot, const Cell* name, const Cell& a, const Cell& b) {
    const Cell n = name ? *name : shared::none;
    Cell* at = stack::arg_top;
    stack::mark_native(&n);
    stack::push(&a);
    stack::push(&b);
    static const int32_t no_refinements[1] = {-1};
    actions::entry_of_slot(slot)(no_refinements);
    stack::unwind_keep();
    return at;
}

Cell* math(uint32_t code, const Cell* name, const Cell& a, const Cell& b) {
    const uint32_t ta = cell::type_of(&a), tb = cell::type_of(&b);
    if (ta == TYPE_INTEGER && tb == TYPE_INTEGER) {
        const Cell r = int_result(code, static_cast<int32_t>(a.data2), static_cast<int32_t>(b.data2));
        return stack::push(&r);
    }
    if (ta == TYPE_FLOAT && tb == TYPE_FLOAT && code <= MULTIPLY) {
        const double x = cell::get_double(&a), y = cell::get_double(&b);
        const Cell r = float_cell(code == ADD ? x + y : code == SUBTRACT ? x - y : x * y);
        return stack::push(&r);
    }
    return generic(math_slot(code), name, a, b);
}

bool int_order(uint32_t code, int32_t x, int32_t y) {
    switch (code) {
        case 0: case 2: return x == y;
        case 1: return x != y;
        case 3: return x < y;
        case 4: return x <= y;
        case 5: return x > y;
        case 6: return x >= y;
        default: bad_code();
    }
}

// The comparison's truth: integers in place, anything else through the
// comparison dispatch in a native frame.
bool compare(uint32_t code, const Cell* name, const Cell& a, const Cell& b) {
    if (code > 6) bad_code();
    if (cell::type_of(&a) == TYPE_INTEGER && cell::type_of(&b) == TYPE_INTEGER)
        return int_order(code, static_cast<int32_t>(a.data2), static_cast<int32_t>(b.data2));
    const Cell n = name ? *name : shared::none;
    Cell* at = stack::arg_top;
    stack::mark_native(&n);
    stack::push(&a);
    stack::push(&b);
    to_logic(code);
    stack::unwind_keep();
    const bool r = at->data1 != 0;
    stack::arg_top = at;
    return r;
}

}  // namespace

Cell* int_math(uint32_t code, const Cell* name, const Cell* a, const Cell* b) { return math(code, name, *a, *b); }
Cell* int_math_b(uint32_t code, const Cell* name, const Cell* a, int32_t b) {
    return math(code, name, *a, int_cell(b));
}
Cell* int_math_stack(uint32_t code, const Cell* name, const Cell* b) {
    Cell* top = stack::top();
    const Cell a = *top;
    const Cell r = *math(code, name, a, *b);
    *top = r;
    stack::arg_top = top + 1;
    return top;
}
Cell* int_math_stack_b(uint32_t code, const Cell* name, int32_t b) {
    const Cell c = int_cell(b);
    return int_math_stack(code, name, &c);
}

Cell* int_compare(uint32_t code, const Cell* name, const Cell* a, const Cell* b) {
    return stack::push(logic(compare(code, name, *a, *b)));
}
Cell* int_compare_b(uint32_t code, const Cell* name, const Cell* a, int32_t b) {
    return stack::push(logic(compare(code, name, *a, int_cell(b))));
}
bool int_compare_c(uint32_t code, const Cell* name, const Cell* a, const Cell* b, bool expected) {
    return compare(code, name, *a, *b) != expected;
}
bool int_compare_d(uint32_t code, const Cell* name, const Cell* a, int32_t b, bool expected) {
    return compare(code, name, *a, int_cell(b)) != expected;
}
bool int_compare_e(uint32_t code, const Cell* name, const Cell* a, const Cell* b) {
    const bool r = compare(code, name, *a, *b);
    *stack::arg_base = *logic(r);
    return r;
}
bool int_compare_f(uint32_t code, const Cell* name, const Cell* a, int32_t b) {
    const bool r = compare(code, name, *a, int_cell(b));
    *stack::arg_base = *logic(r);
    return r;
}
Cell* int_compare_stack(uint32_t code, const Cell* name, const Cell* b) {
    Cell* top = stack::top();
    const Cell a = *top;
    const bool r = compare(code, name, a, *b);
    *top = *logic(r);
    stack::arg_top = top + 1;
    return top;
}
Cell* int_compare_stack_b(uint32_t code, const Cell* name, int32_t b) {
    const Cell c = int_cell(b);
    return int_compare_stack(code, name, &c);
}

void to_logic(uint32_t code) {
    const bool r = actions::compare(stack::arg_base, stack::arg_base + 1, static_cast<CompareOp>(code));
    stack::set_last_reset(logic(r));
}

Cell* eval_path_compiled(const Cell* value, int32_t index, const Cell* name) {
    const Cell v = *value;
    if (cell::type_of(&v) == TYPE_BLOCK) {
        const int64_t left = static_cast<int64_t>(series::cell_count(v.data2)) - v.data1;
        if (index >= 1 && index <= left) return stack::push(&cells_of(v.data2)[v.data1 + index - 1]);
        return stack::push(&shared::none);
    }
    const Cell n = name ? *name : shared::none;
    Cell* at = stack::arg_top;
    stack::mark_native(&n);
    Cell* target = stack::push(&v);
    Cell* element = stack::push(&shared::none);
    *element = int_cell(index);
    Cell* r = actions::slot<slot_fn::EvalPath>(target, datatype::EVAL_PATH)(target, element, nullptr, nullptr, nullptr,
                                                                          nullptr, 1, false, true, true, false);
    const Cell result = r ? *r : shared::none;
    stack::set_last_reset(&result);
    stack::unwind_keep();
    return at;
}

Cell* series_step_compiled(const Cell* value, uint32_t code, const Cell* name) {
    const Cell v = *value;
    if (code < LENGTH_Q || code > TAIL) bad_code();
    if (cell::type_of(&v) == TYPE_BLOCK) {
        const int64_t left = static_cast<int64_t>(series::cell_count(v.data2)) - v.data1;
        Cell r = v;
        switch (code) {
            case LENGTH_Q: r = int_cell(static_cast<int32_t>(left > 0 ? left : 0)); break;
            case INDEX_Q: r = int_cell(static_cast<int32_t>(v.data1) + 1); break;
            case HEAD_Q: r = *logic(v.data1 == 0); break;
            case TAIL_Q: r = *logic(left < 1); break;
            case NEXT: if (left >= 1) r.data1++; break;
            case BACK: if (r.data1 > 0) r.data1--; break;
            case HEAD: r.data1 = 0; break;
            case TAIL: if (left > 0) r.data1 += static_cast<uint32_t>(left); break;
        }
        return stack::push(&r);
    }
    static constexpr uint32_t slots[] = {0, datatype::LENGTH_Q, datatype::INDEX_Q, datatype::HEAD_Q, datatype::TAIL_Q,
                                         datatype::NEXT, datatype::BACK, datatype::HEAD, datatype::TAIL};
    const Cell n = name ? *name : shared::none;
    Cell* at = stack::arg_top;
    stack::mark_native(&n);
    stack::push(&v);
    static const int32_t no_refinements[1] = {-1};
    actions::entry_of_slot(slots[code])(no_refinements);
    stack::unwind_keep();
    return at;
}

void fill_refinement_args(const Cell* condition, uint32_t position, uint32_t count) {
    if (is_truthy(condition)) {
        stack::arg_base[position] = shared::true_value;
        return;
    }
    for (uint32_t k = 1; k <= count; k++) stack::arg_base[position + k] = shared::none;
}

void call_with_refinements(uint32_t index, bool native, const RefinementUse* uses, uint32_t n) {
    constexpr uint32_t MAX = 32;
    int32_t refs[MAX];
    for (int32_t& r : refs) r = -1;
    for (uint32_t k = 0; k < n; k++) {
        const RefinementUse& u = uses[k];
        if (u.ordinal < 1 || u.ordinal > MAX) bad_code();
        if (is_truthy(u.condition)) {
            refs[u.ordinal - 1] = static_cast<int32_t>(u.position);
        } else {
            for (uint32_t a = 0; a < u.count; a++) stack::arg_base[u.position + a] = shared::none;
        }
    }
    if (native) {
        const natives::Entry* e = natives::entry_of(static_cast<int32_t>(index));
        if (!e) err::raise(err::NOT_DONE);
        e->fn(true, refs);
        return;
    }
    actions::ActionEntry entry = index >= 1 ? actions::entry_of_slot(index - 1) : nullptr;
    if (!entry) err::raise(err::NOT_DONE);
    entry(refs);
}

void select_case(bool push_result, bool switch_mode) {
    const Cell value = stack::arg_base[0];
    const Cell cases = stack::arg_base[1];
    Cell answer = shared::none;
    if (cell::type_of(&value) != TYPE_BLOCK) {
        const uint32_t n = series::cell_count(cases.data2);
        const uint32_t step = switch_mode || push_result ? 1 : 2;
        for (uint32_t i = cases.data1; i < n; i += step) {
            const Cell c = cells_of(cases.data2)[i];
            if (cell::type_of(&c) != cell::type_of(&value) || !actions::compare(&value, &c, CompareOp::Equal)) continue;
            if (switch_mode) {
                // The search for the block stops at the tail: none then.
                for (uint32_t k = i + 1; k < n; k++) {
                    if (cell::type_of(&cells_of(cases.data2)[k]) == TYPE_BLOCK) {
                        answer = cells_of(cases.data2)[k];
                        break;
                    }
                }
            } else {
                answer = i + 1 < n ? cells_of(cases.data2)[i + 1] : c;
            }
            break;
        }
    }
    if (push_result) stack::push(&answer);
    else stack::set_last_reset(&answer);
}

int32_t check_integer_range(const Cell* value) {
    if (cell::type_of(value) != TYPE_FLOAT) return static_cast<int32_t>(value->data2);
    const double d = cell::get_double(value);
    if (std::isnan(d) || d < -2147483648.0 || d > 2147483647.0) {
        const Cell v = *value;
        err::raise(err::OUT_OF_RANGE, &v);
    }
    return static_cast<int32_t>(d);
}

}  // namespace qel::fast
