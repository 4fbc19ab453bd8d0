// Shared by the fuzz targets of library functions: the runtime with the
// boot image's library started on it, and a call of a library function on
// the input as text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datatypes/block.hpp"
#include "evaluator/interp.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "runtime/unicode.hpp"
#include "lexer/scanner.hpp"
#include "tests/fuzz/fuzz_runtime.hpp"

namespace qel::fuzz {

// The runtime of fresh_runtime, with the library started again whenever
// the runtime is.
inline void fresh_library() {
    if (fresh_runtime()) boot::start(boot_image::data, boot_image::size);
}

// Evaluates the source of call (a function and its refinements) with the
// input decoded as UTF-8 text as its argument. Bytes that are not UTF-8 and
// whatever error the function raises are expected outcomes.
inline void call_on_text(const char* call, const uint8_t* data, size_t size) {
    stack::Saved saved;
    guarded([&] {
        const unicode::Loaded loaded = unicode::load_utf8_new(data, static_cast<uint32_t>(size));
        const Cell text{TYPE_STRING, 0, loaded.node, 0};
        const Cell* held = stack::push(&text);
        Cell* code = stack::push_slot();
        lexer::load_text(call, std::strlen(call), code);
        block::append_copy(code, held);
        interp::eval_block(code, false);
    });
}

}  // namespace qel::fuzz
