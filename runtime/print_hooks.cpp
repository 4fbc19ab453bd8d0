// Output hooks: two lists of callbacks through which every printed text
// passes, so that another output layer can take over or watch the console.
// The arrays live on the tracked heap because they are made before the
// memory manager exists and must outlive every collection.
#include "runtime/print_hooks.hpp"

#include <cstring>

#include "platform/console.hpp"
#include "runtime/entry.hpp"
#include "runtime/heap.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/series.hpp"

namespace qel::print_hooks {

void (*before_print)() = nullptr;
void (*after_print)() = nullptr;

namespace {

constexpr uint32_t GROWTH = 5;

template <class Hook>
struct HookList {
    Hook* array = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    void make() {
        heap::free(array);  // a repeated start-up (tests) replaces the old list
        array = static_cast<Hook*>(heap::alloc(GROWTH * sizeof(Hook)));
        count = 0;
        capacity = GROWTH;
    }

    void add(Hook hook) {
        if (count == capacity) {
            // heap::alloc ends the process on failure, so the old array is
            // never lost half-way.
            auto* grown = static_cast<Hook*>(heap::alloc((capacity + GROWTH) * sizeof(Hook)));
            if (count) std::memcpy(grown, array, count * sizeof(Hook));
            heap::free(array);
            array = grown;
            capacity += GROWTH;
        }
        array[count++] = hook;
    }
};

HookList<FirstHook> first_list;
HookList<SecondHook> second_list;
uint32_t initialised = 0;

// A text of a unit width the console does not know is a fault of the caller.
[[noreturn]] void stop_on_unit_width() { rt::runtime_error(rt::code::NO_SWITCH, rt::here()); }

}  // namespace

void init() {
    first_list.make();
    second_list.make();
    first_list.add(console::print_hook);
    console::set_hooks({call_second_list, stop_on_unit_width});
    initialised = 1;
}

void add(FirstHook first, SecondHook second) {
    if (first) first_list.add(first);
    if (second) second_list.add(second);
}

// A hook may print, and so call the lists again, or even add a hook; the
// array is re-read on every step so a grown list is never read stale.
void call_first_list(const Cell* value, bool new_line) {
    for (uint32_t i = 0; i < first_list.count; ++i) first_list.array[i](value, new_line);
}

void call_second_list(const void* text, size_t length, int zero) {
    for (uint32_t i = 0; i < second_list.count; ++i) second_list.array[i](text, length, zero);
}

}  // namespace qel::print_hooks

namespace qel::console {

void print_hook(const Cell* value, bool new_line) {
    if (print_hooks::before_print) print_hooks::before_print();
    const SeriesBuffer* s = series::buffer_of(series_node(value));
    const uint32_t unit = series::unit(s);
    if (unit == 1 || unit == 2 || unit == 4) {
        // The value's index is in units; head and tail are byte offsets. An
        // index past the tail (the series shrank under the value) prints
        // nothing rather than reading outside the buffer.
        uint64_t start = s->head + static_cast<uint64_t>(series_index(value)) * unit;
        size_t count = start < s->tail ? (s->tail - start) / unit : 0;
        const uint8_t* text = reinterpret_cast<const uint8_t*>(s + 1) + (count ? start : 0);
        write_units(text, count, unit, new_line);
    } else {
        rt::print_values_line(
            {rt::PrintItem::cstr("Error: unknown string encoding: "),
             rt::PrintItem::integer(static_cast<int32_t>(unit))});
    }
    flush();
    if (print_hooks::after_print) print_hooks::after_print();
}

}  // namespace qel::console
