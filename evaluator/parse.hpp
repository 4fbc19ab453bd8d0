// The parse engine: matches a block of rules (the parse dialect) against an
// input series (any string type, binary! or any block type) and acts on the
// input while doing so.
//
// The engine is one loop over an explicit state, never a recursion on the
// machine stack: nesting of rule blocks, commands waiting for their
// sub-rule and `into` nesting live on two work stacks, block! series kept
// in the root block for the whole run.
//
//   input stack  one cell per `into` nesting: the series the current
//                position belongs to is the top cell.
//   rule stack   frames of three cells, pushed and popped together:
//                block frame    none | position | the enclosing rule block
//                command frame  parameter | position | command (pair!)
//                The position record is a triple!: a rule offset, the
//                input index when the frame was entered (or the current
//                attempt started) and the input length from there. The
//                parameter of a repetition is a triple! count record
//                (minimum, maximum or -1, attempt number).
//
// Each work stack holds at most STACK_LIMIT cells; deeper rules raise
// script parse-stack. A parse started while another runs (from a paren
// action or a trace callback) works above the outer one: a marker cell
// (triple! of the outer indexes) separates them, and every way out of the
// engine, errors included, clears what it pushed and restores the outer
// indexes.
//
// Collector: the work stacks hold node ids in cells of the root block;
// nothing else of the engine keeps a node outside a cell. The engine keeps
// its current input, rule block and collect targets in argument-stack
// cells and re-reads every buffer through them after anything that may
// run user code.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"

namespace qel::parse {

constexpr uint32_t STACK_LIMIT = 10000;

// Command codes of command frames.
enum Command : int32_t {
    REPEAT = -1, TO = -2, THRU = -3, COPY = -4, SET = -5, NOT = -6, INTO = -7, REMOVE = -9, WHILE = -11,
    COLLECT = -12, KEEP = -13, KEEP_PAREN = -14, AHEAD = -16, CHANGE = -17, CHANGE_ONLY = -18, CASE = -19,
};

// The records of the rule stack, each a cell of three 32-bit words.
//
// Position record (triple!): the rule offset, the input index when the
// frame was entered (or the current attempt started), the input length
// from there.
inline Cell position_record(int64_t rule, int64_t index, int64_t length) {
    return Cell{TYPE_TRIPLE, static_cast<uint32_t>(rule), static_cast<uint32_t>(index), static_cast<uint32_t>(length)};
}
inline int32_t position_rule(const Cell& p) { return static_cast<int32_t>(payload_word(p, 0)); }
inline uint32_t position_index(const Cell& p) { return payload_word(p, 1); }
inline int32_t position_length(const Cell& p) { return static_cast<int32_t>(payload_word(p, 2)); }

// Command record (pair!): the command code and its option (keep: pick).
inline Cell command_record(Command command, int32_t option) {
    return Cell{TYPE_PAIR, 0, static_cast<uint32_t>(command), static_cast<uint32_t>(option)};
}
inline Command command_code(const Cell& c) { return static_cast<Command>(pair_x(c)); }
inline int32_t command_option(const Cell& c) { return pair_y(c); }

// Parameter of a command frame (triple!). A repetition keeps its count
// record: the minimum, the maximum (-1 for none) and the attempt number;
// to and thru the input index where the search began; case the comparison
// code in force before it.
inline Cell parameter_record(int64_t a, int64_t b, int64_t c) {
    return Cell{TYPE_TRIPLE, static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)};
}
inline int32_t count_min(const Cell& p) { return static_cast<int32_t>(payload_word(p, 0)); }
inline int32_t count_max(const Cell& p) { return static_cast<int32_t>(payload_word(p, 1)); }
inline int32_t count_attempt(const Cell& p) { return static_cast<int32_t>(payload_word(p, 2)); }
inline void set_count_attempt(Cell* p, int32_t n) { payload_word(p, 2) = static_cast<uint32_t>(n); }
inline uint32_t search_start(const Cell& p) { return payload_word(p, 1); }
inline int32_t saved_compare(const Cell& p) { return static_cast<int32_t>(payload_word(p, 1)); }

// Marker (triple!) between a nested parse and the outer one: the outer
// parse's indexes of the rule and the input stack.
inline Cell marker_record(uint32_t rule_index, uint32_t input_index) {
    return Cell{TYPE_TRIPLE, rule_index, input_index, 0};
}
inline uint32_t marker_rule_index(const Cell& m) { return payload_word(m, 0); }
inline uint32_t marker_input_index(const Cell& m) { return payload_word(m, 1); }

// Start-up: the two work stacks, in cells appended to the root block.
void init();

// The root-block cells of the work stacks (their index is where the
// running parse's part starts); null before init.
Cell* input_stack();
Cell* rule_stack();

// Runs the rules over the input. code is the comparison code (Equal, or
// StrictEqual for case-sensitive matching); limit the end index of the outermost input
// (-1 for none); callback a function! or none. The result (logic!, or the
// block of a top-level collect) is written into result, which must lie on
// the argument stack. Answers false when a break, continue, return or exit
// out of a paren action is pending: the caller then returns at once.
bool run(const Cell* input, const Cell* rules, CompareOp code, int64_t limit, const Cell* callback, Cell* result);

}  // namespace qel::parse
