// Thin operating-system wrappers: memory regions, current directory, sleep,
// environment, clock and calendar.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qel::os {

// Page regions for the memory manager: null when the system refuses.
void* virtual_alloc(size_t size);
bool virtual_free(void* address, size_t size);

std::string get_current_dir();            // UTF-8, no terminator counted
bool set_current_dir(const std::string& path);

void sleep(double seconds);               // at least 1 ms
int32_t sleep_millis(double seconds);     // the milliseconds sleep() waits

bool set_env(const std::string& name, const std::string* value);  // null removes
std::optional<std::string> get_env(const std::string& name);

// Seconds since midnight UTC; with precise, 100-nanosecond resolution.
double get_time(bool precise);
// Date packed as year << 17 | month << 12 | day << 7 | zone; UTC has zone 0.
uint32_t get_date(bool utc);
// Zone field of a UTC offset in seconds: sign in bit 6, hours in bits 2-5,
// quarter hours in bits 0-1.
uint32_t pack_zone(int32_t offset_seconds);

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
