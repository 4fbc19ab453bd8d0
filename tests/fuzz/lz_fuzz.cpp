// Fuzz target of the LZ decompressor: any bytes are a container. Refusing
// one is an expected outcome; a read past the input, a write past the
// declared length or a result of another length is a fault. The
// compressor's round trip is left to the unit tests: clearing its hash
// tables costs milliseconds per call, which would starve the short run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/lz.hpp"
#include "runtime/heap.hpp"

namespace {

uint32_t declared_length(const uint8_t* data) {
    return uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 | uint32_t(data[7]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qel;
    uint32_t len = 0;
    uint8_t* out = lzcomp::decompress(data, size, &len);
    if (out) {
        if (len != declared_length(data)) std::abort();
        heap::free(out);
    }
    return 0;
}
