// Fuzz target of the CSV decoder: any bytes are given to load-csv as text,
// plainly and as records under a header. An error value, a raised error or
// bytes that are not UTF-8 are expected outcomes; anything the sanitizers
// or the fault handler see is a fault, and an input that takes too long is
// a hang.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qel::fuzz::fresh_library();
    qel::fuzz::call_on_text("load-csv", data, size);
    qel::fuzz::call_on_text("load-csv/header/as-records", data, size);
    return 0;
}
