// The datatype registry: for every type id its name, the word of that name
// and the 62 action slots that make the type's behaviour. Each datatype
// hands in one registration record; a child copies the slots it marks as
// inherited from its parent at that moment, which is why start-up registers
// the types in an order that puts every parent before its children.
//
// This file also defines datatype! itself, whose values name a type.
#pragma once
#include <cstdint>
#include <type_traits>

#include "runtime/cell.hpp"
#include "runtime/compare_op.hpp"
#include "runtime/math_op.hpp"
#include "runtime/series.hpp"

namespace qel {

// A datatype! value naming the type id.
inline Cell datatype_cell(uint32_t type) { return Cell{TYPE_DATATYPE, type, 0, 0}; }

// An action entry as the registry stores it. Every slot has its own
// signature (form, mold and compare take typed arguments, most others read
// the argument stack); the table keeps them all as one type and the
// dispatcher casts back to the slot's signature before calling. A round
// trip through reinterpret_cast between function pointer types is exact.
using ActionFn = void (*)();

template <class F>
inline ActionFn as_action(F* f) {
    return reinterpret_cast<ActionFn>(f);
}

template <class F>
inline F* action_as(ActionFn a) {
    return reinterpret_cast<F*>(a);
}

namespace datatype {

constexpr uint32_t TYPE_LIMIT = 57;     // type ids 0..56; 0 names nothing
constexpr uint32_t ACTION_SLOTS = 62;
constexpr uint32_t RECORD_WORDS = 3 + ACTION_SLOTS;

namespace detail {
void inherit_marker();
}

// In a record: take the parent's entry of this slot at registration time.
// A real function's address, so it can never equal nullptr or an action.
inline constexpr ActionFn INHERIT = &detail::inherit_marker;

// Slot numbers of the actions (the action word's number is slot + 1).
enum Slot : uint32_t {
    MAKE, RANDOM, REFLECT, TO, FORM, MOLD, EVAL_PATH, SET_PATH, COMPARE,
    ABSOLUTE, ADD, DIVIDE, MULTIPLY, NEGATE, POWER, REMAINDER, ROUND,
    SUBTRACT, EVEN_Q, ODD_Q, AND_T, COMPLEMENT, OR_T, XOR_T, APPEND, AT,
    BACK, CHANGE, CLEAR, COPY, FIND, HEAD, HEAD_Q, INDEX_Q, INSERT, LENGTH_Q,
    MOVE, NEXT, PICK, POKE, PUT, REMOVE, REVERSE, SELECT, SORT, SKIP, SWAP,
    TAIL, TAIL_Q, TAKE, TRIM, CREATE, CLOSE, DELETE, MODIFY, OPEN, OPEN_Q,
    QUERY, READ, RENAME, UPDATE, WRITE,
};
static_assert(WRITE == ACTION_SLOTS - 1);

// The registration record: type id, parent id (0 for none), name, and one
// entry per slot: an action, nullptr for an empty slot, or INHERIT.
struct Record {
    uint32_t type;
    uint32_t parent;
    const char* name;
    ActionFn actions[ACTION_SLOTS];
};

// The slot of a math action.
constexpr Slot slot_of_math(MathOp op) {
    constexpr Slot slots[] = {ADD, SUBTRACT, MULTIPLY, DIVIDE, REMAINDER, OR_T, AND_T, XOR_T};
    return slots[to_code(op)];
}

// The slots of the two-operand math actions, each the type's routine for
// one operator code (the bitwise ones only with bits): slot_of receives the
// code as a std::integral_constant and answers the entry.
template <class SlotOf>
void fill_math_slots(Record& r, SlotOf slot_of, bool bits) {
    r.actions[ADD] = slot_of(std::integral_constant<MathOp, MathOp::Add>{});
    r.actions[SUBTRACT] = slot_of(std::integral_constant<MathOp, MathOp::Subtract>{});
    r.actions[MULTIPLY] = slot_of(std::integral_constant<MathOp, MathOp::Multiply>{});
    r.actions[DIVIDE] = slot_of(std::integral_constant<MathOp, MathOp::Divide>{});
    r.actions[REMAINDER] = slot_of(std::integral_constant<MathOp, MathOp::Remainder>{});
    if (!bits) return;
    r.actions[OR_T] = slot_of(std::integral_constant<MathOp, MathOp::Or>{});
    r.actions[AND_T] = slot_of(std::integral_constant<MathOp, MathOp::And>{});
    r.actions[XOR_T] = slot_of(std::integral_constant<MathOp, MathOp::Xor>{});
}

// A record with every slot set to fill (INHERIT by default), for types
// that set a few slots of their own.
Record make_record(uint32_t type, uint32_t parent, const char* name, ActionFn fill = INHERIT);

struct NameEntry {
    const char* name;  // zero-terminated, with its "!"
    uint32_t length;   // bytes without the "!"
    Cell* word;        // kept word of the name; null until the words are made
    uint32_t parent;   // the type its inherited slots came from, 0 for none
};

// Signatures of the slots datatype! fills (for action_as<FormFn> and so
// on). Form and mold append to an output text buffer and answer the part
// limit less what they appended; the action entry cuts the result to the
// limit afterwards.
using FormFn = int32_t(const Cell* value, node_t out, bool part, int32_t limit);
using MoldFn = int32_t(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit,
                       int32_t indent);
// -1, 0, 1, or -2 when the two values cannot be compared with op (the codes
// and their groups are in runtime/compare_op.hpp).
using CompareFn = int32_t(const Cell* a, const Cell* b, CompareOp op);

// Empties both tables (start-up; tests that need a clean registry).
void init_tables();

// count is the number of 32-bit words the record stands for: 3 + its slot
// count. Any count other than 65 ends the process with status 1 after the
// registry's error message, as does a type id outside 1..56 or a parent
// that is not registered yet.
void register_type(uint32_t count, const Record& record);

// Makes the word of every registered name (start-up, once the symbol table
// and the global context exist). Types registered afterwards get their word
// at registration.
void make_words();

// Reserves a cell at the tail of the block value and makes it a datatype!
// naming type. The cell lies in the block's buffer: valid until the next
// allocation.
Cell* append_at(const Cell* block, uint32_t type);

uint32_t highest();
const NameEntry& entry(uint32_t type);
ActionFn action(uint32_t type, uint32_t slot);

// datatype! itself.
void fill(Record& r);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);

}  // namespace datatype
}  // namespace qel
