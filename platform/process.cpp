// External processes on POSIX: posix_spawn with close-on-exec pipes, one
// poll loop over the child's input, output and error, waitpid.
#include "platform/process.hpp"

#include "platform/files.hpp"
#include "platform/os.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

extern char** environ;

namespace qel::process {

namespace {

// Children started without waiting, reaped by reap_background.
std::vector<pid_t> background;

// A descriptor closed when it goes out of scope, on every way out.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    void reset(int f) {
        close();
        fd = f;
    }
};

// The child's three standard streams are made with dup2; a source that is
// itself 0, 1 or 2 (when the caller's own streams were closed) could be
// overwritten by an earlier dup2 or keep its close-on-exec flag, so every
// descriptor handed to a child lies above them.
int lift(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

bool make_pipe(Fd& read_end, Fd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.reset(lift(fds[0]));
    write_end.reset(lift(fds[1]));
    return read_end.fd >= 0 && write_end.fd >= 0;
}

// A file the child reads, or appends to, through the file layer.
int open_input(const std::string& path) { return lift(files::open_read(path)); }
int open_output(const std::string& path) { return lift(files::open_write(path, files::WriteMode{.append = true})); }
int null_input() { return open_input("/dev/null"); }
int null_output() { return open_output("/dev/null"); }

// The spawn attributes every child gets: default handling of the signals
// this process may ignore or block (SIGPIPE is ignored here so that a
// closed pipe is an error code, but a child expects to die of it), and an
// empty signal mask.
struct SpawnAttr {
    posix_spawnattr_t attr;
    bool ok;
    explicit SpawnAttr(bool new_session) {
        ok = ::posix_spawnattr_init(&attr) == 0;
        if (!ok) return;
        sigset_t defaults, mask;
        sigemptyset(&defaults);
        for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH,
                      SIGALRM, SIGUSR1, SIGUSR2})
            sigaddset(&defaults, s);
        sigemptyset(&mask);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        if (new_session) flags |= POSIX_SPAWN_SETSID;
        ok = ::posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
             ::posix_spawnattr_setsigmask(&attr, &mask) == 0 && ::posix_spawnattr_setflags(&attr, flags) == 0;
    }
    ~SpawnAttr() { ::posix_spawnattr_destroy(&attr); }
};

// The child's standard streams: each descriptor becomes stream 0, 1 or 2,
// -1 leaves the caller's own. Descriptors that someone opened without
// close-on-exec stay here.
struct FileActions {
    posix_spawn_file_actions_t actions;
    bool ok;
    FileActions(int in, int out, int err) {
        ok = ::posix_spawn_file_actions_init(&actions) == 0;
        stream(in, 0);
        stream(out, 1);
        stream(err, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        if (ok) ok = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
#endif
    }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }

private:
    void stream(int fd, int target) {
        if (ok && fd >= 0) ok = ::posix_spawn_file_actions_adddup2(&actions, fd, target) == 0;
    }
};

// Starts argv; answers the pid, or -errno.
pid_t spawn(const std::vector<std::string>& words, bool search, const FileActions& fa, const SpawnAttr& sa) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int r = search ? ::posix_spawnp(&pid, argv[0], &fa.actions, &sa.attr, argv.data(), environ)
                         : ::posix_spawn(&pid, argv[0], &fa.actions, &sa.attr, argv.data(), environ);
    return r == 0 ? pid : -r;
}

std::vector<std::string> shell_words(const std::string& command) { return {"/bin/sh", "-c", command}; }

// The text quoted for the shell as one word.
std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

int32_t exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int32_t wait_for(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, 0);
        if (r == pid) return exit_status(status);
        if (r < 0 && errno != EINTR) return -1;
    }
}

