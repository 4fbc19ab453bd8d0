// The terminal under the console: whether standard input is one, its size,
// its title, the raw mode of a line edit, keys, and the buffered reading of
// a standard input that is not a terminal (a pipe or a file).
//
// Raw mode lasts only while a line is edited. It is undone on every way
// out: leave_raw, the process's end and its faults (restore_now, safe in a
// signal handler), SIGTERM and SIGHUP (restored, then the signal's own
// action), SIGTSTP (restored while stopped, raw again on SIGCONT, and the
// line drawn again).
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::terminal {

// Decides once whether fd 0 is a terminal.
void init();
bool stdin_is_terminal();

// Sets the window title (an OSC sequence) when standard output is a
// terminal; answers false when the sequence could not be written.
bool set_title(const char* utf8);

// Columns and rows of the terminal on fd 1 (else fd 0); false when neither
// is a terminal or the size is unknown.
bool size(int& cols, int& rows);

bool enter_raw();
void leave_raw();
void restore_now();
bool raw_active();

// The key code of a window size change (or of a return from a stop) that
// read_key gives the editor, which then reads the size and draws again.
constexpr int RESIZE = -100;

// The next key (key_decoder.hpp codes), waiting for it; -1 at end of input
// or on failure. A lone Esc is told from a sequence by a short wait.
int read_key();

// The terminal cursor's 0-based column, asked of the terminal (ESC [ 6 n)
// and waited for a short time; false when no answer came. Keys typed
// meanwhile are kept for read_key.
bool cursor_column(int& col);

// Standard input through a buffer, for input that is not a terminal. A
// byte (0-255), or -1 at the end of input or on failure.
int stdin_byte();
// Up to count bytes; the number read, 0 at the end, -1 on failure.
long stdin_read(uint8_t* into, size_t count);

}  // namespace qel::terminal
