// The process layer below `call` and `browse`, and the system facts beside
// it: word splitting, starting, feeding and draining children, reaping
// them, the descriptors they inherit; the environment list.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/os.hpp"
#include "platform/process.hpp"

namespace {

using namespace qel;

std::string text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

process::Request capture(const std::string& command) {
    process::Request rq;
    rq.command = command;
    rq.wait = true;
    rq.output.kind = process::Redirect::DATA;
    rq.error.kind = process::Redirect::DATA;
    return rq;
}

std::string temp_dir() {
    char pattern[] = "/tmp/qel-process-XXXXXX";
    const char* d = ::mkdtemp(pattern);
    return d ? std::string(d) : std::string("/tmp");
}

TEST(Process, SplitsWordsAsAShellDoesOrHandsTheTextToIt) {
    struct Case {
        const char* command;
        bool plain;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"ls -l  /tmp", true, {"ls", "-l", "/tmp"}},
        {"\tprintf 'a\\nb'", true, {"printf", "a\\nb"}},
        {R"(echo "a \"b\" \\ \$x" c\ d '')", true, {"echo", R"(a "b" \ $x)", "c d", ""}},
        {R"(echo "x\y")", true, {"echo", R"(x\y)"}},
        {"echo a'b'\"c\"", true, {"echo", "abc"}},
        {"echo '|;&'", true, {"echo", "|;&"}},
        {"a=1", false, {}},  // an assignment
        {"ls | wc", false, {}},
        {"echo $HOME", false, {}},
        {"echo \"$HOME\"", false, {}},
        {"echo `date`", false, {}},
        {"cat < f", false, {}},
        {"echo *.txt", false, {}},
        {"echo ~", false, {}},
        {"a; b", false, {}},
        {"echo 'open", false, {}},
        {"echo \"open", false, {}},
        {"echo \\", false, {}},
        {"", false, {}},
        {"   ", false, {}},
        {"X=1 env", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words;
        const bool plain = process::split_words(c.command, words);
        EXPECT_EQ(plain, c.plain) << c.command;
        if (plain) {
            EXPECT_EQ(words, c.words) << c.command;
        }
    }
}

TEST(Process, AnswersExitStatusesAndFallsBackToTheShell) {
    struct Case {
        const char* command;
        bool shell;
        int32_t status;
    };
    const Case cases[] = {
        {"true", false, 0},
        {"false", false, 1},
        {"exit 3", false, 3},     // a shell built-in: no such program
        {"exit 4", true, 4},
        {"sh -c 'exit 300'", false, 44},  // statuses are modulo 256
        {"sh -c 'kill -TERM $$'", false, 128 + 15},
        {"test 1 = 1 && exit 5", false, 5},
        {"qel-no-such-program-anywhere", false, 127},
    };
    for (const Case& c : cases) {
        process::Request rq = capture(c.command);
        rq.shell = c.shell;
        EXPECT_EQ(process::run(rq), c.status) << c.command;
    }
}

TEST(Process, FailsWithoutHangingWhenNothingCanStart) {
    const std::string dir = temp_dir();
    // A program path that names a directory, an input file that is not
    // there, a command holding a zero byte.
    process::Request a = capture(dir);
    a.program = true;
    EXPECT_EQ(process::run(a), -1);

    process::Request b = capture("cat");
    b.input.kind = process::Redirect::PATH;
    b.input.path = dir + "/missing";
    EXPECT_EQ(process::run(b), -1);

    process::Request c = capture(std::string("echo a\0b", 8));
    EXPECT_EQ(process::run(c), -1);
    ::rmdir(dir.c_str());
}

TEST(Process, FeedsInputWhileDrainingBothStreams) {
    std::vector<uint8_t> big(3 * 1024 * 1024);
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<uint8_t>(i * 7 + i / 251);

    // cat gives everything back while it is still being fed.
    process::Request rq = capture("cat");
    rq.input.kind = process::Redirect::DATA;
    rq.input.bytes = big;
    EXPECT_EQ(process::run(rq), 0);
    EXPECT_EQ(rq.output.bytes, big);

    // A child that fills its error pipe before it reads anything.
    process::Request flood = capture("sh -c 'head -c 5000000 /dev/zero >&2; cat; echo end >&2'");
    flood.input.kind = process::Redirect::DATA;
    flood.input.bytes = big;
    EXPECT_EQ(process::run(flood), 0);
    EXPECT_EQ(flood.output.bytes, big);
    ASSERT_EQ(flood.error.bytes.size(), 5000004u);
    EXPECT_EQ(text({flood.error.bytes.end() - 4, flood.error.bytes.end()}), "end\n");

    // A child that never reads: the rest of the input is dropped, the
    // call still ends, and this process is not killed by SIGPIPE.
    process::Request deaf = capture("echo done");
    deaf.input.kind = process::Redirect::DATA;
    deaf.input.bytes = big;
    EXPECT_EQ(process::run(deaf), 0);
    EXPECT_EQ(text(deaf.output.bytes), "done\n");
}

TEST(Process, UnredirectedStreamsGoToTheNullDevice) {
    // The child's input is not ours (it reads end of file at once).
    process::Request rq = capture("sh -c 'cat; echo $?'");
    rq.output.kind = process::Redirect::DATA;
    rq.error.kind = process::Redirect::NONE;
    EXPECT_EQ(process::run(rq), 0);
    EXPECT_EQ(text(rq.output.bytes), "0\n");
}

TEST(Process, AppendsOutputToFilesAndReadsInputFromThem) {
    const std::string dir = temp_dir();
    const std::string out = dir + "/out.txt";
    for (const char* word : {"one", "two"}) {
        process::Request rq;
        rq.command = std::string("echo ") + word;
        rq.output.kind = process::Redirect::PATH;
        rq.output.path = out;
        EXPECT_EQ(process::run(rq), 0);  // a redirected stream forces the wait
    }
    process::Request back = capture("cat");
    back.input.kind = process::Redirect::PATH;
    back.input.path = out;
    EXPECT_EQ(process::run(back), 0);
    EXPECT_EQ(text(back.output.bytes), "one\ntwo\n");
    EXPECT_EQ(files::file_size(out), 8);
    ::unlink(out.c_str());
    ::rmdir(dir.c_str());
}

TEST(Process, ChildrenInheritOnlyTheirThreeStreams) {
    // A descriptor opened here without close-on-exec, and the pipes of the
    // call itself, must not reach the child.
    const int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 0);
    process::Request rq = capture("sh -c 'ls /proc/$$/fd'");
    rq.input.kind = process::Redirect::DATA;
    rq.input.bytes = {'x'};
    EXPECT_EQ(process::run(rq), 0);
    EXPECT_EQ(text(rq.output.bytes), "0\n1\n2\n");
    ::close(leaky);
}

