// Fuzz target of the lexer: any bytes are loaded as source text. A syntax
// error is an expected outcome; anything else the sanitizers or the fault
// handler see is a fault.
#include <cstddef>
#include <cstdint>

#include "lexer/scanner.hpp"
#include "tests/fuzz/fuzz_runtime.hpp"

using qel::fuzz::guarded;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qel;
    fuzz::fresh_runtime();
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
