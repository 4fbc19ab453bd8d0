// The scanning states of the token automaton that the scanner's code names,
// apart from the tables (lexer/tables.hpp) so that the scan state of a
// running scan (lexer/scanner.hpp) can hold them without the tables.
#pragma once
#include <cstdint>

namespace qel::lexer::tables {

// The scanning states the code refers to; the others appear only in the
// rule lines of the tables, as row numbers. The start states are what the routines
// hand back to the scan loop; the rest are states a token is judged by
// when it ends.
enum class ScanState : uint8_t {
    Start = 0,
    BraceString = 4,  // inside {...}
    QuotedFile = 8,   // inside %"...": the closing quote ends the token
    RawOpen = 10,     // 10-12 read a raw string's text and its close
    RawClose = 12,
    Point = 35,       // inside a point's (...)
    Path = 59,        // after a path's slash
};

// The state's row in rows and transitions.
constexpr uint8_t row_of(ScanState s) { return static_cast<uint8_t>(s); }

}  // namespace qel::lexer::tables
