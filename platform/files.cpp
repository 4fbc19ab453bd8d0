// Files and directories on POSIX (see files.hpp): open, read, write,
// fstat, opendir, rename, unlink, mkdir, each repeated when a signal cuts
// it short.
#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qel::files {

namespace {

bool usable(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

int open_path(const std::string& path, int flags) {
    if (!usable(path)) return -1;
    int fd;
    do fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Closes on every way out of a read.
struct Closer {
    int fd;
    ~Closer() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads until the end or until max bytes, into out, which grows by
// doubling; the steps of a pipe or a /proc file come in whatever sizes
// the system hands out.
ReadStatus read_growing(int fd, std::vector<uint8_t>& out, uint64_t max, size_t limit) {
    size_t used = out.size();
    for (;;) {
        if (used >= max) break;
        if (out.size() - used < 4096) out.resize(std::max<size_t>(out.size() * 2, used + 65536));
        const size_t room = static_cast<size_t>(std::min<uint64_t>(out.size() - used, max - used));
        const int64_t got = read_some(fd, out.data() + used, room);
        if (got < 0) return ReadStatus::Failed;
        if (got == 0) break;
        used += static_cast<size_t>(got);
        if (used > limit) return ReadStatus::TooLarge;
    }
    out.resize(used);
    return ReadStatus::Done;
}

}  // namespace

// ---- descriptors ---------------------------------------------------------------

int open_read(const std::string& path) { return open_path(path, O_RDONLY); }

int open_write(const std::string& path, WriteMode mode) {
    int flags = O_WRONLY | O_CREAT;
    if (mode.append) flags |= O_APPEND;
    else if (!mode.keep) flags |= O_TRUNC;
    return open_path(path, flags);
}

int64_t read_some(int fd, uint8_t* buffer, size_t count) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, count);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

bool write_all(int fd, const uint8_t* data, size_t count) {
    while (count > 0) {
        const ssize_t put = ::write(fd, data, count);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // Nothing taken and no error: the system cannot go on, and trying
        // again would spin.
        if (put == 0) return false;
        data += put;
        count -= static_cast<size_t>(put);
    }
    return true;
}

bool close(int fd) {
    // After EINTR the descriptor is already gone on Linux: closing it again
    // could close one another thread just opened. The data went out.
    return ::close(fd) == 0 || errno == EINTR;
}

std::optional<int64_t> content_size(int fd) {
    struct stat st{};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

bool seek(int fd, int64_t offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

// ---- whole files ---------------------------------------------------------------

ReadResult read_file(const std::string& path, const ReadRequest& rq) {
    ReadResult r;
    const int fd = open_read(path);
    if (fd < 0) {
        r.status = ReadStatus::CannotOpen;
        return r;
    }
    const Closer closer{fd};
    const std::optional<int64_t> size = content_size(fd);
    if (!size) {
        r.status = ReadStatus::Failed;
        return r;
    }
    const uint64_t start = rq.seek > 0 ? static_cast<uint64_t>(rq.seek) : 0;
    const uint64_t part = rq.part >= 0 ? static_cast<uint64_t>(rq.part) : UINT64_MAX;

    if (*size == 0) {
        // Measured by reading it: the offset cannot be sought in a pipe.
        const uint64_t max = part == UINT64_MAX ? UINT64_MAX : start + part;
        r.status = read_growing(fd, r.bytes, max, rq.limit == SIZE_MAX ? SIZE_MAX : start + rq.limit);
        if (r.status != ReadStatus::Done) {
            r.bytes.clear();
            return r;
        }
        if (start >= r.bytes.size()) r.bytes.clear();
        else r.bytes.erase(r.bytes.begin(), r.bytes.begin() + static_cast<ptrdiff_t>(start));
        if (r.bytes.size() > part) r.bytes.resize(static_cast<size_t>(part));
        if (r.bytes.size() > rq.limit) {
            r.bytes.clear();
            r.status = ReadStatus::TooLarge;
        }
        return r;
    }

    const uint64_t total = static_cast<uint64_t>(*size);
    if (start >= total) return r;
    const uint64_t want = std::min(total - start, part);
    if (want > rq.limit) {
        r.status = ReadStatus::TooLarge;
        return r;
    }
    if (start > 0 && !seek(fd, static_cast<int64_t>(start))) {
        r.status = ReadStatus::Failed;
        return r;
    }
    r.bytes.resize(static_cast<size_t>(want));
    size_t used = 0;
    while (used < want) {
        const int64_t got = read_some(fd, r.bytes.data() + used, static_cast<size_t>(want) - used);
        if (got < 0) {
            r.bytes.clear();
            r.status = ReadStatus::Failed;
            return r;
        }
        // Cut shorter since it was measured: what is there is the content.
        if (got == 0) break;
        used += static_cast<size_t>(got);
    }
    r.bytes.resize(used);
    return r;
}

bool write_file(const std::string& path, const uint8_t* data, size_t count, const WriteRequest& rq) {
    const WriteMode mode{rq.append, rq.seek >= 0};
    const int fd = open_write(path, mode);
    if (fd < 0) return false;
    bool ok = !(rq.seek > 0 && !rq.append) || seek(fd, rq.seek);
    ok = ok && write_all(fd, data, count);
    // Closed in every case; its own report counts only when all went well.
    const bool closed = close(fd);
    return ok && closed;
}

// ---- names ---------------------------------------------------------------------

std::optional<Info> info(const std::string& path) {
    if (!usable(path)) return std::nullopt;
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    Info i;
    i.kind = S_ISREG(st.st_mode) ? Kind::File : S_ISDIR(st.st_mode) ? Kind::Directory : Kind::Other;
    i.size = static_cast<int64_t>(st.st_size);
    i.modified_seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    i.modified_nanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec);
    return i;
}

bool exists(const std::string& path) { return info(path).has_value(); }

std::optional<int64_t> file_size(const std::string& path) {
    const std::optional<Info> i = info(path);
    if (!i || i->kind != Kind::File) return std::nullopt;
    return i->size;
}

std::optional<std::vector<Entry>> list_dir(const std::string& path) {
    if (!usable(path)) return std::nullopt;
    const int fd = open_path(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return std::nullopt;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) break;
        const std::string name(e->d_name);
        if (name == "." || name == "..") continue;
        bool directory = e->d_type == DT_DIR;
        // The kind is not always in the entry, and a link's is its
        // target's.
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st{};
            directory = ::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(Entry{name, directory});
    }
    const bool failed = errno != 0;
    ::closedir(dir);
    if (failed) return std::nullopt;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

bool make_dir(const std::string& path) { return usable(path) && ::mkdir(path.c_str(), 0777) == 0; }

bool remove_file(const std::string& path) { return usable(path) && ::unlink(path.c_str()) == 0; }

bool remove_dir(const std::string& path) { return usable(path) && ::rmdir(path.c_str()) == 0; }

bool rename(const std::string& from, const std::string& to) {
    return usable(from) && usable(to) && ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace qel::files
