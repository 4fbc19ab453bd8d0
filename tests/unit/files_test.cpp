// The file layer under the file! actions: whole reads and writes with
// offsets and counts, reads and writes that the system cuts short (signals,
// short counts, pipes that fill up), files whose size is not known before
// reading (pipes, /proc), a full disk, directory listings and the name
// operations.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.hpp"

namespace {

using namespace qel;

// A fresh folder, removed with what is left in it at the end of the test.
struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/qel-files-XXXXXX";
        const char* d = ::mkdtemp(pattern);
        path = d ? d : "";
    }
    ~TempDir() {
        const std::string cmd = "rm -rf '" + path + "'";
        if (!path.empty()) {
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void put(const std::string& path, const std::string& content) {
    ASSERT_TRUE(files::write_file(path, reinterpret_cast<const uint8_t*>(content.data()), content.size(), {}));
}

std::string got(const std::string& path, int64_t seek = -1, int64_t part = -1) {
    files::ReadRequest rq;
    rq.seek = seek;
    rq.part = part;
    const files::ReadResult r = files::read_file(path, rq);
    EXPECT_EQ(r.status, files::ReadStatus::Done);
    return std::string(r.bytes.begin(), r.bytes.end());
}

// ---- signals that cut calls short ------------------------------------------------

std::atomic<int> alarms{0};
void on_alarm(int) { alarms++; }

// SIGALRM every interval microseconds, without SA_RESTART so that a
// blocked read or write returns early; only threads that do not block
// the signal see it. Undone at the end of the scope.
struct AlarmRain {
    struct sigaction old{};
    explicit AlarmRain(long interval) {
        struct sigaction sa{};
        sa.sa_handler = on_alarm;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        ::sigaction(SIGALRM, &sa, &old);
        const itimerval t{{0, interval}, {0, interval}};
        ::setitimer(ITIMER_REAL, &t, nullptr);
    }
    ~AlarmRain() {
        const itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        ::sigaction(SIGALRM, &old, nullptr);
    }
};

void block_alarm(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    ::pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// A writer blocked on a full pipe that a slow reader drains: the signals
// end its writes early, with part of the bytes taken (a short count) or
// none (EINTR). Every byte must still arrive, in order.
TEST(Files, WriteAllContinuesAfterShortWritesAndSignals) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::vector<uint8_t> data(4 * 1024 * 1024);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    alarms = 0;
    block_alarm(true);  // this thread and the reader below never see them
    const AlarmRain rain(300);
    bool ok = false;
    std::thread writer([&] {
        block_alarm(false);
        ok = files::write_all(fds[1], data.data(), data.size());
        ::close(fds[1]);
    });
    std::vector<uint8_t> back;
    uint8_t chunk[4096];
    for (;;) {
        const int64_t n = files::read_some(fds[0], chunk, sizeof chunk);
        ASSERT_GE(n, 0);
        if (n == 0) break;
        back.insert(back.end(), chunk, chunk + n);
        if (back.size() % (64 * 1024) < 4096) ::usleep(200);
    }
    writer.join();
    block_alarm(false);
    ::close(fds[0]);
    EXPECT_TRUE(ok);
    EXPECT_GT(alarms.load(), 0);
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data);
}

// A reader blocked on an empty pipe is interrupted many times before the
// byte comes: read_some waits on and answers it.
TEST(Files, ReadSomeRepeatsAReadCutBySignals) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    alarms = 0;
    block_alarm(false);
    const AlarmRain rain(1000);
    std::thread writer([&] {
        block_alarm(true);
        ::usleep(50000);
        EXPECT_EQ(::write(fds[1], "x", 1), 1);
    });
    uint8_t b = 0;
    EXPECT_EQ(files::read_some(fds[0], &b, 1), 1);
    EXPECT_EQ(b, 'x');
    writer.join();
    EXPECT_GT(alarms.load(), 0);
    ::close(fds[0]);
    ::close(fds[1]);
}

// ---- failures that must not pass for success ---------------------------------------

TEST(Files, AFullDiskOrAClosedPipeIsAFailedWrite) {
    const std::string content(100000, 'a');
    const auto* p = reinterpret_cast<const uint8_t*>(content.data());
    EXPECT_FALSE(files::write_file("/dev/full", p, content.size(), {}));
    EXPECT_FALSE(files::write_file("/dev/full", p, 1, {}));
    // An empty write to a full disk writes nothing and is no failure.
    EXPECT_TRUE(files::write_file("/dev/full", p, 0, {}));

    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    EXPECT_FALSE(files::write_all(fds[1], p, content.size()));
    ::close(fds[1]);
    ::sigaction(SIGPIPE, &old, nullptr);
}

