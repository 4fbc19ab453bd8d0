// stats and recycle: the memory in use, per-frame figures, and the
// collector's switch.
#include "datatypes/block.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

void memory_result() {
    const uint64_t used = collector::memory_in_use();
    Cell v{TYPE_INTEGER, 0, static_cast<uint32_t>(used), 0};
    if (used > 2147483647u) {
        v.header = TYPE_FLOAT;
        cell::put_double(&v, static_cast<double>(used));
    }
    stack::set_last_reset(&v);
}

}  // namespace

void native_stats(const int32_t* refinements) {
    const bool show = refinements[0] >= 0, info = refinements[1] >= 0;
    if (!show && !info) {
        memory_result();
        return;
    }
    Cell* blocks = stack::push(&shared::none);
    collector::memory_blocks(blocks);
    if (info) {
        stack::set_last_reset(blocks);
        return;
    }
    // The library's report prints the figures: [show-memory-stats blocks].
    Cell* code = stack::push(&shared::none);
    *code = Cell{TYPE_BLOCK, 0, memory::alloc_cells(2), 0};
    const Cell report = *word::make_from_cstr("show-memory-stats");
    block::append_copy(code, &report);
    block::append_copy(code, blocks);
    interp::eval_block(code, false);
    stack::set_last_reset(&shared::unset);
}

void native_recycle(const int32_t* refinements) {
    if (refinements[0] >= 0 || refinements[1] >= 0) {
        collector_enabled = refinements[0] >= 0 ? 1 : 0;
        stack::set_last_reset(&shared::unset);
        return;
    }
    collector::collect();
    memory_result();
}

}  // namespace qel::natives
