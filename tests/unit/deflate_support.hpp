// Test helper: a codec of the deflate family run the way the natives run
// it, for the unit tests and the corpus driver.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/deflate.hpp"

namespace qel::testutil {

using Bytes = std::vector<uint8_t>;
using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

// A count without a buffer, then a buffer of exactly the size counted. The
// result code of the first failing call, or DONE with the output. The input
// sits in a heap block of its own size, so a read past it faults.
inline int run_codec(Codec codec, const Bytes& in, Bytes& out) {
    std::unique_ptr<uint8_t[]> input(new uint8_t[in.size() ? in.size() : 1]);
    std::copy(in.begin(), in.end(), input.get());
    size_t size = 0;
    int r = codec(nullptr, &size, input.get(), in.size());
    if (r != deflate::DONE && r != deflate::TOO_SMALL) return r;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size ? size : 1]);
    const size_t counted = size;
    r = codec(buffer.get(), &size, input.get(), in.size());
    if (r != deflate::DONE) return r;
    EXPECT_EQ(size, counted);
    out.assign(buffer.get(), buffer.get() + size);
    return r;
}

}  // namespace qel::testutil
