// The program's entry point.
#include "runtime/entry.hpp"

int main(int argc, char** argv) { qel::rt::run(argc, argv, nullptr); }
