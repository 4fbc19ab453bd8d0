// External processes: the body of `call` and `browse` below the language.
//
// A command runs as a program of its own, its words split the way a
// POSIX shell splits them, or through "/bin/sh -c" when asked, when it
// uses shell syntax (pipes, redirections, variables, globs ...) or when no
// program of that name exists (so shell built-ins and keywords work).
// Each standard stream of the child is the caller's own (console mode),
// the null device, a file, or a pipe: one pipe is fed with the input bytes
// while the two others are drained, all in one poll loop, so no amount of
// output on either stream can block the child while it still reads.
//
// Nothing here touches values or raises: callers convert values to bytes
// before and after, and turn a result of -1 into what the language wants.
// Every descriptor made here is close-on-exec; children get exactly their
// three standard streams.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qel::process {

// One standard stream of the child.
struct Redirect {
    enum Kind { NONE, DATA, PATH };
    Kind kind = NONE;
    // PATH: the file read as input, or appended to as output.
    std::string path;
    // DATA: for the input, the bytes to send; for output and error, the
    // captured bytes on return.
    std::vector<uint8_t> bytes;
};

struct Request {
    std::string command;    // UTF-8, without zero bytes
    bool program = false;   // the command is a program's path, not words
    bool wait = false;
    bool console = false;   // unredirected streams stay the caller's
    bool shell = false;     // run through /bin/sh -c
    Redirect input, output, error;
};

// Runs the request. With wait, console, or any stream redirected, waits for
// the child and answers its exit status (128 + the signal number when a
// signal ended it); otherwise answers the child's process id at once and
// reaps it later. -1 when the child cannot be started, an input file cannot
// be opened, or a pipe cannot be made. An output or error file that cannot
// be opened leaves that stream on the caller's own.
int32_t run(Request& request);

// Splits a command into words as a POSIX shell does for a plain command:
// blanks separate, single quotes keep everything, double quotes keep all
// but \" \\ \$ \` and a backslash-newline, a backslash outside quotes keeps
// the next character. false when the text needs a shell: unbalanced quotes,
// an unquoted operator or expansion character (| & ; < > ( ) $ ` * ? [ ~ #
// { } ! newline), a first word holding '=' (an assignment), or no words.
bool split_words(const std::string& command, std::vector<std::string>& words);

// Opens a URL or file name with the desktop's handler (xdg-open), detached:
// its own session, the null device for its streams. false when no handler
// can be started, and without a display (neither DISPLAY nor
// WAYLAND_DISPLAY set).
bool browse(const std::string& target);

// Collects the exit status of children that ran without waiting, so none
// is left a zombie. Cheap; called before each new child and by `wait`.
void reap_background();

}  // namespace qel::process
