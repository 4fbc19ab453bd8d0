// The routines under ask and input: the line editor on a terminal, the
// line reader of a standard input that is not one, and raw reads of
// standard input.
#pragma once
#include "runtime/cell.hpp"

namespace qel::console_io {

void init();  // registers the kept line and history with the collector

// _set-buffer-history line hist: the string the next edit writes into and
// the history block it recalls from and adds to (newest first).
const Cell* set_buffer_history(Cell* const* args);
// _read-input prompt hidden?: one line into the kept string, edited on a
// terminal (prompt shown, Tab completing through complete-input when it is
// defined), read without a prompt otherwise. True when a line came; false
// at the end of the input, the string then empty.
const Cell* read_input(Cell* const* args);
// The window title, whether standard input is a terminal, and
// system/console/size (80x50 when the terminal tells none).
void start(const char* title);
// system/console/init title: start.
const Cell* init_console(Cell* const* args);
// _terminate-console: nothing to undo here.
const Cell* terminate_console(Cell* const* args);
// input-stdin: a new string holding the next line of standard input.
const Cell* input_stdin(Cell* const* args);
// read-stdin buffer buflen: up to buflen bytes of standard input written
// from the binary's head (which grows to hold them); a negative length
// raises out-of-range.
const Cell* read_stdin(Cell* const* args);
// _do-top code: evaluates the block as a top level of its own, as the
// console runs a script or a line: each expression compiled just before it
// runs, and the nodes made since it began renumbered between expressions
// when the collector asks for it. Errors name do, as for `do code`.
const Cell* do_top(Cell* const* args);

}  // namespace qel::console_io
