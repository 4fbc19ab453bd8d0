// Running a script from the command line: find its header, load it with
// the lexer, evaluate it without the header. An error no try catches is
// printed where it is raised and ends the process with -2 (254).
#pragma once

namespace qel::launch {

// The body of the language thread: start-up of the interpreter's words,
// then the script named by the first argument, if any.
void run();

}  // namespace qel::launch
