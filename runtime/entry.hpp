// The native level: start-up of the process, the language thread, the
// runtime error report and every way the process ends. The start-up
// sequence of the layers is given to run by the library
// (library/startup.hpp).
#pragma once
#include <cstdint>

namespace qel::rt {

namespace code {
constexpr int OUT_OF_MEMORY = 94;
constexpr int NO_CATCH = 95;
constexpr int ASSERTION = 98;
constexpr int UNKNOWN = 99;
constexpr int NO_CASE = 100;
constexpr int NO_SWITCH = 101;
constexpr int STACK_OVERFLOW = 19;
}  // namespace code

// Exit statuses of ends that are not runtime errors.
namespace exit_status {
constexpr int UNCAUGHT_ERROR = -2;  // an error that no try took, outside any guarded run
constexpr int SCRIPT_FAILED = 1;    // a script that stopped on an error of its own
}  // namespace exit_status

// Native start-up: stack bounds, fault handlers, standard handles, UTF-8
// arguments, floating-point mode.
void start_up(int argc, char** argv);
// The root block (start-up, once the first frames exist). It is fixed:
// the runtime keeps the addresses of its cells (the kept words) for the
// whole run.
void make_root_block();
// Code 0 ends normally; any other prints the report and exits with the code.
[[noreturn]] void runtime_error(int code, uintptr_t address);
// Ends the process with the status, without a report: what was printed is
// sent and the tracked blocks are freed first.
[[noreturn]] void end_process(int status);
const char* runtime_error_message(int code);
// Address of the caller's code, for reports raised from C++.
uintptr_t here();
// Ends the process for an exit that reached the top-level catch point.
[[noreturn]] void top_level_catch(uint32_t code);
// The whole life of the process: native start-up, then on the language
// thread the start-up sequence init and body (the console's launch) inside
// the top-level catch point, then the normal end.
[[noreturn]] void run(int argc, char** argv, void (*init)(), void (*body)());
// Bounds of the machine stack the language runs on, for telling a stack
// overflow from other access faults.
void set_stack_bounds(uintptr_t low, uintptr_t high);
// Message of the fault report for a signal and its si_code.
int fault_code(int signal, int si_code, uintptr_t fault_address);

}  // namespace qel::rt
