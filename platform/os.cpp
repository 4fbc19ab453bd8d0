// Thin wrappers over the system for memory regions, the current directory,
// sleeping, the environment, the clock and the calendar, plus the platform
// step of the runtime start-up. Each reports failure by its result; callers
// decide what a failure means.
#include "platform/os.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#include "platform/console.hpp"

namespace qel::os {

void* virtual_alloc(size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool virtual_free(void* address, size_t size) { return ::munmap(address, size) == 0; }

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
    if (path.find('\0') != std::string::npos) return false;
    return ::chdir(path.c_str()) == 0;
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

std::string command_line(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; i++) {
        const std::string arg(argv[i] ? argv[i] : "");
        if (i > 0) line += ' ';
        if (arg.empty() || arg.find_first_of(" \t") != std::string::npos) line += '"' + arg + '"';
        else line += arg;
    }
    return line;
}

std::optional<int64_t> file_size(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    struct stat st{};
    const bool ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    // A directory opens for reading here, but has no content to measure.
    if (!ok || S_ISDIR(st.st_mode)) return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

namespace {

// The value of KEY= in an os-release text, its quotes removed.
std::string release_field(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string v = line.substr(key.size() + 1);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return v;
    }
    return std::string();
}

std::string arch_of(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return "x86-32";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine.compare(0, 3, "arm") == 0) return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

}  // namespace

OsInfo os_info_from(const std::string& sysname, const std::string& machine, const std::string& release,
                    const std::string& os_release) {
    OsInfo info{};
    std::string name = release_field(os_release, "NAME");
    const std::string version = release_field(os_release, "VERSION_ID");
    if (name.empty()) name = sysname.empty() ? "Linux" : sysname;
    else if (!version.empty()) name += " " + version;
    info.name = name;
    info.arch = arch_of(machine);

    // "6.1.0-18-amd64": three numbers, then the build number after them.
    size_t i = 0;
    for (int part = 0; part < 3; part++) {
        uint32_t v = 0;
        bool digits = false;
        while (i < release.size() && release[i] >= '0' && release[i] <= '9') {
            v = v * 10 + static_cast<uint32_t>(release[i] - '0');
            if (v > 255) v = 255;
            digits = true;
            i++;
        }
        if (!digits) break;
        info.version[part] = static_cast<uint8_t>(v);
        if (part < 2) {
            if (i >= release.size() || release[i] != '.') break;
            i++;
        }
    }
    while (i < release.size() && !(release[i] >= '0' && release[i] <= '9')) i++;
    int64_t build = 0;
    while (i < release.size() && release[i] >= '0' && release[i] <= '9' && build <= INT32_MAX / 10)
        build = build * 10 + (release[i++] - '0');
    info.build = static_cast<int32_t>(build > INT32_MAX ? INT32_MAX : build);
    return info;
}

OsInfo os_info() {
    utsname u{};
    const bool ok = ::uname(&u) == 0;
    std::string os_release;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream f(path);
        if (!f) continue;
        std::ostringstream text;
        text << f.rdbuf();
        os_release = text.str();
        break;
    }
    return os_info_from(ok ? u.sysname : "", ok ? u.machine : "", ok ? u.release : "", os_release);
}

double get_time(bool precise) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    int64_t day_seconds = static_cast<int64_t>(ts.tv_sec) % 86400;
    if (day_seconds < 0) day_seconds += 86400;  // clocks set before 1970
    double t = static_cast<double>(day_seconds);
    if (precise) t += static_cast<double>(ts.tv_nsec / 100 * 100) / 1e9;
    return t;
}

uint32_t pack_zone(int32_t offset_seconds) {
    // Sign and magnitude are split from the whole offset in minutes, so
    // -00:30 stays west of UTC and -05:45 keeps its three quarters.
    int32_t minutes = offset_seconds / 60;
    bool west = minutes < 0;
    uint32_t magnitude = west ? static_cast<uint32_t>(-static_cast<int64_t>(minutes))
                              : static_cast<uint32_t>(minutes);
    uint32_t hours = (magnitude / 60) & 0x0F;
    uint32_t quarters = (magnitude % 60 / 15) & 3;
    return (west ? 0x40u : 0u) | hours << 2 | quarters;
}

uint32_t get_date(bool utc) {
    time_t now = ::time(nullptr);
    tm parts{};
    if (utc ? !::gmtime_r(&now, &parts) : !::localtime_r(&now, &parts)) return 0;
    uint32_t year = static_cast<uint32_t>(parts.tm_year + 1900);
    uint32_t month = static_cast<uint32_t>(parts.tm_mon + 1);
    uint32_t day = static_cast<uint32_t>(parts.tm_mday);
    uint32_t zone = utc ? 0 : pack_zone(static_cast<int32_t>(parts.tm_gmtoff));
    return year << 17 | month << 12 | day << 7 | zone;
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
