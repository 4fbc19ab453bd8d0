// Fuzz target of the QELBIN reader: any bytes are decoded as an image.
// Language errors are the expected outcome of bad data; anything the
// sanitizers or the fault handler see is a fault. The runtime is started
// once and its memory rebuilt every few thousand inputs.
#include <cstddef>
#include <cstdint>

#include "codecs/qelbin.hpp"
#include "tests/fuzz/fuzz_runtime.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qel;
    fuzz::fresh_runtime();
    fuzz::guarded([&] { qelbin::decode(data, size); });
    return 0;
}
