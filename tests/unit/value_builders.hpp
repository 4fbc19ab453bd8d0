// Test helpers for the datatype tests: values built by hand (the lexer does
// not exist for C++ tests) and a plain structural rendering of a value, so
// expectations read like source text without depending on mold.
#pragma once
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "evaluator/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"
#include "test_support.hpp"

namespace qel::testutil {

inline Cell int_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
inline Cell logic_cell(bool v) { return Cell{TYPE_LOGIC, v, 0, 0}; }
inline Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }
inline Cell datatype_of(uint32_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }
inline Cell character(uint32_t cp) { return Cell{TYPE_CHAR, 0, cp, 0}; }

inline Cell word_cell(const char* name, uint32_t type = TYPE_WORD) {
    Cell w = word::make_from_symbol(symbol::intern_cstr(name));
    cell::set_type(&w, type);
    return w;
}

inline Cell block_of(std::initializer_list<Cell> cells, uint32_t type = TYPE_BLOCK) {
    const node_t n = memory::alloc_cells(static_cast<uint32_t>(cells.size() ? cells.size() : 1));
    const Cell b{type, 0, n, 0};
    for (const Cell& c : cells) *series::reserve_cell(&b) = c;
    return b;
}

inline Cell string_of(const char* text, uint32_t type = TYPE_STRING) {
    const node_t n = memory::alloc_bytes(16);
    series::append_bytes(n, text, static_cast<uint32_t>(std::strlen(text)));
    return Cell{type, 0, n, 0};
}

inline Cell at_index(Cell series, uint32_t index) {
    series_index(series) = index;
    return series;
}

// A copy on the argument stack, where slots expect their arguments.
inline Cell* arg(const Cell& c) { return stack::push(&c); }

// Error code raised by f while the argument base is base (raising needs a
// try frame, whose push moves the base).
template <class F>
int raised_at(Cell* base, F f) {
    return raised([&] {
        stack::arg_base = base;
        f();
    });
}

// Calls the native on its arguments, without the spec check a call from
// a script makes first, pushed on a native frame of its own; answers the error code raised (0 when none)
// and leaves the result in *result.
inline int call_checked(natives::NativeFn fn, const std::vector<Cell>& args, const std::vector<int32_t>& refs,
                        Cell* result = nullptr) {
    const stack::Saved saved;
    stack::mark_native(nullptr);
    Cell* base = stack::arg_base;
    for (const Cell& a : args) stack::push(&a);
    return raised_at(base, [&] {
        // The try frame of raised() moved the base above the arguments.
        stack::arg_top = base + args.size();
        fn(refs.data());
        if (result) *result = *base;
    });
}

inline Cell* cells_of(const Cell& b) { return series::head_cell(series::buffer_of(series_node(b))); }

// The value as source-like text, from a series' index to its tail.
inline std::string show(const Cell& v) {
    const uint32_t t = cell::type_of(&v);
    auto series_text = [&](const char* open, const char* close, const char* sep) {
        std::string s = open;
        const uint32_t n = series::buffer_length(series_node(v));
        for (uint32_t i = series_index(v); i < n; i++) {
            if (i > series_index(v)) s += sep;
            s += show(cells_of(v)[i]);
        }
        return s + close;
    };
    switch (t) {
        case TYPE_UNSET: return "unset";
        case TYPE_NONE: return "none";
        case TYPE_LOGIC: return logic_value(v) ? "true" : "false";
        case TYPE_INTEGER: return std::to_string(integer_value(v));
        case TYPE_CHAR: return "#'" + std::string(1, static_cast<char>(char_code(v))) + "'";
        case TYPE_DATATYPE: return datatype::entry(datatype_id(v)).name;
        case TYPE_WORD: return symbol::name(word_symbol(v));
        case TYPE_SET_WORD: return std::string(symbol::name(word_symbol(v))) + ":";
        case TYPE_LIT_WORD: return "'" + std::string(symbol::name(word_symbol(v)));
        case TYPE_GET_WORD: return ":" + std::string(symbol::name(word_symbol(v)));
        case TYPE_BLOCK: case TYPE_HASH: return series_text("[", "]", " ");
        case TYPE_PAREN: return series_text("(", ")", " ");
        case TYPE_PATH: return series_text("", "", "/");
        case TYPE_STRING: {
            std::string s = "\"";
            const uint32_t n = series::buffer_length(series_node(v));
            for (uint32_t i = series_index(v); i < n; i++) {
                const uint32_t cp = unicode::codepoint_at(series_node(v), i);
                s += cp < 128 ? std::string(1, static_cast<char>(cp)) : "<" + std::to_string(cp) + ">";
            }
            return s + "\"";
        }
        default: return "?" + std::to_string(t);
    }
}

}  // namespace qel::testutil
