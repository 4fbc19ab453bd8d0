// Thin operating-system wrappers: memory regions, current directory, sleep,
// environment, clock and calendar.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qel::os {

// Page regions for the memory manager: null when the system refuses.
// A region of HUGE_PAGE bytes or more starts on a HUGE_PAGE boundary.
constexpr size_t HUGE_PAGE = size_t{1} << 21;
void* virtual_alloc(size_t size);
bool virtual_free(void* address, size_t size);
// A region grown to new_size, its contents kept, at the same or another
// address (the old one is then gone); null, the region left as it was,
// when the system refuses.
void* virtual_grow(void* address, size_t old_size, size_t new_size);

std::string get_current_dir();            // UTF-8, no terminator counted
bool set_current_dir(const std::string& path);

// What the system says of itself: kernel name, machine, release, version.
struct Info {
    std::string name, arch, version, build;
};
Info info();

void sleep(double seconds);               // at least 1 ms
int32_t sleep_millis(double seconds);     // the milliseconds sleep() waits

bool set_env(const std::string& name, const std::string* value);  // null removes
std::optional<std::string> get_env(const std::string& name);
// Every variable as a name and a value, in the order the system keeps them.
// The name ends at the first '=' that is not its first character; an entry
// without such a sign is a name with an empty value.
std::vector<std::pair<std::string, std::string>> list_env();

// One reading of the clock: the calendar day and the clock time in local
// time (UTC with utc), and the local offset from UTC in seconds (0 with
// utc). seconds is the time of day on that clock, whole seconds unless
// precise. false when the system cannot give the calendar.
struct ClockReading {
    int32_t year, month, day;
    double seconds;
    int32_t offset;
};
bool read_clock(bool utc, bool precise, ClockReading& out);

// Platform step of the runtime start-up.
void init_platform();

}  // namespace qel::os
