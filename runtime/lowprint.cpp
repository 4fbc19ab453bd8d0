// The native level's own printer. It is what runtime errors and registry
// errors are reported with, so it uses nothing but the console writers: no
// series, no memory manager, nothing that could fail in turn.
#include "runtime/lowprint.hpp"

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

}  // namespace qel::rt
