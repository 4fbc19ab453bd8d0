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
// signature (datatype::SlotSig maps each slot to it); the table keeps them
// all as one type, and the typed registration and lookups below convert to
// and from the slot's signature. A round trip through reinterpret_cast
// between function pointer types is exact.
using ActionFn = void (*)();

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

// The refinements of mold.
struct MoldOptions {
    bool only = false;  // no outer brackets around a block
    bool all = false;   // construction syntax for every value
    bool flat = false;  // no line breaks or indentation
    bool part = false;  // stop once the limit is spent
    // A value inside the one molded keeps its brackets: only reaches the outermost block.
    MoldOptions nested() const {
        MoldOptions o = *this;
        o.only = false;
        return o;
    }
};

// Signatures of the form, mold and compare slots. Form and mold append to an output text buffer and answer the part
// limit less what they appended; the action entry cuts the result to the
// limit afterwards. indent is the depth of the value molded.
using FormFn = int32_t(const Cell* value, node_t out, bool part, int32_t limit);
using MoldFn = int32_t(const Cell* value, node_t out, const MoldOptions& options, int32_t limit, int32_t indent);
// -1, 0, 1, or -2 when the two values cannot be compared with op (the codes
// and their groups are in runtime/compare_op.hpp).
using CompareFn = int32_t(const Cell* a, const Cell* b, CompareOp op);

// The refinements of find and select; a cell is nullptr when absent.
struct FindOptions {
    Cell* part = nullptr;
    Cell* with = nullptr;
    Cell* skip = nullptr;
    bool only = false;
    bool case_sensitive = false;
    bool same = false;
    bool any = false;
    bool last = false;
    bool reverse = false;
    bool tail = false;
    bool match = false;
};

// The refinements of round; scale is nullptr when absent.
struct RoundOptions {
    Cell* scale = nullptr;
    bool even = false;
    bool down = false;
    bool half_down = false;
    bool floor = false;
    bool ceiling = false;
    bool half_ceiling = false;
};

// The refinements of trim; with is nullptr when absent.
struct TrimOptions {
    bool head = false;
    bool tail = false;
    bool automatic = false;
    bool lines = false;
    bool all = false;
    Cell* with = nullptr;
};

// The refinements of sort; a cell is nullptr when absent.
struct SortOptions {
    Cell* skip = nullptr;
    Cell* comparator = nullptr;
    Cell* part = nullptr;
    bool case_sensitive = false;
    bool all = false;
    bool reverse = false;
    bool stable = false;
};

// One step of a path walk, as the eval-path and set-path slots receive it.
struct PathStep {
    Cell* element = nullptr;    // the selector
    Cell* new_value = nullptr;  // nullptr when reading
    Cell* path = nullptr;       // nullptr outside a path
    Cell* parent = nullptr;     // the value the current one was taken from
    Cell* previous = nullptr;   // the element before this one
    int32_t index = 0;          // the element's index in the path
    bool case_sensitive = false;
};

