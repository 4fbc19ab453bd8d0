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
void* virtual_alloc(size_t size);
bool virtual_free(void* address, size_t size);

std::string get_current_dir();            // UTF-8, no terminator counted
bool set_current_dir(const std::string& path);

void sleep(double seconds);               // at least 1 ms
int32_t sleep_millis(double seconds);     // the milliseconds sleep() waits

bool set_env(const std::string& name, const std::string* value);  // null removes
std::optional<std::string> get_env(const std::string& name);
// Every variable as a name and a value, in the order the system keeps them.
// The name ends at the first '=' that is not its first character; an entry
// without such a sign is a name with an empty value.
std::vector<std::pair<std::string, std::string>> list_env();

// The command line as one text: the arguments joined by blanks, each one
// that is empty or holds a blank or a tab written between double quotes,
// so that splitting the text at blanks outside double quotes and dropping
// the quotes at an argument's ends gives the arguments back (an argument
// holding a double quote itself cannot be told apart that way).
std::string command_line(int argc, const char* const* argv);

// Size in bytes of a regular file's content; nothing for a file that
// cannot be opened for reading, a directory, or a size the system cannot
// give.
std::optional<int64_t> file_size(const std::string& path);

// The operating system: name (the distribution's name and version when
// /etc/os-release tells them, else the kernel's name), the processor
// architecture (x86-32, x86-64, ARM, ARM64, IA-64 or Unknown), the kernel
// release as three numbers, and the number that follows them in the
// release text (the distribution's build of that kernel), else 0.
struct OsInfo {
    std::string name;
    std::string arch;
    uint8_t version[3];
    int32_t build;
};
OsInfo os_info();
// The parts of os_info that come from texts, for testing: the kernel
// name, machine and release as uname gives them and the os-release file's
// content (empty when it cannot be read).
OsInfo os_info_from(const std::string& sysname, const std::string& machine, const std::string& release,
                    const std::string& os_release);

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
