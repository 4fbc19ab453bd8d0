// Fuzz target of the QELBIN reader: any bytes are decoded as an image.
// Language errors are the expected outcome of bad data; anything the
// sanitizers or the fault handler see is a fault. The runtime is started
// once and its memory rebuilt every few thousand inputs.
#include <cstddef>
#include <cstdint>

#include "codecs/qelbin.hpp"
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qel;
    if (!started || ++runs % 2000 == 0) start();
    stack::Saved saved;
    stack::mark_try(nullptr);
    try {
        qelbin::decode(data, size);
    } catch (const NonLocalExit&) {
    }
    return 0;
}
