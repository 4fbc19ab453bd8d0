// The native level's own printer and two small numeric helpers that sit
// below every datatype. The printer is what runtime errors and registry
// errors are reported with, so it uses nothing but the console writers: no
// series, no memory manager, nothing that could fail in turn.
#include "runtime/lowprint.hpp"

#include <cmath>

#include "platform/console.hpp"
#include "runtime/print_hooks.hpp"

namespace qel::rt {

namespace {

void print_item(const PrintItem& item) {
    switch (item.tag) {
    case PrintItem::LOGIC:
        console::write_cstr(item.i ? "true" : "false");
        break;
    case PrintItem::INTEGER:
        console::print_integer(static_cast<int32_t>(item.i));
        break;
    case PrintItem::BYTE: {
        char c = static_cast<char>(item.i);
        console::write_bytes(&c, 1);
        break;
    }
    case PrintItem::FLOAT32:
        console::print_float32(static_cast<float>(item.f));
        break;
    case PrintItem::FLOAT64:
        console::print_float(item.f);
        break;
    case PrintItem::CSTR:
        // Through the zero-terminated writer, so that observers of
        // low-level output see messages as they see numbers. A null
        // message prints nothing rather than taking the report down.
        console::write_cstr(item.s);
        break;
    default:
        console::print_hex8(static_cast<uint32_t>(item.i));
        break;
    }
}

void print_all(std::initializer_list<PrintItem> items, bool line) {
    if (print_hooks::before_print) print_hooks::before_print();
    for (const PrintItem& item : items) print_item(item);
    // The line feed goes out with the items, before the flush, so a report
    // printed just before the process ends is never left half-written.
    if (line) console::write_bytes("\n", 1);
    console::flush();
    if (print_hooks::after_print) print_hooks::after_print();
}

}  // namespace

void print_values(std::initializer_list<PrintItem> items) { print_all(items, false); }

void print_values_line(std::initializer_list<PrintItem> items) { print_all(items, true); }

char print_char(char c) {
    console::write_bytes(&c, 1);
    return c;
}

}  // namespace qel::rt

namespace qel::math {

double degrees_to_radians(double angle, int mode) {
    double a = std::fmod(angle, 360.0);
    if (a > 180.0 || a < -180.0) a = a < 0.0 ? a + 360.0 : a - 360.0;
    // Folding into [-90, 90] keeps the argument where the library functions
    // are most accurate; the fold differs by function because tangent has
    // period 180 while sine is mirrored around 90.
    if (a > 90.0 || a < -90.0) {
        if (mode == 0)
            a = a < 0.0 ? a + 180.0 : a - 180.0;
        else if (mode == 2)
            a = a < 0.0 ? -180.0 - a : 180.0 - a;
    }
    return a * 3.141592653589793 / 180.0;
}

}  // namespace qel::math