TEST(Files, NamesThatCannotBeOpened) {
    const TempDir d;
    EXPECT_EQ(files::read_file(d / "missing", {}).status, files::ReadStatus::CannotOpen);
    EXPECT_EQ(files::read_file("", {}).status, files::ReadStatus::CannotOpen);
    // A zero byte would cut the name the system sees: refused outright.
    put(d / "a", "abc");
    EXPECT_EQ(files::read_file(d / std::string("a\0b", 3), {}).status, files::ReadStatus::CannotOpen);
    EXPECT_FALSE(files::write_file(d / std::string("a\0b", 3), nullptr, 0, {}));
    EXPECT_FALSE(files::exists(d / std::string("a\0b", 3)));
    EXPECT_LT(files::open_write(d / std::string("a\0b", 3), {}), 0);
    // A directory opens but has no content to read.
    EXPECT_EQ(files::read_file(d.path, {}).status, files::ReadStatus::Failed);
    EXPECT_FALSE(files::write_file(d / "no/such/dir", nullptr, 0, {}));
}

// ---- reading ---------------------------------------------------------------------

TEST(Files, ReadsOffsetsAndCountsOfARegularFile) {
    const TempDir d;
    put(d / "f", "0123456789");
    struct Case {
        int64_t seek, part;
        const char* want;
    } cases[] = {
        {-1, -1, "0123456789"}, {3, -1, "3456789"}, {-1, 4, "0123"}, {2, 3, "234"},
        {-1, 0, ""},            {8, 5, "89"},       {10, -1, ""},    {99, 2, ""},
        {-1, 50, "0123456789"},
    };
    for (const Case& c : cases) EXPECT_EQ(got(d / "f", c.seek, c.part), c.want) << c.seek << " " << c.part;
    put(d / "empty", "");
    EXPECT_EQ(got(d / "empty"), "");
}

TEST(Files, MoreThanTheLimitIsTooLarge) {
    const TempDir d;
    put(d / "f", "0123456789");
    files::ReadRequest rq;
    rq.limit = 9;
    EXPECT_EQ(files::read_file(d / "f", rq).status, files::ReadStatus::TooLarge);
    rq.part = 9;
    EXPECT_EQ(files::read_file(d / "f", rq).status, files::ReadStatus::Done);
    // A file of unknown size is stopped once it passes the limit.
    rq.part = -1;
    rq.limit = 1000;
    EXPECT_EQ(files::read_file("/dev/zero", rq).status, files::ReadStatus::TooLarge);
}

// A pipe has no size: it is read to its end into a buffer that grows, its
// writer handing out pieces with pauses between them.
TEST(Files, ReadsAPipeToItsEndInOnePass) {
    const TempDir d;
    const std::string fifo = d / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string sent;
    for (int i = 0; i < 40000; i++) sent += std::to_string(i) + ",";
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        for (size_t at = 0; at < sent.size(); at += 7000) {
            const size_t n = std::min<size_t>(7000, sent.size() - at);
            ASSERT_TRUE(files::write_all(fd, reinterpret_cast<const uint8_t*>(sent.data()) + at, n));
            ::usleep(300);
        }
        ::close(fd);
    });
    const files::ReadResult r = files::read_file(fifo, {});
    writer.join();
    ASSERT_EQ(r.status, files::ReadStatus::Done);
    EXPECT_GT(sent.size(), 65536u * 3);
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), sent);
}

TEST(Files, OffsetsAndCountsOfAPipeAreTakenInWhatWasRead) {
    const TempDir d;
    const std::string fifo = d / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(files::write_all(fd, reinterpret_cast<const uint8_t*>("abcdefgh"), 8));
        ::close(fd);
    });
    EXPECT_EQ(got(fifo, 2, 3), "cde");
    writer.join();
}

// An endless device ends with a count: only offset + count bytes are read.
TEST(Files, AnEndlessDeviceEndsWithACount) {
    EXPECT_EQ(got("/dev/zero", -1, 100000), std::string(100000, '\0'));
    EXPECT_EQ(got("/dev/zero", 10, 5), std::string(5, '\0'));
    EXPECT_EQ(got("/dev/zero", -1, 0), "");
}

// The files of /proc report a size of 0 and hold text all the same.
TEST(Files, ProcFilesAreReadThoughTheirSizeIsZero) {
    const int fd = files::open_read("/proc/self/status");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(files::content_size(fd), 0);
    EXPECT_TRUE(files::close(fd));
    const std::string status = got("/proc/self/status");
    EXPECT_EQ(status.rfind("Name:", 0), 0u);
    EXPECT_NE(status.find("\nPid:"), std::string::npos);
    EXPECT_EQ(status.back(), '\n');
    // Long enough to come in several reads: the maps of this process.
    const std::string maps = got("/proc/self/maps");
    EXPECT_NE(maps.find("[stack]"), std::string::npos);
    EXPECT_EQ(got("/proc/self/status", 0, 5), "Name:");
}

// ---- writing ---------------------------------------------------------------------

