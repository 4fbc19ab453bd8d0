// The program's entry point: the runtime's start-up, then the script runner
// on the interpreter thread.
#include "console/launch.hpp"
#include "runtime/entry.hpp"

int main(int argc, char** argv) { qel::rt::run(argc, argv, &qel::launch::run); }
