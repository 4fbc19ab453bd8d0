// Scanning text from below the lexer. Some datatypes convert a text by
// scanning it (to pair! "1x2", to time! "10:00"), and a literal the
// scanner meets may be built by its datatype (map!'s #[...]), yet the lexer
// sits above the datatypes. So the lexer sets these hooks when it is
// initialised (lexer::init); until then they are null.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace qel::scan_hook {

// What a scan of a text asks for, and what it answers.
enum class Scan : uint32_t {
    Check,       // every value scanned, nothing loaded: error! when the text does not scan
    FirstType,   // the first value checked fully: its datatype (error! when it fails, 0 for none)
    Values,      // every value loaded into a block made in out
    FirstValue,  // only the first value loaded, into a block made in out
};

// Scans a string value from its index to its tail. out (on the argument
// stack) gets the block of a loading scan and is null for the others. A
// loading scan answers the type of the last token it read.
using ScanTextFn = uint32_t (*)(const Cell* text, Scan what, Cell* out);
inline ScanTextFn scan_text = nullptr;

// The scanner's value-stack cell at an index, valid until the next
// allocation: a literal builder that the scanner calls reads the parts it
// collected through it.
using ValueAtFn = Cell* (*)(uint32_t index);
inline ValueAtFn value_at = nullptr;

}  // namespace qel::scan_hook