namespace slot_fn {
// Typed slots receive the values as cells (the first is the argument base
// when called through an action word) and refinements as flags, cells
// (nullptr when absent) or counts; they answer the result cell, which the
// action entry copies into the argument base. Direct slots (the navigation
// and arithmetic actions) read their arguments from the argument stack and
// write the result into the argument base themselves.
using Make = Cell*(Cell* proto, Cell* spec, uint32_t type);  // make and to
using Random = Cell*(Cell* value, bool seed, bool secure, bool only);
using Reflect = Cell*(Cell* value, int32_t field_symbol);
using Form = FormFn;
using Mold = MoldFn;
using Compare = CompareFn;
// The current value and the step of the path applied to it.
using EvalPath = Cell*(Cell* value, const PathStep& step);
using Direct = void();  // absolute, add ... xor~, at, back, head, head?, index?, next, skip, tail, tail?
using Negate = Cell*(Cell* value);
using Round = Cell*(Cell* value, const RoundOptions& options);
using EvenOdd = bool(Cell* value);
using Complement = Cell*(Cell* value);
// part is the normalised count (-1 without /part); dup the repeat count
// (1 without /dup).
using Insert = Cell*(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);  // append, insert, change
using Clear = Cell*(Cell* series);
// The result cell starts as unset; types is a datatype! or typeset!.
using Copy = Cell*(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell*(Cell* series, Cell* value, const FindOptions& options);
using Select = Cell*(Cell* series, Cell* value, const FindOptions& options);  // ignores tail and match
using Length = int32_t(Cell* series);  // -1 answers none
using Move = Cell*(Cell* origin, Cell* target, Cell* part);
// index is the index argument as pick and poke read it: true 1, false 2, a
// char! or integer! its value, anything else 0 (the slot reads the cell).
using Pick = Cell*(Cell* series, int32_t index, Cell* index_cell);
using Poke = Cell*(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using Put = Cell*(Cell* series, Cell* key, Cell* value, bool case_sensitive);
using Remove = Cell*(Cell* series, Cell* part, Cell* key);
using Reverse = Cell*(Cell* series, Cell* part, Cell* skip);
using Sort = Cell*(Cell* series, const SortOptions& options);
using Swap = Cell*(Cell* series1, Cell* series2);
using Take = Cell*(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell*(Cell* series, const TrimOptions& options);
// The port actions (create close delete open open? query read rename
// update write): the target, the second argument (rename's new name,
// write's data; nullptr for the others) and the refinement integers as the
// action word received them. No core type fills these slots.
using Port = Cell*(Cell* target, Cell* second, const int32_t* refinements);
using Modify = Cell*(Cell* target, Cell* field, Cell* value, bool case_sensitive);
}  // namespace slot_fn

// The signature of each slot.
template <Slot S>
struct SlotSig;
#define QEL_SLOT_SIG(SLOT, FN) \
    template <>                \
    struct SlotSig<SLOT> {     \
        using type = slot_fn::FN; \
    };
QEL_SLOT_SIG(MAKE, Make)
QEL_SLOT_SIG(RANDOM, Random)
QEL_SLOT_SIG(REFLECT, Reflect)
QEL_SLOT_SIG(TO, Make)
QEL_SLOT_SIG(FORM, Form)
QEL_SLOT_SIG(MOLD, Mold)
QEL_SLOT_SIG(EVAL_PATH, EvalPath)
QEL_SLOT_SIG(SET_PATH, EvalPath)
QEL_SLOT_SIG(COMPARE, Compare)
QEL_SLOT_SIG(ABSOLUTE, Direct)
QEL_SLOT_SIG(ADD, Direct)
QEL_SLOT_SIG(DIVIDE, Direct)
QEL_SLOT_SIG(MULTIPLY, Direct)
QEL_SLOT_SIG(NEGATE, Negate)
QEL_SLOT_SIG(POWER, Direct)
QEL_SLOT_SIG(REMAINDER, Direct)
QEL_SLOT_SIG(ROUND, Round)
QEL_SLOT_SIG(SUBTRACT, Direct)
QEL_SLOT_SIG(EVEN_Q, EvenOdd)
QEL_SLOT_SIG(ODD_Q, EvenOdd)
QEL_SLOT_SIG(AND_T, Direct)
QEL_SLOT_SIG(COMPLEMENT, Complement)
QEL_SLOT_SIG(OR_T, Direct)
QEL_SLOT_SIG(XOR_T, Direct)
QEL_SLOT_SIG(APPEND, Insert)
QEL_SLOT_SIG(AT, Direct)
QEL_SLOT_SIG(BACK, Direct)
QEL_SLOT_SIG(CHANGE, Insert)
QEL_SLOT_SIG(CLEAR, Clear)
QEL_SLOT_SIG(COPY, Copy)
QEL_SLOT_SIG(FIND, Find)
QEL_SLOT_SIG(HEAD, Direct)
QEL_SLOT_SIG(HEAD_Q, Direct)
QEL_SLOT_SIG(INDEX_Q, Direct)
QEL_SLOT_SIG(INSERT, Insert)
QEL_SLOT_SIG(LENGTH_Q, Length)
QEL_SLOT_SIG(MOVE, Move)
QEL_SLOT_SIG(NEXT, Direct)
QEL_SLOT_SIG(PICK, Pick)
QEL_SLOT_SIG(POKE, Poke)
QEL_SLOT_SIG(PUT, Put)
QEL_SLOT_SIG(REMOVE, Remove)
QEL_SLOT_SIG(REVERSE, Reverse)
QEL_SLOT_SIG(SELECT, Select)
QEL_SLOT_SIG(SORT, Sort)
QEL_SLOT_SIG(SKIP, Direct)
QEL_SLOT_SIG(SWAP, Swap)
QEL_SLOT_SIG(TAIL, Direct)
QEL_SLOT_SIG(TAIL_Q, Direct)
QEL_SLOT_SIG(TAKE, Take)
QEL_SLOT_SIG(TRIM, Trim)
QEL_SLOT_SIG(CREATE, Port)
QEL_SLOT_SIG(CLOSE, Port)
QEL_SLOT_SIG(DELETE, Port)
QEL_SLOT_SIG(MODIFY, Modify)
QEL_SLOT_SIG(OPEN, Port)
QEL_SLOT_SIG(OPEN_Q, Port)
QEL_SLOT_SIG(QUERY, Port)
QEL_SLOT_SIG(READ, Port)
QEL_SLOT_SIG(RENAME, Port)
QEL_SLOT_SIG(UPDATE, Port)
QEL_SLOT_SIG(WRITE, Port)
#undef QEL_SLOT_SIG

// A pointer to slot S's routine.
template <Slot S>
using SlotFn = typename SlotSig<S>::type*;

namespace detail {
template <Slot S>
inline ActionFn erase(SlotFn<S> f) {
    return reinterpret_cast<ActionFn>(f);
}
template <Slot S>
inline SlotFn<S> restore(ActionFn a) {
    return reinterpret_cast<SlotFn<S>>(a);
}
}  // namespace detail

// The registration record: type id, parent id (0 for none), name, and one
// entry per slot: an action, nullptr for an empty slot, or INHERIT.
struct Record {
    uint32_t type;
    uint32_t parent;
    const char* name;
    ActionFn actions[ACTION_SLOTS];
};

// Typed registration: f must have exactly the signature of slot S.
template <Slot S>
inline void set_slot(Record& r, SlotFn<S> f) {
    r.actions[S] = detail::erase<S>(f);
}
template <Slot S>
inline void inherit_slot(Record& r) {
    r.actions[S] = INHERIT;
}
template <Slot S>
inline void clear_slot(Record& r) {
    r.actions[S] = nullptr;
}

// The slot of a math action.
constexpr Slot slot_of_math(MathOp op) {
    constexpr Slot slots[] = {ADD, SUBTRACT, MULTIPLY, DIVIDE, REMAINDER, OR_T, AND_T, XOR_T};
    return slots[to_code(op)];
}

// The slots of the two-operand math actions, each the type's routine for
// one operator code (the bitwise ones only with bits): slot_of receives the
// code as a std::integral_constant and answers the direct routine.
template <class SlotOf>
void fill_math_slots(Record& r, SlotOf slot_of, bool bits) {
    set_slot<ADD>(r, slot_of(std::integral_constant<MathOp, MathOp::Add>{}));
    set_slot<SUBTRACT>(r, slot_of(std::integral_constant<MathOp, MathOp::Subtract>{}));
    set_slot<MULTIPLY>(r, slot_of(std::integral_constant<MathOp, MathOp::Multiply>{}));
    set_slot<DIVIDE>(r, slot_of(std::integral_constant<MathOp, MathOp::Divide>{}));
    set_slot<REMAINDER>(r, slot_of(std::integral_constant<MathOp, MathOp::Remainder>{}));
    if (!bits) return;
    set_slot<OR_T>(r, slot_of(std::integral_constant<MathOp, MathOp::Or>{}));
    set_slot<AND_T>(r, slot_of(std::integral_constant<MathOp, MathOp::And>{}));
    set_slot<XOR_T>(r, slot_of(std::integral_constant<MathOp, MathOp::Xor>{}));
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
// Slot S of type as its own signature, or nullptr when empty.
template <Slot S>
inline SlotFn<S> action(uint32_t type) {
    return detail::restore<S>(action(type, S));
}
// The routine of a two-operand math action of type, or nullptr when empty:
// every math slot is a direct one.
inline slot_fn::Direct* math_action(uint32_t type, MathOp op) {
    return detail::restore<ADD>(action(type, slot_of_math(op)));
}

// datatype! itself.
void fill(Record& r);
int32_t form(const Cell* value, node_t out, bool part, int32_t limit);
int32_t mold(const Cell* value, node_t out, const MoldOptions& options, int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, CompareOp op);

}  // namespace datatype

namespace slot_fn = datatype::slot_fn;

}  // namespace qel
