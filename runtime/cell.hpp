// Value cells: every language value is a 16-byte cell of four 32-bit words.
// Word 0 is the header (type id in bits 0-7, flags above, which survive a
// change of type); words 1-3 are the payload, laid out by type. Nothing wider
// than 32 bits ever goes into a cell: doubles take words 2-3 through memcpy,
// series are reached through 32-bit node ids.
#pragma once
#include <cstdint>
#include <cstring>

namespace qel {

using node_t = uint32_t;  // 0 is no node

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");

// Type ids of the datatype registry.
enum TypeId : uint32_t {
    TYPE_DATATYPE = 1, TYPE_UNSET = 2, TYPE_NONE = 3, TYPE_LOGIC = 4,
    TYPE_BLOCK = 5, TYPE_PAREN = 6, TYPE_STRING = 7, TYPE_FILE = 8, TYPE_URL = 9,
    TYPE_CHAR = 10, TYPE_INTEGER = 11, TYPE_FLOAT = 12, TYPE_SYMBOL = 13,
    TYPE_CONTEXT = 14, TYPE_WORD = 15, TYPE_SET_WORD = 16, TYPE_LIT_WORD = 17,
    TYPE_GET_WORD = 18, TYPE_REFINEMENT = 19, TYPE_ISSUE = 20, TYPE_NATIVE = 21,
    TYPE_ACTION = 22, TYPE_OP = 23, TYPE_FUNCTION = 24, TYPE_PATH = 25,
    TYPE_LIT_PATH = 26, TYPE_SET_PATH = 27, TYPE_GET_PATH = 28, TYPE_ROUTINE = 29,
    TYPE_BITSET = 30, TYPE_TRIPLE = 31, TYPE_OBJECT = 32, TYPE_TYPESET = 33,
    TYPE_ERROR = 34, TYPE_VECTOR = 35, TYPE_HASH = 36, TYPE_PAIR = 37,
    TYPE_PERCENT = 38, TYPE_TUPLE = 39, TYPE_MAP = 40, TYPE_BINARY = 41,
    TYPE_SERIES = 42, TYPE_TIME = 43, TYPE_TAG = 44, TYPE_EMAIL = 45,
    TYPE_HANDLE = 46, TYPE_DATE = 47, TYPE_PORT = 48, TYPE_MONEY = 49,
    TYPE_REF = 50, TYPE_POINT2D = 51, TYPE_POINT3D = 52, TYPE_IMAGE = 53,
    TYPE_EVENT = 54,
};

// Type sets that code tests by hand. Each answers for a type id.
// any-word!: word!, set-word!, lit-word!, get-word!.
constexpr bool is_any_word(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }
// The four word types and refinement!: the words that bind to contexts.
constexpr bool is_word_or_refinement(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
// all-word!: the four word types, refinement! and issue!.
constexpr bool is_all_word(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
// any-path!: path!, lit-path!, set-path!, get-path!.
constexpr bool is_any_path(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }
// block!, paren!, hash!: the series of cells that are not paths.
constexpr bool is_block_paren_or_hash(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }
// Series of cells: block!, paren!, the four paths, hash!.
constexpr bool is_block_like(uint32_t t) { return is_block_paren_or_hash(t) || is_any_path(t); }
// any-string!: string!, file!, url!, tag!, email!, ref!.
constexpr bool is_any_string(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF;
}
// integer!, float!, percent!: the numbers that compare and order with each other.
constexpr bool is_integer_float_or_percent(uint32_t t) {
    return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}
// function!, routine!, native!, action!, op!: values that are called.
constexpr bool is_any_function(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

namespace cell_flag {
constexpr uint32_t TYPE_MASK = 0xFF;
constexpr uint32_t NEW_LINE = 0x40000000;
constexpr uint32_t CONTEXT_ON_STACK = 0x00400000;
constexpr uint32_t IMAGE_OWNED = 0x00010000;
}  // namespace cell_flag

// The shared constant cells: lookups that find nothing answer &shared::none.
// Nobody writes into them.
namespace shared {
extern Cell unset;
extern Cell none;
extern Cell true_value;
extern Cell false_value;
}  // namespace shared


// Typed payload accessors, one set per cell layout. Code outside this header
// reads and writes payload words only through them. Each accessor answers
// the value for a const cell and a reference for a mutable one, so
// `series_index(c)++` and `word_context(c) = ctx` work; they compile to a
// plain load or store.
#define QEL_CELL_FIELD(name, word, T)                                                   \
    static_assert(sizeof(T) == sizeof(uint32_t), "payload fields are 32-bit words"); \
    inline T name(const Cell* c) { return static_cast<T>(c->word); }                  \
    inline T name(const Cell& c) { return static_cast<T>(c.word); }                   \
    inline T& name(Cell* c) { return reinterpret_cast<T&>(c->word); }                 \
    inline T& name(Cell& c) { return reinterpret_cast<T&>(c.word); }

// Series (block!, paren!, the paths, the strings, binary!, bitset!, hash!,
// map!): the head index and the node of the buffer. hash! and map! keep the
// node of their index record in word 3 (map! index always 0).
QEL_CELL_FIELD(series_index, data1, uint32_t)
QEL_CELL_FIELD(series_node, data2, node_t)
QEL_CELL_FIELD(hash_index_node, data3, node_t)

// Words (word!, set-word!, lit-word!, get-word!, refinement!, issue!): the
// context bound to (0 unbound), the symbol id, the index in that context
// (-1 not yet resolved).
QEL_CELL_FIELD(word_context, data1, node_t)
QEL_CELL_FIELD(word_symbol, data2, int32_t)
QEL_CELL_FIELD(word_index, data3, int32_t)

// object!, error! and port!: the context, the class id (errors are class 1)
// and the node of the on-set info block (0 none). A bare error (no context)
// keeps its error code in word 3.
QEL_CELL_FIELD(object_context, data1, node_t)
QEL_CELL_FIELD(object_class, data2, int32_t)
QEL_CELL_FIELD(object_on_set, data3, node_t)
QEL_CELL_FIELD(error_code, data3, uint32_t)

// context!: the node of the word index record and the values (a node, or,
// for a stack-values context, a reference to a call's argument cells).
QEL_CELL_FIELD(context_words, data1, node_t)
QEL_CELL_FIELD(context_values, data2, uint32_t)

// function! and routine!: the context, the spec block's node and the node
// of the body record.
QEL_CELL_FIELD(function_context, data1, node_t)
QEL_CELL_FIELD(function_spec, data2, node_t)
QEL_CELL_FIELD(function_body, data3, node_t)

// native! and action!: the 1-based index into the native table or the
// action slots, the spec block's node and the node of the info record.
QEL_CELL_FIELD(native_index, data1, uint32_t)
QEL_CELL_FIELD(native_spec, data2, node_t)
QEL_CELL_FIELD(native_info, data3, node_t)

// Scalars.
QEL_CELL_FIELD(datatype_id, data1, uint32_t)   // datatype!
QEL_CELL_FIELD(logic_value, data1, uint32_t)   // logic!: 0 false
QEL_CELL_FIELD(integer_value, data2, int32_t)  // integer!
QEL_CELL_FIELD(char_code, data2, uint32_t)     // char!: the code point
QEL_CELL_FIELD(date_packed, data1, uint32_t)   // date!: year, month, day, zone, flags
QEL_CELL_FIELD(pair_x, data2, int32_t)         // pair!
QEL_CELL_FIELD(pair_y, data3, int32_t)
QEL_CELL_FIELD(handle_kind, data1, uint32_t)   // handle!
QEL_CELL_FIELD(handle_value, data2, uint32_t)

// symbol! cells of the symbol table: the id of the first spelling, the
// node of the string form (0 until made), the node of the UTF-8 name.
QEL_CELL_FIELD(symbol_alias, data1, int32_t)
QEL_CELL_FIELD(symbol_form_node, data2, node_t)
QEL_CELL_FIELD(symbol_name_node, data3, node_t)

// Argument-list entries of function records: the number of cells the entry
// covers and its ordinal.
QEL_CELL_FIELD(arg_entry_count, data2, uint32_t)
QEL_CELL_FIELD(arg_entry_ordinal, data3, uint32_t)

// image!: a series (index, node) whose word 3 holds the width in its low 16
// bits and the height in its high 16.
QEL_CELL_FIELD(image_size, data3, uint32_t)
inline uint32_t image_width(const Cell* c) { return c->data3 & 0xFFFF; }
inline uint32_t image_height(const Cell* c) { return c->data3 >> 16; }

#undef QEL_CELL_FIELD

// Layouts that fill the whole payload with bits or bytes (typeset!, triple!,
// point2D!/point3D!, tuple!) address its three words by number, 0 to 2.
inline uint32_t payload_word(const Cell* c, uint32_t i) { return i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3; }
inline uint32_t& payload_word(Cell* c, uint32_t i) { return i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3; }
inline uint32_t payload_word(const Cell& c, uint32_t i) { return payload_word(&c, i); }
inline uint32_t& payload_word(Cell& c, uint32_t i) { return payload_word(&c, i); }
inline bool same_payload(const Cell* a, const Cell* b) {
    return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
}

// point2D!/point3D!: coordinate i (0 to 2) as a float in word i + 1.
inline float point_coord(const Cell* c, uint32_t i) {
    float f;
    const uint32_t w = payload_word(c, i);
    std::memcpy(&f, &w, sizeof f);
    return f;
}
inline void set_point_coord(Cell* c, uint32_t i, float f) { std::memcpy(&payload_word(c, i), &f, sizeof f); }

// op!: the type of the function it was made from, in header bits 16-23.
constexpr uint32_t OP_INNER_SHIFT = 16;
inline uint32_t op_inner_type(const Cell* c) { return (c->header >> OP_INNER_SHIFT) & 0xFF; }
inline uint32_t op_inner_type(const Cell& c) { return op_inner_type(&c); }
inline void set_op_inner_type(Cell* c, uint32_t type) {
    c->header = (c->header & ~(0xFFu << OP_INNER_SHIFT)) | ((type & 0xFF) << OP_INNER_SHIFT);
}
// The function cell an op! stands for: the same payload under the inner type.
inline Cell op_function(const Cell& op) { return Cell{op_inner_type(op), op.data1, op.data2, op.data3}; }

// tuple!: the length in header bits 19-22; byte i (0-based) of the payload,
// byte 0 the lowest byte of word 1.
constexpr uint32_t TUPLE_LENGTH_SHIFT = 19;
constexpr uint32_t TUPLE_LENGTH_MASK = 0xFu << TUPLE_LENGTH_SHIFT;
inline uint32_t tuple_length(const Cell* c) { return (c->header & TUPLE_LENGTH_MASK) >> TUPLE_LENGTH_SHIFT; }
inline uint8_t tuple_byte(const Cell* c, uint32_t i) {
    return static_cast<uint8_t>(payload_word(c, i / 4) >> (8 * (i & 3)));
}
inline void set_tuple_byte(Cell* c, uint32_t i, uint8_t b) {
    uint32_t& w = payload_word(c, i / 4);
    const uint32_t shift = 8 * (i & 3);
    w = (w & ~(0xFFu << shift)) | (static_cast<uint32_t>(b) << shift);
}

// The truth of a value: none! and false are false, everything else
// (unset! too) is true.
inline bool is_truthy(const Cell* v) {
    const uint32_t t = v->header & cell_flag::TYPE_MASK;
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && logic_value(v) == 0));
}
inline bool is_truthy(const Cell& v) { return is_truthy(&v); }

namespace cell {

inline uint32_t type_of(const Cell* c) { return c->header & cell_flag::TYPE_MASK; }

inline Cell* set_type(Cell* c, uint32_t type) {
    c->header = (c->header & ~cell_flag::TYPE_MASK) | (type & cell_flag::TYPE_MASK);
    return c;
}

inline void clear_new_line(Cell* c) { c->header &= ~cell_flag::NEW_LINE; }

inline Cell* copy(const Cell* src, Cell* dst) {
    if (src != dst) std::memcpy(dst, src, sizeof(Cell));
    return dst;
}

// Doubles (float!, percent!, time!, the seconds of a date!) take words 2-3.
inline double get_double(const Cell* c) {
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}

inline void put_double(Cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

}  // namespace cell
}  // namespace qel
