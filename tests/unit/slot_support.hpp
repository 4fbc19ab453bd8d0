// Test helper: values built by hand and action slots called the way the
// action entries call them, for the tests of single datatypes.
#pragma once
#include <cstring>
#include <string>

#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "test_support.hpp"

namespace qel::testutil {

inline Cell int_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
inline Cell char_cell(uint32_t cp) { return Cell{TYPE_CHAR, 0, cp, 0}; }
inline Cell type_cell(uint32_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }
inline Cell float_cell(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    cell::put_double(&c, d);
    return c;
}
inline Cell logic_cell(bool b) { return Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0}; }

// A string! of the UTF-8 text at the given index.
inline Cell string_cell(const std::string& utf8, uint32_t index = 0) {
    const node_t n = utf8.empty() ? memory::alloc_codepoints(16, 1)
                                  : unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()),
                                                           static_cast<uint32_t>(utf8.size()))
                                        .node;
    return Cell{TYPE_STRING, index, n, 0};
}

inline Cell binary_cell(std::initializer_list<uint8_t> bytes) {
    const node_t n = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
    for (uint8_t b : bytes) series::append_bytes(n, &b, 1);
    return Cell{TYPE_BINARY, 0, n, 0};
}

// A block! of the given cells.
inline Cell block_cell(std::initializer_list<Cell> cells) {
    const Cell b{TYPE_BLOCK, 0, memory::alloc_cells(static_cast<uint32_t>(cells.size()) + 1), 0};
    for (const Cell& c : cells) *series::reserve_cell(&b) = c;
    return b;
}

// A direct slot (arithmetic, index?) run on values pushed at a fresh
// argument base; answers what it left there.
template <datatype::Slot S>
Cell run_direct(const Cell& a, const Cell& b = Cell{TYPE_NONE, 0, 0, 0}) {
    stack::Saved saved;
    stack::arg_base = stack::arg_top;
    stack::push(&a);
    stack::push(&b);
    actions::slot<S>(&a)();
    return *stack::arg_base;
}

template <datatype::Slot S>
int direct_error(const Cell& a, const Cell& b) {
    return raised([&] { run_direct<S>(a, b); });
}

inline Cell make_value(uint32_t type, const Cell& spec, bool to = false) {
    Cell proto = type_cell(type);
    Cell s = spec;
    const Cell probe{type, 0, 0, 0};
    return *(to ? actions::slot<datatype::TO>(&probe) : actions::slot<datatype::MAKE>(&probe))(&proto, &s, type);
}

inline int make_error(uint32_t type, const Cell& spec, bool to = false) {
    return raised([&] { make_value(type, spec, to); });
}

inline std::string formed(const Cell& v) {
    const node_t out = text::make_buffer(16);
    actions::form(&v, out, false, 0x7FFFFFFF);
    return text::to_utf8(out);
}

inline std::string molded(const Cell& v, bool only = false, bool all = false) {
    const node_t out = text::make_buffer(16);
    actions::mold(&v, out, datatype::MoldOptions{.only = only, .all = all}, 0x7FFFFFFF, 0);
    return text::to_utf8(out);
}

inline int32_t compared(const Cell& a, const Cell& b, CompareOp op) {
    return datatype::action<datatype::COMPARE>(cell::type_of(&a))(&a, &b, op);
}

}  // namespace qel::testutil
