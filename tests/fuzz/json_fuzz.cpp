// Fuzz target of the JSON decoder: any bytes are given to load-json as text.
// An error value, a raised error or bytes that are not UTF-8 are expected
// outcomes; anything the sanitizers or the fault handler see is a fault,
// and an input that takes too long is a hang.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qel::fuzz::fresh_library();
    qel::fuzz::call_on_text("load-json", data, size);
    return 0;
}
