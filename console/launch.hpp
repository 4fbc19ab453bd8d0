// Starting the program: the boot image, the command line, then the console
// of the library, which runs the script named on the command line or reads
// lines.
#pragma once

namespace qel::launch {

// The body of the language thread.
void run();

}  // namespace qel::launch