// SIGPIPE is held back while the child's input is written, so a child
// that stops reading gives EPIPE instead of ending this process (also where
// nobody set it to be ignored, as in a test program); a signal raised
// meanwhile is taken back before the mask is restored.
struct PipeSignalBlock {
    sigset_t old;
    PipeSignalBlock() {
        sigset_t s;
        sigemptyset(&s);
        sigaddset(&s, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &s, &old);
    }
    ~PipeSignalBlock() {
        sigset_t pending;
        sigemptyset(&pending);
        if (::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) && !sigismember(&old, SIGPIPE)) {
            sigset_t s;
            sigemptyset(&s);
            sigaddset(&s, SIGPIPE);
            const timespec zero{0, 0};
            while (::sigtimedwait(&s, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
};

// Feeds input and drains output and error together until every pipe is
// closed. A child that stops reading its input (it closed it or ended)
// gets no more of it; what it wrote is still collected.
void pump(Fd& in, const std::vector<uint8_t>& input, Fd& out, std::vector<uint8_t>* output, Fd& err,
          std::vector<uint8_t>* error) {
    PipeSignalBlock block;
    if (in.fd >= 0) ::fcntl(in.fd, F_SETFL, ::fcntl(in.fd, F_GETFL) | O_NONBLOCK);
    size_t sent = 0;
    if (in.fd >= 0 && input.empty()) in.close();
    uint8_t chunk[65536];
    for (;;) {
        pollfd fds[3];
        int n = 0;
        int in_at = -1, out_at = -1, err_at = -1;
        if (in.fd >= 0) fds[in_at = n++] = pollfd{in.fd, POLLOUT, 0};
        if (out.fd >= 0) fds[out_at = n++] = pollfd{out.fd, POLLIN, 0};
        if (err.fd >= 0) fds[err_at = n++] = pollfd{err.fd, POLLIN, 0};
        if (n == 0) return;
        if (::poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            // Without poll nothing more can be moved; closing our ends
            // lets the child finish (it sees EOF or EPIPE).
            in.close();
            out.close();
            err.close();
            return;
        }
        if (in_at >= 0 && fds[in_at].revents) {
            const ssize_t w = ::write(in.fd, input.data() + sent, input.size() - sent);
            if (w > 0) {
                sent += static_cast<size_t>(w);
                if (sent == input.size()) in.close();
            } else if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                in.close();
            }
        }
        auto drain = [&](int at, Fd& fd, std::vector<uint8_t>* into) {
            if (at < 0 || !fds[at].revents) return;
            const ssize_t r = ::read(fd.fd, chunk, sizeof chunk);
            if (r > 0) into->insert(into->end(), chunk, chunk + r);
            else if (r == 0 || (errno != EAGAIN && errno != EINTR)) fd.close();
        };
        drain(out_at, out, output);
        drain(err_at, err, error);
    }
}

}  // namespace

bool split_words(const std::string& command, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool in_word = false;
    size_t i = 0;
    const size_t n = command.size();
    static const char* const OPERATORS = "|&;<>()$`*?[~#{}!\n";
    while (i < n) {
        const char c = command[i];
        if (c == ' ' || c == '\t') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
            i++;
        } else if (c == '\'') {
            const size_t close = command.find('\'', i + 1);
            if (close == std::string::npos) return false;
            word.append(command, i + 1, close - i - 1);
            in_word = true;
            i = close + 1;
        } else if (c == '"') {
            in_word = true;
            i++;
            for (;;) {
                if (i >= n) return false;
                const char d = command[i];
                if (d == '"') {
                    i++;
                    break;
                }
                if (d == '$' || d == '`') return false;  // expansions inside quotes
                if (d == '\\' && i + 1 < n) {
                    const char e = command[i + 1];
                    if (e == '"' || e == '\\' || e == '$' || e == '`') {
                        word += e;
                        i += 2;
                        continue;
                    }
                    if (e == '\n') {
                        i += 2;
                        continue;
                    }
                }
                word += d;
                i++;
            }
        } else if (c == '\\') {
            if (i + 1 >= n) return false;
            if (command[i + 1] != '\n') word += command[i + 1];
            in_word = true;
            i += 2;
        } else if (std::strchr(OPERATORS, c)) {
            return false;
        } else {
            word += c;
            in_word = true;
            i++;
        }
    }
    if (in_word) words.push_back(word);
    if (words.empty()) return false;
    // NAME=value before a command is an assignment for the shell.
    return words[0].find('=') == std::string::npos;
}