TEST(Process, LeavesNoZombies) {
    // A waited-for child is reaped by the call.
    process::Request rq = capture("true");
    EXPECT_EQ(process::run(rq), 0);
    int status;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    // A child started without waiting answers its pid and is reaped later.
    process::Request bg;
    bg.command = "true";
    const int32_t pid = process::run(bg);
    ASSERT_GT(pid, 0);
    siginfo_t info{};
    // Blocks until it ended, without collecting it.
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
    process::reap_background();
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// Sets or removes an environment variable for one test and puts the old
// value back at its end.
struct EnvSetting {
    std::string name;
    bool had;
    std::string old;
    EnvSetting(const char* n, const char* value) : name(n) {
        const char* o = std::getenv(n);
        had = o != nullptr;
        if (o) old = o;
        if (value) ::setenv(n, value, 1);
        else ::unsetenv(n);
    }
    ~EnvSetting() {
        if (had) ::setenv(name.c_str(), old.c_str(), 1);
        else ::unsetenv(name.c_str());
    }
};

TEST(Process, BrowseWithoutAHandlerFailsAtOnce) {
    const EnvSetting display("DISPLAY", ":0");
    const EnvSetting path("PATH", "/nonexistent-qel-bin");
    EXPECT_FALSE(process::browse("http://example.com/"));
    EXPECT_FALSE(process::browse(std::string("a\0b", 3)));
}

// A handler of our own on the PATH, which leaves a mark when it runs:
// without a display it is never started, with one it is.
TEST(Process, BrowseNeedsADisplay) {
    const std::string dir = temp_dir();
    const std::string handler = dir + "/xdg-open";
    const std::string mark = dir + "/opened";
    FILE* f = std::fopen(handler.c_str(), "w");
    ASSERT_TRUE(f);
    std::fprintf(f, "#!/bin/sh\necho \"$1\" > '%s'\n", mark.c_str());
    std::fclose(f);
    ::chmod(handler.c_str(), 0755);
    const EnvSetting path("PATH", (dir + ":/usr/bin:/bin").c_str());
    {
        const EnvSetting x11("DISPLAY", nullptr);
        const EnvSetting wayland("WAYLAND_DISPLAY", "");
        EXPECT_FALSE(process::browse("http://example.com/"));
    }
    {
        const EnvSetting x11("DISPLAY", ":0");
        EXPECT_TRUE(process::browse("http://example.com/"));
    }
    // The handler runs detached: wait for its mark.
    bool marked = false;
    for (int i = 0; i < 500 && !marked; i++) {
        marked = ::access(mark.c_str(), F_OK) == 0;
        if (!marked) ::usleep(10000);
    }
    EXPECT_TRUE(marked);
    process::reap_background();
    ::unlink(mark.c_str());
    ::unlink(handler.c_str());
    ::rmdir(dir.c_str());
}


TEST(Os, ListEnvSplitsAtTheFirstEqualsSign) {
    ::setenv("QEL_LIST_TEST", "a=b", 1);
    bool seen = false;
    for (const auto& [name, value] : os::list_env()) {
        if (name == "QEL_LIST_TEST") {
            EXPECT_EQ(value, "a=b");
            seen = true;
        }
        EXPECT_FALSE(name.empty());
    }
    EXPECT_TRUE(seen);
    ::unsetenv("QEL_LIST_TEST");
}

}  // namespace
