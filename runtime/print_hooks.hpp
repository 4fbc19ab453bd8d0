// Output hooks. List 1 receives the formed values of print and prin; start-up
// puts the default printer in it. List 2 receives the raw text of the
// low-level console writes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::print_hooks {

using FirstHook = void (*)(const Cell* value, bool new_line);
using SecondHook = void (*)(const void* text, size_t length, int zero);

void init();
void add(FirstHook first, SecondHook second);
void call_first_list(const Cell* value, bool new_line);
void call_second_list(const void* text, size_t length, int zero);

// Steps of the text-mode GUI run around every console print; null until the
// GUI sets them.
extern void (*before_print)();
extern void (*after_print)();

}  // namespace qel::print_hooks

namespace qel::console {
// The default hook of list 1: writes a string value by its unit width.
void print_hook(const Cell* value, bool new_line);
}  // namespace qel::console
