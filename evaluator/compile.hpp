// Compiled block code: what a block's cells become once the block is
// evaluated often enough, and the compiler that makes it.
//
// A code object is a flat list of instructions for one block (kept by
// runtime/block_code.hpp for the block's buffer, outside the collected
// heap), run by the dispatch loop of evaluator/vm.hpp. Words are resolved
// when the code is made: a global word to its index among the global
// values, a word of the function whose body the block is (its home
// context) to its index from the running call's first argument cell,
// every other bound word to the word itself. The literal blocks of if,
// either and unless and the parens of an expression are compiled in place,
// so running them pushes no frame of its own and makes no C++ call; an
// infix operator with an integer step runs it without a call. The loops
// while, until, loop, forever, repeat and foreach with literal blocks (and
// the word of repeat and foreach written there) become jumps around their
// blocks compiled in place, inside the frames the natives push.
//
// The code keeps the walker's behaviour by checking, at the moment the
// walker would look, what it assumed when it was made: that a word it
// loads holds no function, that a word it calls holds the same function,
// that a word after a value is not an operator, that the block's cells are
// those it was made from (the buffer still carries the code's index). A
// check that fails hands the expression over to the walker at that very
// position, with the argument stack laid out as the walker's would be
// there (evaluator/vm.cpp). A path of two words that reads a field of an
// object is read from the object's context while its first word names the
// same object; a set-path's value is compiled, the setting is the walker's.
// A function! called through a path of its refinements is compiled as a
// call whose frame is laid out as the walker lays it out, the path's
// cells checked (through a code stub on the path's buffer) where the
// walker reads them.
// Expressions the compiler does not take (other paths, refinements of
// natives, literal arguments, routines...) are walked whole.
//
// Sites are the constructs of an expression that wait for operands: calls,
// infix operators, set-words. Each instruction that may hand over names the
// site whose operand it starts and the operand's number, so that the rest
// of the expression can be finished by the walker.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/block_code.hpp"
#include "runtime/cell.hpp"

