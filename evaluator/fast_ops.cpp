// The fast operators: which op! values have an integer step of their own.
#include "evaluator/fast_ops.hpp"

#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "runtime/datatypes.hpp"

namespace qel::fast_ops {

namespace {

// The fast operator of each native, by native index; filled on first use,
// once the native table is complete.
int8_t native_fast_op[natives::NATIVE_COUNT + 1];
bool native_fast_ready = false;

void fill_native_fast_ops() {
    using natives::NativeFn;
    const struct {
        NativeFn fn;
        FastOp op;
    } known[] = {{&natives::native_equal_q, OP_EQUAL},
                 {&natives::native_not_equal_q, OP_NOT_EQUAL},
                 {&natives::native_strict_equal_q, OP_STRICT_EQUAL},
                 {&natives::native_lesser_q, OP_LESSER},
                 {&natives::native_lesser_or_equal_q, OP_LESSER_OR_EQUAL},
                 {&natives::native_greater_q, OP_GREATER},
                 {&natives::native_greater_or_equal_q, OP_GREATER_OR_EQUAL}};
    for (uint32_t i = 0; i <= natives::NATIVE_COUNT; i++) {
        native_fast_op[i] = -1;
        const natives::Entry* e = natives::entry_of(static_cast<int32_t>(i));
        if (!e) continue;
        for (const auto& k : known)
            if (e->fn == k.fn) native_fast_op[i] = static_cast<int8_t>(k.op - OP_EQUAL);
    }
    native_fast_ready = true;
}

}  // namespace

int32_t fast_op_of(const Cell& op) {
    const uint32_t source = op_inner_type(op);
    if (source == TYPE_ACTION) {
        switch (native_index(op) - 1) {
            case datatype::ADD: return OP_ADD;
            case datatype::SUBTRACT: return OP_SUBTRACT;
            case datatype::MULTIPLY: return OP_MULTIPLY;
            case datatype::REMAINDER: return OP_REMAINDER;
            default: return NOT_FAST;
        }
    }
    if (source != TYPE_NATIVE || native_index(op) > natives::NATIVE_COUNT) return NOT_FAST;
    if (!native_fast_ready) [[unlikely]] fill_native_fast_ops();
    const int32_t k = native_fast_op[native_index(op)];
    return k < 0 ? NOT_FAST : OP_EQUAL + k;
}

}  // namespace qel::fast_ops
