// Console output: the lowest output layer. Text reaches fd 1 as UTF-8,
// whether fd 1 is a terminal or redirected; escape sequences pass through to
// the terminal, which speaks them itself. Lines end with LF.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::console {

// Decides once whether fd 1 is a terminal; allocates nothing that can fail.
void probe();
bool is_terminal();

// `count` units of width 1 (Latin-1), 2 (16-bit code units) or 4 (code
// points), with a line feed after them when `line`; any other width is
// runtime error 101.
void write_units(const void* text, size_t count, uint32_t unit, bool line);

const char* write_cstr(const char* text);
void write_bytes(const char* bytes, size_t count);  // UTF-8 as it is
void print_integer(int32_t v);   // %i
void print_hex8(uint32_t v);     // %08X
void print_float(double v);      // %.16g
void print_float32(float v);     // %.7g

// Sends staged output to fd 1.
void flush();

// Where output goes (fd 1 by default); tests point it at a pipe.
void set_output_fd(int fd);

// What the runtime adds to console output, set by its output start-up: the
// observer shown every zero-terminated string and number written, and the
// stop for a unit width that is none of 1, 2 and 4 (it does not return).
struct Hooks {
    void (*observe)(const void* text, size_t length, int zero) = nullptr;
    void (*bad_unit_width)() = nullptr;
};
void set_hooks(const Hooks& hooks);

// Ends the process through the runtime's stop for a unit width that is none
// of 1, 2 and 4 (any writer that takes a width); staged output goes first.
[[noreturn]] void fail_unit_width();

}  // namespace qel::console
