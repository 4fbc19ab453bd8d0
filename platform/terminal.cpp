#include "platform/terminal.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console.hpp"
#include "platform/key_decoder.hpp"

namespace qel::terminal {

namespace {

bool stdin_tty = false;
bool decided = false;

termios saved_mode{};
termios raw_mode{};
volatile sig_atomic_t raw_on = 0;
volatile sig_atomic_t redraw_due = 0;

keys::Decoder decoder;

// How long an Esc waits for the rest of a sequence, and a cursor report
// for its answer.
constexpr int ESC_WAIT_MS = 50;
constexpr int REPORT_WAIT_MS = 200;

uint8_t in_buf[65536];
size_t in_at = 0, in_end = 0;

struct sigaction old_term{}, old_hup{}, old_tstp{}, old_cont{}, old_winch{};

void on_end_signal(int sig) {
    restore_now();
    // The signal's own action, as if raw mode had never been.
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

void on_stop(int) {
    const int was_raw = raw_on;
    restore_now();
    struct sigaction dfl{}, mine{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGTSTP, &dfl, &mine);
    raise(SIGTSTP);  // stops here until SIGCONT
    sigaction(SIGTSTP, &mine, nullptr);
    if (was_raw) {
        tcsetattr(STDIN_FILENO, TCSADRAIN, &raw_mode);
        raw_on = 1;
    }
    redraw_due = 1;
}

void on_continue(int) {
    // After a stop that could not be caught: raw again, drawn again.
    if (raw_on) tcsetattr(STDIN_FILENO, TCSADRAIN, &raw_mode);
    redraw_due = 1;
}

void on_winch(int) { redraw_due = 1; }

void install(int sig, void (*fn)(int), struct sigaction* old) {
    struct sigaction sa{};
    sa.sa_handler = fn;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a blocked read returns to notice it
    sigaction(sig, &sa, old);
}

// Waits up to ms (forever when negative) for a byte of fd 0; 1 with the
// byte, 0 on timeout or an interrupting signal, -1 at end or on failure.
int wait_byte(int ms, uint8_t& byte) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int r = poll(&p, 1, ms);
    if (r == 0) return 0;
    if (r < 0) return errno == EINTR ? 0 : -1;
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return 1;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    return -1;
}

}  // namespace

void init() {
    if (decided) return;
    decided = true;
    stdin_tty = isatty(STDIN_FILENO) == 1;
}

bool stdin_is_terminal() { return stdin_tty; }

bool set_title(const char* utf8) {
    if (!console::is_terminal()) return true;
    console::write_cstr("\x1b]0;");
    console::write_cstr(utf8);
    console::write_cstr("\x07");
    console::flush();
    return true;
}

bool size(int& cols, int& rows) {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 && ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) != 0) return false;
    cols = ws.ws_col;
    rows = ws.ws_row;
    return true;
}

bool enter_raw() {
    if (!stdin_tty || raw_on) return raw_on;
    if (tcgetattr(STDIN_FILENO, &saved_mode) != 0) return false;
    raw_mode = saved_mode;
    // Keys as bytes: no echo, no line buffering, no signals from Ctrl-C or
    // Ctrl-Z, no CR/LF translation or flow control on input.
    raw_mode.c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    raw_mode.c_lflag &= ~(ECHO | ICANON | IEXTEN | ISIG);
    raw_mode.c_cflag |= CS8;
    raw_mode.c_cc[VMIN] = 1;
    raw_mode.c_cc[VTIME] = 0;
    install(SIGTERM, on_end_signal, &old_term);
    install(SIGHUP, on_end_signal, &old_hup);
    install(SIGTSTP, on_stop, &old_tstp);
    install(SIGCONT, on_continue, &old_cont);
    install(SIGWINCH, on_winch, &old_winch);
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw_mode) != 0) {
        leave_raw();
        return false;
    }
    raw_on = 1;
    redraw_due = 0;
    return true;
}

void restore_now() {
    if (!raw_on) return;
    tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_mode);
    raw_on = 0;
}

void leave_raw() {
    restore_now();
    sigaction(SIGTERM, &old_term, nullptr);
    sigaction(SIGHUP, &old_hup, nullptr);
    sigaction(SIGTSTP, &old_tstp, nullptr);
    sigaction(SIGCONT, &old_cont, nullptr);
    sigaction(SIGWINCH, &old_winch, nullptr);
}

bool raw_active() { return raw_on; }

int read_key() {
    for (;;) {
        int key;
        if (decoder.next(key)) return key;
        if (redraw_due) {
            redraw_due = 0;
            return RESIZE;
        }
        uint8_t byte;
        const int r = wait_byte(decoder.pending() ? ESC_WAIT_MS : -1, byte);
        if (r < 0) {
            decoder.flush();
            if (decoder.next(key)) return key;
            return keys::FAILED;
        }
        if (r == 0) {
            if (decoder.pending() && !redraw_due) decoder.flush();
            continue;
        }
        decoder.feed(byte);
    }
}

bool cursor_column(int& col) {
    if (!stdin_tty || !console::is_terminal()) return false;
    console::write_cstr("\x1b[6n");
    console::flush();
    for (int waited = 0; waited < REPORT_WAIT_MS;) {
        int row, column;
        if (decoder.take_position(row, column)) {
            col = column > 0 ? column - 1 : 0;
            return true;
        }
        uint8_t byte;
        const int r = wait_byte(10, byte);
        if (r < 0) return false;
        if (r == 0) {
            waited += 10;
            continue;
        }
        decoder.feed(byte);
    }
    return false;
}

int stdin_byte() {
    if (in_at == in_end) {
        in_at = in_end = 0;
        ssize_t n;
        do n = read(STDIN_FILENO, in_buf, sizeof in_buf);
        while (n < 0 && errno == EINTR);
        if (n <= 0) return -1;
        in_end = static_cast<size_t>(n);
    }
    return in_buf[in_at++];
}

long stdin_read(uint8_t* into, size_t count) {
    size_t done = 0;
    if (in_at < in_end) {
        done = in_end - in_at < count ? in_end - in_at : count;
        std::memcpy(into, in_buf + in_at, done);
        in_at += done;
        if (done == count) return static_cast<long>(done);
    }
    ssize_t n;
    do n = read(STDIN_FILENO, into + done, count - done);
    while (n < 0 && errno == EINTR);
    if (n < 0) return done > 0 ? static_cast<long>(done) : -1;
    return static_cast<long>(done + static_cast<size_t>(n));
}

}  // namespace qel::terminal