void reap_background() {
    for (size_t i = 0; i < background.size();) {
        int status;
        const pid_t r = ::waitpid(background[i], &status, WNOHANG);
        // Gone (reaped, or not our child any more): forget it.
        if (r == background[i] || (r < 0 && errno == ECHILD)) {
            background[i] = background.back();
            background.pop_back();
        } else {
            i++;
        }
    }
}

int32_t run(Request& rq) {
    reap_background();
    if (rq.command.find('\0') != std::string::npos) return -1;

    const bool redirected =
        rq.input.kind != Redirect::NONE || rq.output.kind != Redirect::NONE || rq.error.kind != Redirect::NONE;
    const bool wait = rq.wait || rq.console || redirected;

    // The child's ends (given to it, closed here after the start) and ours.
    Fd child_in, child_out, child_err, our_in, our_out, our_err;

    // Input: a file that cannot be opened, or a pipe that cannot be made,
    // is a failure before anything starts.
    if (rq.input.kind == Redirect::PATH) {
        child_in.reset(open_input(rq.input.path));
        if (child_in.fd < 0) return -1;
    } else if (rq.input.kind == Redirect::DATA) {
        if (!make_pipe(child_in, our_in)) return -1;
    } else if (!rq.console) {
        // Not the caller's input: a child the user does not see must not
        // take what is typed at the console.
        child_in.reset(null_input());
    }

    auto prepare_output = [&](Redirect& r, Fd& child, Fd& ours) {
        r.bytes.clear();
        if (r.kind == Redirect::PATH) {
            // Appended to; when it cannot be opened the stream stays ours.
            child.reset(open_output(r.path));
            return true;
        }
        if (r.kind == Redirect::DATA) return make_pipe(ours, child);
        if (!rq.console) child.reset(null_output());
        return true;
    };
    if (!prepare_output(rq.output, child_out, our_out)) return -1;
    if (!prepare_output(rq.error, child_err, our_err)) return -1;

    FileActions fa(child_in.fd, child_out.fd, child_err.fd);
    SpawnAttr sa(false);
    if (!fa.ok || !sa.ok) return -1;

    auto through_shell = [&] {
        return spawn(shell_words(rq.program ? shell_quote(rq.command) : rq.command), false, fa, sa);
    };
    pid_t pid;
    if (rq.shell) {
        pid = through_shell();
    } else {
        std::vector<std::string> words;
        if (rq.program) {
            words.push_back(rq.command);
            pid = spawn(words, false, fa, sa);
        } else if (split_words(rq.command, words)) {
            pid = spawn(words, true, fa, sa);
        } else {
            pid = -ENOENT;  // shell syntax: straight to the shell
        }
        // No such program: the shell may know the name (a built-in, a
        // keyword), or at least say that it does not.
        if (pid == -ENOENT) pid = through_shell();
    }
    if (pid <= 0) return -1;

    child_in.close();
    child_out.close();
    child_err.close();
    if (!wait) {
        background.push_back(pid);
        return static_cast<int32_t>(pid);
    }
    pump(our_in, rq.input.kind == Redirect::DATA ? rq.input.bytes : std::vector<uint8_t>{}, our_out,
         &rq.output.bytes, our_err, &rq.error.bytes);
    return wait_for(pid);
}

bool browse(const std::string& target) {
    reap_background();
    if (target.find('\0') != std::string::npos) return false;
    // Without a display there is no desktop to open it on: the handler
    // would fall back to a text browser on this terminal, or wait for one.
    const auto set = [](const char* name) {
        const std::optional<std::string> v = os::get_env(name);
        return v && !v->empty();
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) return false;
    Fd in(null_input()), out(null_output()), err(null_output());
    FileActions fa(in.fd, out.fd, err.fd);
    SpawnAttr sa(true);
    if (!fa.ok || !sa.ok) return false;
    const pid_t pid = spawn({"xdg-open", target}, true, fa, sa);
    if (pid <= 0) return false;
    background.push_back(pid);
    return true;
}

}  // namespace qel::process