namespace qel::compile {

enum class Op : uint8_t {
    Expr,      // a top-level expression of block `blk` starts at pos: b set, the value before is dropped
    Const,     // pushes k
    Global,    // pushes global value a (no function, not unset)
    Local,     // pushes the home call's argument cell a (no function, not unset)
    Word,      // pushes the value of the word k (no function, not unset)
    Walk1,     // the one-cell value at pos (a get-word, lit-word, get-path, lit-path) through the walker
    NotOp,     // the word k at pos, after a value, is no operator
    Arith,     // site a at pos: left operand on the top, right operand (kind b: Const k, Global c, Local c, Word k)
    LocalArith,   // Local d at pos, then the Arith of site a at pos + 1
    GlobalArith,  // Global d at pos, then the Arith of site a at pos + 1
    CallFn,    // site a: a function! call begins (its frame)
    CallNat,   // site a: a native! or action! call begins, or one compiled in place (if, either, unless)
    Check,     // site a: argument c on the top passes the type check
    Unset,     // site a: argument c on the top is not unset
    InvokeFn,  // site a: every argument is in place: the call (through a path: no element follows, d its tail)
    InvokeNat, // site a: every argument is in place: the call
    InvokeAppend,  // InvokeNat of append: one value onto a block's tail in place when there is room
    OpBegin,   // site a: an infix operator's frame, the left operand on the top
    OpEnd,     // site a: both operands in place: the operation
    SetBegin,  // site a: a set-word's frame
    SetEnd,    // site a: the value on the top is set
    Branch,    // site a: if, either or unless, the condition on the top: to `c` unless it selects the block that follows
    Enter,     // block b starts in place: c the instruction after it
    Leave,     // the block in place ends; k the position of the block around it; a set: a paren, checks block b
    Jump,      // to c
    PopFrame,  // the frame of an in-place native ends
    Return,    // the end of the code's own block
    LoopBegin, // site a: a loop compiled in place starts (its loop frame): b its head, c its LoopEnd,
               // d the PopFrame after it; k the position of the block around it
    LoopHead,  // a turn starts, the loop's base empty; b set: a counted turn (2: repeat's, which sets
               // its word; 3: foreach's step), to `c` when none is left
    LoopTest,  // the value in the loop's base decides: to `c` when its truth is b
    LoopEnd,   // site a: the loop frame ends, its value the site's
    Field,     // site a: pushes the field of an object named by a word (a path word/word at pos)
    SetPathEnd,  // site a: the value on the top is set through the set-path
    // A function! called through a path of refinements (site a, whose path_blk is the path):
    CallPath,  // the path's cells are those compiled, then as CallFn
    Refine,    // the refinement at entry b is used (path element d): its flag set; c set: the first one,
               // which lays out the frame's cells after the arguments first
    Place,     // the refinement argument on the top passes the type check of entry c and goes into its cell
};

struct Ins {
    Op op;
    uint8_t argi;   // the operand number within site `up`
    uint16_t blk;   // the block the instruction stands in
    int32_t up;     // the site whose operand the instruction starts; -1 the expression itself
    uint32_t pos;   // the cell index the instruction stands for
    uint32_t a, b, c, d;
    Cell k;
};

enum class SiteKind : uint8_t {
    Function, Native, If, Either, Unless, Infix, Set, While, Until, Loop, Forever, Repeat, Foreach,
    Field,    // a path word/word read from an object: no frame, no operands
    SetPath,  // a set-path's frame
};

inline bool is_loop(SiteKind k) {
    return k == SiteKind::While || k == SiteKind::Until || k == SiteKind::Loop || k == SiteKind::Forever ||
           k == SiteKind::Repeat || k == SiteKind::Foreach;
}

// How a compiled word reaches its value.
enum class Reach : uint8_t { Const, Global, Local, Word };

struct Site {
    SiteKind kind;
    uint8_t argi;      // its own operand number within site `up`
    int32_t up;        // the site it is an operand of; -1 the expression itself
    uint16_t blk;
    Reach reach;       // how the naming word reaches the called value
    uint32_t index;    // its global or local index
    uint32_t pos;      // the naming word's cell index
    int32_t fast;      // an infix operator's integer step (fast_ops), NOT_FAST when none
    Cell fn;           // the called value (an op!'s function for Infix): checked to be the same
                       // (a function!: or one called alike, see vm.cpp);
                       // Field and SetPath: the path as it stands in the block
    Cell op;           // Infix: the op! value the word holds
    Cell name;         // the naming word as it stands in the block; Field and SetPath: the path's first word
    uint32_t header;   // the header of the frame the site pushes (stack::mark would make it)
    uint32_t body_header;  // function!: the header of its body's frame; a loop: of its loop frame
    node_t word_ctx;   // the naming word's context, kept by the frame
    node_t ctx;        // function!: its context; a loop: the context of its loop frame's name;
                       // Field and SetPath: the object's context (0: a SetPath sets the walker's way)
    uint32_t field;    // Field and SetPath: the field's index in that context
    Cell element;      // Field and SetPath: the path's second word
    node_t spec;       // native! and action!: the spec block
    void (*entry)(const int32_t*);  // native! and action!: the entry
    // Calls: the called value's argument list as it was (its cell and its
    // entries, the first ones the typesets of the arguments) and, for a
    // function!, the cells after the arguments (refinements unused,
    // locals); both kept in the code's pool.
    Cell list_cell;
    uint32_t list_at = 0, list_n = 0;
    uint32_t rest_at = 0, rest_n = 0;
    const Cell* list = nullptr;
    const Cell* rest = nullptr;
    // function!: the code of its body as last found ready to run in place,
    // the body's node and index then, and the code generation then.
    mutable block_code::Code* body = nullptr;
    mutable node_t body_node = 0;
    mutable uint32_t body_index = 0;
    mutable uint64_t body_seen = 0;
    mutable bool body_own = false;  // the body is the site's own function's
    // function! through a path: the block record of the path (0: a call by a
    // word) and the path's cells as compiled, from its first word, in the pool.
    uint16_t path_blk = 0;
    uint32_t path_at = 0, path_n = 0;
    const Cell* path = nullptr;
};

// A block compiled into the code: the code's own or one compiled in place.
struct Block {
    Cell cell;         // the block as evaluated (its index the first expression's)
    uint32_t code;     // the index its buffer carries while its cells are those compiled
                       // (none after a check in it failed: it runs as a block of its own)
    block_code::Code* ref;  // the code object of that index (this code's own for block 0)
    bool paren;        // a paren compiled in place (else a branch of if, either, unless,
                       // or the path of a call: its cells only checked, never run)
    uint32_t end;      // the instruction after its code
    uint32_t limit;    // where its code ends: the block's tail, or the end of the one expression
    mutable uint64_t seen;  // the code generation under which it was last found valid
    std::vector<std::pair<uint32_t, uint32_t>> starts;  // cell index of each expression, its Expr
};

enum class Kind : uint8_t {
    Seen,      // evaluated once: compiled at the next evaluation
    Inlined,   // compiled in place into the code of another block
    Compiled,
    Never,     // recompiled too often: walked
};

}  // namespace qel::compile

namespace qel::block_code {

struct Code {
    using Kind = compile::Kind;
    Kind kind = Kind::Seen;
    bool stale = false;      // a check failed: made again at the next evaluation
    bool dead = false;       // dropped by the table while running: freed when the last run ends
    uint32_t running = 0;
    uint32_t refs = 0;       // codes that compiled this block in place
    uint32_t remade = 0;     // times made again
    uint32_t walked = 0;     // evaluations walked before it was made
    uint32_t start = 0;      // the block index it was compiled from
    bool one_expression = false;  // only the block's first expression (a script's top level)
    node_t home = 0;         // the function context whose words are read as locals; 0 none
    uint32_t loops = 0;      // how deep its loops in place nest
    std::vector<compile::Ins> ins;
    std::vector<compile::Site> sites;
    std::vector<compile::Block> blocks;
    std::vector<Cell> pool;  // the argument lists and rest cells of the sites
};

}  // namespace qel::block_code

namespace qel::compile {

using block_code::Code;

// Compiles the block (a block! cell, at the index it is evaluated from)
// into code; its words are resolved against their values now. Attaches
// stubs to the blocks compiled in place.
void compile(const Cell& block, Code& code);

// Whether the block (from its index) calls a loop native through a word
// now: such a block is compiled at its first evaluation, since its loop
// would run its literal blocks many times outside the block's code.
bool runs_loop(const Cell& block);

// Frees a code object dropped by the table, or marks it for freeing when it
// is running or compiled in place into another code.
void free_code(Code* code);
// A run of the code ends: frees it when it was dropped meanwhile.
void end_run(Code* code);
// Drops a holder's hold on a code, freeing it when it was
// dropped by the table and nothing holds it any more.
void release(Code* code);

// Makes the code of a block again, in place when nothing runs or holds it.
Code* remake(const Cell& block, Code* code);

}  // namespace qel::compile
