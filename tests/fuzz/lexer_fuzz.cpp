// Fuzz target of the lexer: any bytes are loaded as source text. A syntax
// error is an expected outcome; anything else the sanitizers or the fault
// handler see is a fault. The runtime is started once and its memory
// reset between inputs by dropping every collected value: the collector
// stays off, so the frames are rebuilt every few thousand inputs.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "evaluator/stack.hpp"
#include "lexer/scanner.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/entry.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"

namespace {

bool started = false;
uint32_t runs = 0;

void start() {
    using namespace qel;
    if (started) {
        root_cell = Cell{};
        stack::release();
        datatype::init_tables();
        datatype::register_all();
        memory::free_all_frames();
    }
    memory::init();
    rt::init();
    lexer::init();
    started = true;
}

}  // namespace

// Runs f inside a try region, so that a raised error lands here.
template <class F>
void guarded(F&& f) {
    using namespace qel;
    stack::Saved saved;
    stack::mark_try(nullptr);
    try {
        f();
    } catch (const NonLocalExit&) {
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qel;
    if (!started || ++runs % 2000 == 0) start();
    stack::Saved saved;
    guarded([&] {
        Cell result{};
        lexer::load_text(reinterpret_cast<const char*>(data), size, &result);
    });
    // The checking modes walk other paths through the routines.
    if (size < 4096) {
        Cell* input = stack::push_slot();
        const node_t n = memory::alloc_bytes(static_cast<uint32_t>(size));
        series::append_bytes(n, data, static_cast<uint32_t>(size));
        *input = Cell{TYPE_BINARY, 0, n, 0};
        Cell* result = stack::push_slot();
        Cell* rest = stack::push_slot();
        lexer::Options scan;
        scan.scan = true;
        lexer::Options next;
        next.next = true;
        lexer::Options prescan;
        prescan.prescan = true;
        for (const lexer::Options* o : {&scan, &next, &prescan}) guarded([&] { lexer::transcode(input, *o, result, rest); });
    }
    return 0;
}
