// read-clipboard and write-clipboard: the language's values on the
// platform clipboard. Text goes as UTF-8 with LF line ends (CR LF read as
// LF); a block of files as a URI list of file: URIs; an image as PNG, and
// on the private clipboard also as a 32-bit BMP. Reading takes, in this
// order: a URI list whose entries all name local files (file managers
// offer the names as text too, so the list comes first), text, then a PNG,
// JPEG, GIF or BMP image.
#pragma once
#include "runtime/cell.hpp"

namespace qel::clipboard_io {

// false when the clipboard cannot be read or what it holds cannot be
// decoded, none when it holds nothing known, else a string!, a block! of
// file! values or an image!.
const Cell* read_routine(Cell* const* args);
// true when written. A string!, a block! of file! or string! names, an
// image! (one of no pixels empties the clipboard) or none (empties it);
// any other type, or a name that is neither, raises invalid-arg.
const Cell* write_routine(Cell* const* args);

}  // namespace qel::clipboard_io
