// Thin wrappers over the system for memory regions, the current directory,
// sleeping, the environment, the clock and the calendar, plus the platform
// step of the runtime start-up. Each reports failure by its result; callers
// decide what a failure means.
#include "platform/os.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#include "platform/console.hpp"

namespace qel::os {

namespace {

void* map_pages(size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

// A region of a huge page or more (a full series frame, a big buffer) is
// placed on a huge-page boundary and offered to the kernel for huge pages:
// the memory manager fills such regions from end to end, and one fault per
// huge page instead of one per page is most of the cost of a heap that
// grows. The over-mapped slack on either side is given back at once.
void* virtual_alloc(size_t size) {
    if (size < HUGE_PAGE) return map_pages(size);
    if (size > SIZE_MAX - HUGE_PAGE) return nullptr;
    auto* p = static_cast<uint8_t*>(map_pages(size + HUGE_PAGE));
    if (!p) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    uint8_t* region = p + (aligned - start);
    if (region > p) ::munmap(p, static_cast<size_t>(region - p));
    uint8_t* const end = p + size + HUGE_PAGE;
    if (end > region + size) ::munmap(region + size, static_cast<size_t>(end - (region + size)));
    // Only advice: without huge pages the region works the same.
    ::madvise(region, size, MADV_HUGEPAGE);
    return region;
}

bool virtual_free(void* address, size_t size) { return ::munmap(address, size) == 0; }

// The kernel moves the page mappings rather than the bytes, and pages
// beyond the old size stay untouched until written.
void* virtual_grow(void* address, size_t old_size, size_t new_size) {
    void* p = ::mremap(address, old_size, new_size, MREMAP_MAYMOVE);
    return p == MAP_FAILED ? nullptr : p;
}

std::string get_current_dir() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) return std::string(buffer.data());
        // Only a too-small buffer is worth another try; a directory that
        // was removed or cannot be read answers an empty name.
        if (errno != ERANGE) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

bool set_current_dir(const std::string& path) {
    return path.find('\0') == std::string::npos && ::chdir(path.c_str()) == 0;
}

Info info() {
    struct utsname u {};
    if (::uname(&u) != 0) return Info{"Linux", "", "", ""};
    return Info{u.sysname, u.machine, u.release, u.version};
}

int32_t sleep_millis(double seconds) {
    double ms = seconds * 1000.0;
    // Written so that NaN also takes the shortest wait.
    if (!(ms >= 1.0)) return 1;
    if (ms >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(ms);
}

void sleep(double seconds) {
    int32_t ms = sleep_millis(seconds);
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    // A signal (a terminal resize, say) must not cut the wait short.
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool set_env(const std::string& name, const std::string* value) {
    // The C interface ends strings at a zero byte; a name or value holding
    // one would silently change another variable or store a cut text.
    if (name.find('\0') != std::string::npos) return false;
    if (!value) return ::unsetenv(name.c_str()) == 0;
    if (value->find('\0') != std::string::npos) return false;
    return ::setenv(name.c_str(), value->c_str(), 1) == 0;
}

std::optional<std::string> get_env(const std::string& name) {
    if (name.find('\0') != std::string::npos) return std::nullopt;
    const char* v = std::getenv(name.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> vars;
    for (char** e = environ; e && *e; e++) {
        const std::string entry(*e);
        const size_t eq = entry.empty() ? std::string::npos : entry.find('=', 1);
        if (eq == std::string::npos) vars.emplace_back(entry, std::string());
        else vars.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return vars;
}

bool read_clock(bool utc, bool precise, ClockReading& out) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const time_t now = ts.tv_sec;
    tm parts{};
    if (utc ? !::gmtime_r(&now, &parts) : !::localtime_r(&now, &parts)) return false;
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.offset = utc ? 0 : static_cast<int32_t>(parts.tm_gmtoff);
    out.seconds = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec;
    if (precise) out.seconds += static_cast<double>(ts.tv_nsec / 100 * 100) / 1e9;
    return true;
}

void init_platform() { console::probe(); }

}  // namespace qel::os
