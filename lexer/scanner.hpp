// The lexer: UTF-8 source text to values.
//
// A table-driven automaton finds the end of each token and its token class
// (lexer/tables.hpp); each class has a scan routine (structure: brackets,
// brace strings, paths, comments) and a load routine (the value literals,
// lexer/loaders.hpp). Values gather on one shared value stack, a cell
// series held in the root block: an opening delimiter pushes a marker cell,
// the closing one turns the cells above it into a block, paren, map or
// path. Positions on that stack are indexes, never addresses, because
// loading a value allocates and may move the stack's buffer.
//
// Every active scan has a State record on the machine stack, linked into a
// chain so that the collector can reach each scan's values, input and
// trace callback. A trace callback may run user code, which may itself
// call the lexer: a nested scan starts its stack above the outer one's top
// and its text above the outer one's in the scratch area.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/stack.hpp"
#include "lexer/scan_state.hpp"
#include "runtime/cell.hpp"
#include "runtime/series.hpp"

namespace qel::lexer {

// Token classes, the final states of the automaton.
enum Token : uint32_t {
    T_EOF, T_ERROR, T_BLOCK_OPEN, T_BLOCK_CLOSE, T_PAREN_OPEN, T_PAREN_CLOSE, T_BRACE_OPEN, T_BRACE_CLOSE,
    T_MAP_OPEN, T_PATH, T_CONSTRUCT, T_COMMENT, T_COMMA, T_STRING, T_WORD, T_ISSUE, T_INTEGER, T_REFINEMENT,
    T_CHAR, T_FILE, T_BINARY, T_PERCENT, T_FLOAT, T_FLOAT_SPECIAL, T_TUPLE, T_DATE, T_PAIR, T_POINT, T_TIME,
    T_MONEY, T_TAG, T_URL, T_EMAIL, T_HEX, T_RAW_STRING, T_REF,
};

// ---- tracing --------------------------------------------------------------------

// Event bits; a tracer's mask selects the events it receives.
enum Event : uint32_t { EV_PRESCAN = 1, EV_SCAN = 2, EV_LOAD = 4, EV_OPEN = 8, EV_CLOSE = 16, EV_ERROR = 32 };
constexpr uint32_t EV_ALL = 0x3F;

struct TraceInfo {
    Event event;
    // The input series at the token's position (characters for a string!,
    // bytes otherwise). Moving its index makes the scan go on from there.
    Cell input;
    uint32_t type;    // datatype id of the token, 0 for a structural token
    uint32_t klass;   // its token class, which names a token without a type
    int32_t line;
    // load: the value; otherwise a pair! of the token's 1-based start and
    // end positions.
    Cell token;
};

// Answers false to veto: the token is dropped, the loaded value removed,
// the error not raised.
using TraceFn = bool (*)(void* user, TraceInfo& info);

struct Tracer {
    TraceFn fn = nullptr;
    void* user = nullptr;
    uint32_t mask = EV_ALL;
    // The language-level callback the function stands for; kept reachable
    // for the collector while the scan runs (none from C++ callers).
    Cell callback{TYPE_NONE, 0, 0, 0};
};

// ---- scan state -------------------------------------------------------------------

// A marker cell on the value stack stands for an open block, paren, path or
// map: word 1 the previous marker's index + 1 (0 for none), word 2 the
// closing type in its low 16 bits and, above them, the commas met (a paren
// with commas is a point literal), word 3 the opening's byte offset.
constexpr uint32_t MARKER_TYPE = TYPE_TRIPLE;  // type id of a marker cell
constexpr uint32_t COMMA_STEP = 0x10000;
inline uint32_t marker_previous(const Cell& m) { return payload_word(m, 0); }
inline uint32_t marker_closing(const Cell& m) { return payload_word(m, 1) & (COMMA_STEP - 1); }
inline uint32_t marker_closing(const Cell* m) { return marker_closing(*m); }
inline uint32_t marker_commas(const Cell* m) { return payload_word(m, 1) / COMMA_STEP; }
inline void add_marker_comma(Cell* m) { payload_word(m, 1) += COMMA_STEP; }
inline uint32_t marker_opening(const Cell& m) { return payload_word(m, 2); }
inline uint32_t marker_opening(const Cell* m) { return marker_opening(*m); }

struct State {
    State* next = nullptr;       // the next active (nested) scan
    // Value stack, as indexes of its cells.
    uint32_t base = 0;           // first cell of this scan
    uint32_t level = 0;          // first cell after the innermost marker
    uint32_t top = 0;            // one past the last cell
    uint32_t marker = UINT32_MAX;  // index of the innermost marker
    uint32_t depth = 0;          // open markers
    // Input: bytes outside the series frames for the whole scan.
    const uint8_t* start = nullptr;
    const uint8_t* end = nullptr;
    const uint8_t* pos = nullptr;
    const uint8_t* token_start = nullptr;  // start of the current token
    const uint8_t* token_end = nullptr;    // end of the current token
    bool new_line = false;       // the current token began a line: its first value is flagged
    int32_t line = 1;
    int32_t token_lines = 0;     // line feeds before the current token
    uint32_t token_type = 0;
    tables::ScanState start_state = tables::ScanState::Start;
    tables::ScanState failed_state = tables::ScanState::Start;  // the last scanning state before an error token
    uint32_t last_class = 0;
    // Brace strings.
    const uint8_t* brace_start = nullptr;
    uint32_t brace_depth = 0;
    uint32_t brace_flags = 0;
    bool brace_new_line = false;
    int32_t point_line = 0;
    // Tracing.
    const Tracer* tracer = nullptr;
    Cell input{TYPE_NONE, 0, 0, 0};  // the input series, for trace positions
    bool chars = false;          // positions count characters (string input)
    uint32_t input_index = 0;    // the input's index where the text starts
    uint32_t char_byte = 0;      // a known pair (byte offset, character offset)
    uint32_t char_count = 0;
    bool load = true;
    uint32_t mode = 0;
    bool stop = false;           // /next, /one or a stop request: one value is enough
    bool failed = false;         // a syntax error ended the scan
    bool moved = false;          // a trace callback moved the input position
    uint32_t completed = 0;      // values completed at the outermost level
    bool completed_now = false;  // the last token completed a value
    uint32_t first_type = 0;     // datatype of the first value, for /scan and /prescan
};

// The chain of active scans, innermost last; null when none runs.
extern State* active;

// ---- start-up and entry points -------------------------------------------------------

// Start-up step, once the root block and the argument stack exist: the
// value stack (in a root block cell) and the scratch area for string input.
void init();

// Mode flags of a scan.
enum Mode : uint32_t { M_NEXT = 1, M_ONE = 2, M_PRESCAN = 4, M_SCAN = 8 };

// Scans length bytes at src, which must lie outside the series frames.
// When loading, the values are appended to the block in out (a new block
// is made there when out is not a block). input names the series the text
// came from (none from C++), with chars set when it counts characters;
// consumed gets the length read, in the input's units. Answers the token
// type of the last token, or for M_SCAN / M_PRESCAN the datatype of the
// first value (error! when the scan failed, 0 for empty input).
uint32_t scan(const uint8_t* src, uint32_t length, Cell* out, uint32_t mode, bool load, const Tracer* tracer,
              const Cell* input, uint32_t* consumed);

// Scans count characters (all when negative) of a string! from its index:
// the text goes UTF-8 encoded into the scratch area first. consumed is in
// characters.
uint32_t scan_string(const Cell* text, int32_t count, Cell* out, uint32_t mode, bool load,
                     const Tracer* tracer, uint32_t* consumed);

// ---- transcode --------------------------------------------------------------------

struct Options {
    bool next = false;     // one value, and the input after it
    bool one = false;      // one value only
    bool prescan = false;  // scan routines of the structural tokens only: the guessed type
    bool scan = false;     // check the first value fully, answer its type
    int32_t part = -1;     // bytes (binary!) or characters (string!) to read; -1 all
    const Cell* into = nullptr;  // a block to append to
    const Tracer* trace = nullptr;
};

// The transcode native's work on a string! or binary! input. result gets
// the block of values (or the value with one / next, the datatype or none
// with scan / prescan); rest, when given, the input after what was read.
// Both should lie on the argument stack.
void transcode(const Cell* input, const Options& options, Cell* result, Cell* rest);

// Loads the whole text as a block into result (load of a source text).
void load_text(const char* utf8, size_t length, Cell* result);

// ---- for the routines ------------------------------------------------------------------

// Pushes a finished value on the scan's level; it gets the new-line flag
// when its token began a line. Answers the value's stack index.
uint32_t push_value(State& s, const Cell& value);
// The cell at a value stack index, valid until the next allocation.
Cell* stack_cell(uint32_t index);

// The syntax errors. at is where the offending text starts.
[[noreturn]] void error_invalid(State& s, uint32_t type, const uint8_t* at);
[[noreturn]] void error_missing(State& s, uint32_t closing_char, const uint8_t* at);
[[noreturn]] void error_bad_char(State& s, const uint8_t* at);
[[noreturn]] void error_malconstruct(State& s, const uint8_t* at);

// ---- collector -----------------------------------------------------------------------

// What the active scans keep alive: their value stack cells, their input
// series and their trace callbacks.
void mark_gc(const stack::Marker& m);

}  // namespace qel::lexer
