// Test helper: the bytes of a value's QELBIN image.
#pragma once
#include <cstdint>
#include <vector>

#include "codecs/qelbin.hpp"
#include "runtime/series.hpp"

namespace qel::testutil {

using Bytes = std::vector<uint8_t>;

inline Bytes encoded(const Cell& v, bool compact) {
    const node_t n = qelbin::encode(&v, compact);
    SeriesBuffer* s = series::buffer_of(n);
    return Bytes(series::head_ptr(s), series::tail_ptr(s));
}

}  // namespace qel::testutil
