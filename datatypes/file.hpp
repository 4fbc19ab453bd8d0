// file!: a string whose text names a file or a directory in the language's
// portable form: "/" separates the parts, an absolute name starts with "/",
// a directory name ends with "/". It is a child of url!, whose make, to and
// path join it takes; this module adds the molded form and the way from a
// file name to the name the operating system takes.
//
// On this system the portable form is the POSIX name itself: the local form
// copies the text, and only a relative name asked for in full gets the
// current directory in front. A name that holds a NUL character is refused
// wherever it becomes a local name: the system would read it only up to the
// NUL, which names another file.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::file {

// Appends the local form of a file! or string! (from its index) to the text
// buffer out; with full, a relative name starts with the current directory
// and a "/". A NUL in the text raises invalid-arg with the value.
void to_local(const Cell* value, node_t out, bool full);

// The name the file layer hands to the system: the local form (not full) as
// UTF-8. The same NUL rule.
std::string to_os_path(const Cell* value);

}  // namespace qel::file
