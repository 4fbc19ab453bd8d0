// Value cells: every language value is a 16-byte cell of four 32-bit words.
// Word 0 is the header (type id in bits 0-7, flags above, which survive a
// change of type); words 1-3 are the payload, laid out by type. Nothing wider
// than 32 bits ever goes into a cell: doubles take words 2-3 through memcpy,
// series are reached through 32-bit node ids.
#pragma once
#include <cstdint>
#include <cstring>

namespace qel {

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

inline double get_double(const Cell* c) {
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}

inline void put_double(Cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

}  // namespace cell
}  // namespace qel
