// Shared by the fuzz targets: a started runtime whose memory is rebuilt
// every few thousand inputs (the collector stays off, so nothing is given
// back between inputs), and a try region for code that raises errors.
#pragma once
#include <cstdint>

#include "library/startup.hpp"
#include "runtime/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"

namespace qel::fuzz {

// Starts the runtime on the first input and starts it again on fresh
// memory every 2000 inputs; answers whether it started it now.
inline bool fresh_runtime() {
    static bool started = false;
    static uint32_t runs = 0;
    if (started && ++runs % 2000 != 0) return false;
    if (started) {
        root_cell = Cell{};
        stack::release();
        datatype::init_tables();
        startup::register_datatypes();
        memory::free_all_frames();
    }
    memory::init();
    startup::init();
    started = true;
    return true;
}

// Runs f inside a try region, so that a raised error lands here.
template <class F>
void guarded(F&& f) {
    stack::Saved saved;
    stack::mark_try(nullptr);
    try {
        f();
    } catch (const NonLocalExit&) {
    }
}

}  // namespace qel::fuzz
