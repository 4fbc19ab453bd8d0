// The native level's own printer: tagged items written through the console
// writers, used for runtime errors, registry errors and encoding errors.
#pragma once
#include <cstdint>
#include <initializer_list>

namespace qel::rt {

struct PrintItem {
    enum Tag : int { LOGIC = 1, INTEGER = 2, BYTE = 3, FLOAT32 = 4, FLOAT64 = 5, CSTR = 6, HEX = 7 };
    Tag tag;
    int64_t i;
    double f;
    const char* s;

    static PrintItem logic(bool b) { return {LOGIC, b ? 1 : 0, 0, nullptr}; }
    static PrintItem integer(int32_t v) { return {INTEGER, v, 0, nullptr}; }
    static PrintItem byte(char c) { return {BYTE, static_cast<unsigned char>(c), 0, nullptr}; }
    static PrintItem float32(float v) { return {FLOAT32, 0, v, nullptr}; }
    static PrintItem float64(double v) { return {FLOAT64, 0, v, nullptr}; }
    static PrintItem cstr(const char* v) { return {CSTR, 0, 0, v}; }
    static PrintItem hex(uint32_t v) { return {HEX, v, 0, nullptr}; }
};

void print_values(std::initializer_list<PrintItem> items);
void print_values_line(std::initializer_list<PrintItem> items);

// (size + align - 1) with the low bits cleared; align is a power of two.
inline uint32_t round_up(uint32_t size, uint32_t align) { return (size + align - 1) & ~(align - 1); }

}  // namespace qel::rt