TEST(Files, WritesEmptyAppendOrKeepTheRest) {
    const TempDir d;
    const std::string f = d / "f";
    auto write = [&](const std::string& s, files::WriteRequest rq) {
        EXPECT_TRUE(files::write_file(f, reinterpret_cast<const uint8_t*>(s.data()), s.size(), rq));
    };
    write("0123456789", {});
    EXPECT_EQ(got(f), "0123456789");
    write("ab", {});
    EXPECT_EQ(got(f), "ab");  // emptied first
    write("cd", {true, -1});
    EXPECT_EQ(got(f), "abcd");
    write("XY", {false, 1});
    EXPECT_EQ(got(f), "aXYd");  // written over, the rest kept
    write("Z", {false, 0});
    EXPECT_EQ(got(f), "ZXYd");
    write("!", {false, 6});
    EXPECT_EQ(got(f), std::string("ZXYd\0\0!", 7));
}

TEST(Files, LargeRandomContentRoundTrips) {
    const TempDir d;
    std::vector<uint8_t> data(3 * 1024 * 1024 + 17);
    uint32_t x = 12345;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    ASSERT_TRUE(files::write_file(d / "r", data.data(), data.size(), {}));
    const files::ReadResult r = files::read_file(d / "r", {});
    ASSERT_EQ(r.status, files::ReadStatus::Done);
    EXPECT_TRUE(r.bytes == data);
}

// ---- names ------------------------------------------------------------------------

TEST(Files, ListsADirectorySortedWithoutDotEntries) {
    const TempDir d;
    put(d / "b.txt", "");
    put(d / "a.txt", "");
    put(d / "B", "");
    put(d / "\xC3\xA9t\xC3\xA9", "");
    ASSERT_TRUE(files::make_dir(d / "sub"));
    ASSERT_EQ(::symlink((d / "sub").c_str(), (d / "link").c_str()), 0);
    const auto entries = files::list_dir(d.path);
    ASSERT_TRUE(entries.has_value());
    std::vector<std::string> names;
    for (const files::Entry& e : *entries) names.push_back(e.name + (e.directory ? "/" : ""));
    const std::vector<std::string> want = {"B", "a.txt", "b.txt", "link/", "sub/", "\xC3\xA9t\xC3\xA9"};
    EXPECT_EQ(names, want);
    EXPECT_TRUE(files::list_dir(d / "sub")->empty());
    EXPECT_FALSE(files::list_dir(d / "missing").has_value());
    EXPECT_FALSE(files::list_dir(d / "a.txt").has_value());
}

TEST(Files, InfoTellsKindSizeAndModificationTime) {
    const TempDir d;
    put(d / "f", "12345");
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (d / "f").c_str(), times, 0), 0);
    const auto i = files::info(d / "f");
    ASSERT_TRUE(i.has_value());
    EXPECT_EQ(i->kind, files::Kind::File);
    EXPECT_EQ(i->size, 5);
    EXPECT_EQ(i->modified_seconds, 1700000000);
    EXPECT_EQ(i->modified_nanoseconds, 250000000);
    EXPECT_EQ(files::info(d.path)->kind, files::Kind::Directory);
    EXPECT_EQ(files::info("/dev/null")->kind, files::Kind::Other);
    EXPECT_FALSE(files::info(d / "missing").has_value());
}

TEST(Files, FileSizeOfRegularFilesOnly) {
    const TempDir d;
    put(d / "f", "12345");
    EXPECT_EQ(files::file_size(d / "f"), 5);
    EXPECT_FALSE(files::file_size(d.path).has_value());
    EXPECT_FALSE(files::file_size(d / "missing").has_value());
    EXPECT_FALSE(files::file_size("/dev/null").has_value());
    EXPECT_FALSE(files::file_size("").has_value());
}

TEST(Files, MakeRemoveRenameAndExists) {
    const TempDir d;
    EXPECT_TRUE(files::make_dir(d / "x"));
    EXPECT_FALSE(files::make_dir(d / "x"));  // already there
    EXPECT_FALSE(files::make_dir(d / "y/z"));
    EXPECT_TRUE(files::exists(d / "x"));
    put(d / "x/f", "1");
    EXPECT_FALSE(files::remove_dir(d / "x"));  // not empty
    EXPECT_FALSE(files::remove_file(d / "x"));
    EXPECT_TRUE(files::rename(d / "x/f", d / "g"));
    EXPECT_FALSE(files::exists(d / "x/f"));
    EXPECT_EQ(got(d / "g"), "1");
    EXPECT_FALSE(files::rename(d / "missing", d / "h"));
    EXPECT_TRUE(files::remove_dir(d / "x"));
    EXPECT_FALSE(files::exists(d / "x"));
    EXPECT_FALSE(files::remove_dir(d / "g"));  // a file
    EXPECT_TRUE(files::remove_file(d / "g"));
    EXPECT_FALSE(files::remove_file(d / "g"));
}

}  // namespace
