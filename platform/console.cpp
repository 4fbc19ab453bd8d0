// Console output: every text the system prints ends here as UTF-8 bytes on
// the output descriptor (fd 1 unless a test points it elsewhere). Terminals
// interpret escape sequences themselves, so they pass through untouched.
//
// Runtime error reports and fault handlers print through this layer, so it
// uses only static storage and write(2): nothing here allocates, locks or
// touches the locale, and output that cannot be delivered is dropped.
#include "platform/console.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

#include "platform/utf8.hpp"

namespace qel::console {

namespace {

// Staging is flushed once more than STAGE_LIMIT bytes wait, so the widest
// code point (4 bytes) always fits behind the limit.
constexpr size_t STAGE_LIMIT = 1020;
constexpr size_t STAGE_SIZE = STAGE_LIMIT + 4;

uint8_t stage[STAGE_SIZE];
size_t staged = 0;
int output_fd = 1;
bool terminal = false;
Hooks runtime_hooks;

void observe(const void* text, size_t length) {
    if (runtime_hooks.observe) runtime_hooks.observe(text, length, 0);
}

// Delivers the bytes whole or not at all past the first failure: a reader
// that went away (EPIPE) or a full disk must not stop the program, and a
// non-blocking descriptor inherited from the shell waits for room instead
// of losing text.
void write_all(const void* data, size_t count) {
    const int saved_errno = errno;
    auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        ssize_t n = ::write(output_fd, p, count);
        if (n > 0) {
            p += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{output_fd, POLLOUT, 0};
            if (::poll(&pfd, 1, -1) >= 0 || errno == EINTR) continue;
        }
        break;
    }
    errno = saved_errno;
}

inline void stage_code_point(uint32_t cp) {
    staged += static_cast<size_t>(utf8::encode(cp, stage + staged));
    if (staged > STAGE_LIMIT) flush();
}

template <typename Unit>
void stage_units(const Unit* text, size_t count) {
    for (size_t i = 0; i < count; ++i) stage_code_point(text[i]);
}

void finish(bool line) {
    if (line) stage[staged++] = '\n';
    flush();
}

// Numbers go out as they were formatted and are then shown to the observers
// of low-level output, as zero-terminated strings are.
void emit_number(const char* text, size_t length) {
    write_all(text, length);
    observe(text, length);
}

// Upper-case hexadecimal padded with zeros to `width` digits ("%0NX").
void emit_hex(uint32_t v, int width) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = "0123456789ABCDEF"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    char text[8];
    int length = 0;
    for (int pad = width - n; pad > 0; --pad) text[length++] = '0';
    while (n > 0) text[length++] = digits[--n];
    emit_number(text, static_cast<size_t>(length));
}

// "%.Ng" without the C library: to_chars in general format with a precision
// rounds and trims exactly as printf does and never consults the locale.
void emit_general(double v, int precision) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::general, precision);
    emit_number(text, static_cast<size_t>(result.ptr - text));
}

}  // namespace

void probe() {
    staged = 0;
    terminal = ::isatty(1) == 1;
}

bool is_terminal() { return terminal; }

void flush() {
    if (staged == 0) return;
    // Reset first: a failed write drops the text rather than replaying it in
    // front of the next call's output.
    size_t count = staged;
    staged = 0;
    write_all(stage, count);
}

void set_output_fd(int fd) {
    flush();
    output_fd = fd;
}

void set_hooks(const Hooks& hooks) { runtime_hooks = hooks; }

void fail_unit_width() {
    flush();
    if (runtime_hooks.bad_unit_width) runtime_hooks.bad_unit_width();
    std::abort();  // no runtime to report it
}

void write_units(const void* text, size_t count, uint32_t unit, bool line) {
    switch (unit) {
    case 1: stage_units(static_cast<const uint8_t*>(text), count); break;
    case 2: stage_units(static_cast<const uint16_t*>(text), count); break;
    case 4: stage_units(static_cast<const uint32_t*>(text), count); break;
    default: fail_unit_width();
    }
    finish(line);
}

const char* write_cstr(const char* text) {
    if (text == nullptr) return text;
    size_t length = std::strlen(text);
    flush();
    write_all(text, length);
    observe(text, length);
    return text;
}

void write_bytes(const char* bytes, size_t count) {
    flush();
    write_all(bytes, count);
}

void print_integer(int32_t v) {
    char text[16];
    auto result = std::to_chars(text, text + sizeof text, v);
    emit_number(text, static_cast<size_t>(result.ptr - text));
}

void print_hex8(uint32_t v) { emit_hex(v, 8); }
void print_float(double v) { emit_general(v, 16); }
// printf promotes a float argument to double, so "%.7g" sees the float's
// exact value; converting first keeps the same digits.
void print_float32(float v) { emit_general(static_cast<double>(v), 7); }

}  // namespace qel::console
