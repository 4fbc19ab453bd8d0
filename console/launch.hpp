// Running a script from the command line: find its header, load it with
// the lexer, evaluate it without the header. The script runs in a guarded
// evaluation: its error is printed in the error display and the process
// ends with status 1, as it does when the script cannot be read or has no
// header. An error that no try at all catches (outside that guarded
// evaluation) is printed where it is raised and ends the process with -2.
#pragma once

namespace qel::launch {

// The body of the language thread: start-up of the interpreter's words,
// then the script named by the first argument, if any.
void run();

}  // namespace qel::launch
