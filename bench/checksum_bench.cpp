// Speed of the CRC-32 and Adler-32 that the gzip and zlib wrappers use, on
// 10 MB of pseudo-random bytes: milliseconds per pass and MB/s, the median
// of several runs. Prints numbers only; nothing here passes or fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "codecs/checksum.hpp"

namespace {

template <class F>
double median_ms(F&& f, int runs) {
    std::vector<double> times;
    for (int r = 0; r < runs; r++) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10u << 20;
    std::vector<unsigned char> data(size);
    std::mt19937 gen(1);
    for (unsigned char& b : data) b = static_cast<unsigned char>(gen());

    volatile uint32_t sink = 0;
    struct Row {
        const char* name;
        uint32_t (*sum)(const void*, size_t);
    };
    const Row rows[] = {
        {"crc32", [](const void* p, size_t n) { return qel::checksum::crc32(p, n); }},
        {"adler32", [](const void* p, size_t n) { return qel::checksum::adler32(p, n); }},
    };
    std::printf("%-10s %12s %10s %10s\n", "sum", "bytes", "ms", "MB/s");
    for (const Row& r : rows) {
        const double ms = median_ms([&] { sink = r.sum(data.data(), data.size()); }, 9);
        std::printf("%-10s %12zu %10.3f %10.1f\n", r.name, size, ms, static_cast<double>(size) / 1e3 / ms);
    }
    (void)sink;
}
