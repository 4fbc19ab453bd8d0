// The file! actions that reach the file system: read, write, delete,
// query and rename, over platform/files.*. The datatype registers them in
// its record (fill_actions); checksum reads a file through read_bytes,
// and size? tells a directory's name by dir_path.
//
// A file! names the POSIX path file::to_os_path gives (its text from the
// index as UTF-8; a name holding NUL is refused).
// A name ending in "/" (or ".", "..", "/.", "/..") names a directory: read
// lists it, delete removes it as a directory, query wants a directory.
//
// read: text decoded from UTF-8 (a leading byte order mark skipped, CR LF
// as LF), /binary the bytes, /lines a block of strings; /part caps the
// bytes read, /seek starts at an offset. write: a string! as UTF-8 (LF line
// ends, as it is), a binary! as its bytes, any other value molded; /lines
// writes a block's values one per line; /append, /seek and /part as for
// read. A file that cannot be opened, read or completely written raises
// the access error cannot-open with the file, text that is not UTF-8 the
// access error invalid-utf8 with the file.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::file_io {

// Whether a file! names a directory by its spelling.
bool dir_path(const Cell* file);

// All bytes of the file; cannot-open with the file when it cannot be
// opened or read.
std::vector<uint8_t> read_bytes(const Cell* file);

// Bytes read as text, as read gives them (the HTTP road of url! too), each
// pushed: a string! decoded from UTF-8 (a leading byte order mark skipped;
// CR LF as LF when crlf is set), or a block of one string! per line (cut
// at each LF, a CR before it dropped, text after the last LF a last line).
// Text that is not UTF-8 raises the access error invalid-utf8.
Cell* push_text(const uint8_t* bytes, size_t n, bool crlf);
Cell* push_lines(const std::vector<uint8_t>& bytes);

// Sets the read, write, delete, query and rename slots of file!.
void fill_actions(datatype::Record& r);

}  // namespace qel::file_io
