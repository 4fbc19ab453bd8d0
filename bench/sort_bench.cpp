// Timings of the two generic record sorts against the C library's qsort and
// std::stable_sort, on 4-byte and 16-byte records of a few input shapes, with
// the number of compare calls each makes. Prints numbers only; nothing here
// passes or fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.hpp"

namespace {

size_t calls;

// The key is the record's first 4 bytes, as a cell's first payload word
// would be for a block of integers.
int compare_records(const void* a, const void* b, void*, uint32_t) {
    ++calls;
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return (x > y) - (x < y);
}

int compare_qsort(const void* a, const void* b) { return compare_records(a, b, nullptr, 0); }

enum Shape { RANDOM, SORTED, NEARLY_SORTED, FEW_KEYS, REVERSED };
const char* shape_names[] = {"random", "sorted", "nearly sorted", "few keys", "reversed"};

std::vector<uint8_t> make_input(Shape shape, size_t n, size_t width) {
    std::mt19937 rng(42);
    std::vector<uint8_t> bytes(n * width);
    for (size_t i = 0; i < n; ++i) {
        uint32_t key = shape == RANDOM          ? rng()
                       : shape == FEW_KEYS      ? rng() % 8
                       : shape == REVERSED      ? static_cast<uint32_t>(n - i)
                                                : static_cast<uint32_t>(i);
        std::memcpy(&bytes[i * width], &key, 4);
        for (size_t b = 4; b < width; ++b) bytes[i * width + b] = static_cast<uint8_t>(i + b);
    }
    if (shape == NEARLY_SORTED)
        for (size_t s = 0; s < n / 100; ++s) {
            uint8_t* a = &bytes[(rng() % n) * width];
            uint8_t* b = &bytes[(rng() % n) * width];
            if (a != b) std::swap_ranges(a, a + width, b);
        }
    return bytes;
}

template <size_t W>
struct Record {
    uint8_t bytes[W];
};

template <class Run>
void measure(const char* name, const std::vector<uint8_t>& input, Run run) {
    double times[5];
    size_t made = 0;
    for (double& t : times) {
        auto data = input;
        calls = 0;
        auto start = std::chrono::steady_clock::now();
        run(data.data());
        t = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        made = calls;
    }
    std::sort(std::begin(times), std::end(times));
    std::printf("  %-14s %9.2f ms %11zu calls\n", name, times[2], made);
}

template <size_t W>
void run_width(size_t n) {
    for (Shape shape : {RANDOM, SORTED, NEARLY_SORTED, FEW_KEYS, REVERSED}) {
        std::printf("%zu records of %zu bytes, %s\n", n, W, shape_names[shape]);
        auto input = make_input(shape, n, W);
        measure("merge_sort", input, [&](uint8_t* p) {
            qel::sort::merge_sort(p, n, W, nullptr, 0, compare_records);
        });
        measure("partition_sort", input, [&](uint8_t* p) {
            qel::sort::partition_sort(p, n, W, nullptr, 0, compare_records);
        });
        measure("qsort", input, [&](uint8_t* p) { std::qsort(p, n, W, compare_qsort); });
        measure("stable_sort", input, [&](uint8_t* p) {
            auto* r = reinterpret_cast<Record<W>*>(p);
            std::stable_sort(r, r + n, [](const Record<W>& a, const Record<W>& b) {
                return compare_records(a.bytes, b.bytes, nullptr, 0) < 0;
            });
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    run_width<4>(n);
    run_width<16>(n);
}
