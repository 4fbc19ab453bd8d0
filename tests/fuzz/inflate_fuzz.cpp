// Fuzz target of the inflater and its zlib and gzip readers: any bytes are
// a stream for each of the three. Refusing one is an expected outcome; a
// read past the input, a write past the capacity, a count that a second
// call into a buffer of that size does not repeat (a wrapper's checksum
// aside), or a buffer one byte short that is not reported as too small is
// a fault. The input also goes
// once through the compressor and back, which must give it unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codecs/deflate.hpp"

namespace {

using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

void check_decoder(Codec codec, const uint8_t* data, size_t size) {
    using namespace qel::deflate;
    size_t needed = 0;
    int r = codec(nullptr, &needed, data, size);
    if (r != DONE && r != TOO_SMALL) return;
    if (r == DONE && needed != 0) std::abort();
    std::unique_ptr<uint8_t[]> out(new uint8_t[needed ? needed : 1]);
    size_t got = needed;
    // The wrappers check their checksum only over an output they hold, so
    // a count can pass where the decoding then fails; raw deflate cannot.
    r = codec(out.get(), &got, data, size);
    if (r == MALFORMED && codec != qel::deflate::decompress) return;
    if (r != DONE || got != needed) std::abort();
    if (needed > 0) {
        std::unique_ptr<uint8_t[]> short_out(new uint8_t[needed - 1 ? needed - 1 : 1]);
        size_t short_size = needed - 1;
        if (codec(short_out.get(), &short_size, data, size) != TOO_SMALL || short_size != needed) std::abort();
        // What fits must be the start of the output (the wrappers check
        // their checksum only over a whole output).
        if (codec == qel::deflate::decompress && std::memcmp(short_out.get(), out.get(), needed - 1) != 0)
            std::abort();
    }
}

void check_round_trip(const uint8_t* data, size_t size) {
    using namespace qel;
    size_t packed_size = 0;
    if (gzip::compress(nullptr, &packed_size, data, size) != deflate::TOO_SMALL) std::abort();
    std::unique_ptr<uint8_t[]> packed(new uint8_t[packed_size]);
    if (gzip::compress(packed.get(), &packed_size, data, size) != deflate::DONE) std::abort();
    std::unique_ptr<uint8_t[]> back(new uint8_t[size ? size : 1]);
    size_t back_size = size;
    if (gzip::decompress(back.get(), &back_size, packed.get(), packed_size) != deflate::DONE) std::abort();
    if (back_size != size || (size && std::memcmp(back.get(), data, size) != 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_decoder(qel::deflate::decompress, data, size);
    check_decoder(qel::zlib::decompress, data, size);
    check_decoder(qel::gzip::decompress, data, size);
    check_round_trip(data, size);
    return 0;
}
