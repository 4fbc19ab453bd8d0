// The compare function of sort/compare, called from inside the C++ sorts.
// The two values sit in C++ memory the collector does not see, so they are
// copied to the argument stack (records as new blocks, pushed as soon as
// they are made) before the function runs, inside a frame named for the
// callback so that errors show where they came from.
#include "evaluator/sort_callback.hpp"

#include <cstring>

#include "datatypes/block_search.hpp"
#include "evaluator/call.hpp"
#include "runtime/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"

namespace qel::sort_callback {

namespace {

void push_record(const Cell* first, uint32_t cells) {
    const node_t n = memory::alloc_cells(cells);
    SeriesBuffer* b = series::buffer_of(n);
    std::memcpy(series::data(b), first, static_cast<size_t>(cells) * sizeof(Cell));
    b->tail = cells * static_cast<uint32_t>(sizeof(Cell));
    const Cell block{TYPE_BLOCK, 0, n, 0};
    stack::push(&block);
}

}  // namespace

void init() { block::call_comparator = &call; }

Cell call(const Cell* fn, const Cell* x, const Cell* y, uint32_t cells) {
    const Cell f = *fn;
    stack::mark_native(words::w_compare_callback);
    if (cells == 0) {
        stack::push(x);
        stack::push(y);
    } else {
        push_record(x, cells);
        push_record(y, cells);
    }
    Cell* args = stack::arg_base;
    Cell result;
    if (cell::type_of(&f) == TYPE_FUNCTION) {
        // Arguments pushed as they stand, with no block built per call:
        // a sort calls this n log n times.
        result = *trace::call_with_values(&f, words::w_compare_callback, args, 2, trace::CallbackKind::Sort);
    } else {
        call::apply_values(&f, args, 2);
        raise_pending();
        result = *stack::top();
    }
    stack::unwind();
    return result;
}

}  // namespace qel::sort_callback
