// Shared pieces of the text tests: strings made from UTF-8 on the argument
// stack (where the collector rule lets C++ hold them), read back as UTF-8,
// and errors caught together with their arguments.
#pragma once
#include <cstring>
#include <functional>
#include <string>

#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "startup_support.hpp"

namespace qel::testutil {

class TextTest : public StartedRuntime {
protected:
    // A text value on the argument stack, in the narrowest units.
    static Cell* text(const std::string& utf8, uint32_t type = TYPE_STRING) {
        Cell* c = stack::push_slot();
        const unicode::Loaded l =
            unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()), static_cast<uint32_t>(utf8.size()));
        *c = Cell{type, 0, l.node, 0};
        return c;
    }
    // The same text in units of the given width.
    static Cell* text_in(const std::string& utf8, uint32_t width) {
        Cell* c = text(utf8);
        if (width > 1) unicode::widen(series_node(c), width);
        return c;
    }
    static Cell* chr(uint32_t cp) { return stack::push(ptr(Cell{TYPE_CHAR, 0, cp, 0})); }
    static Cell* integer(int32_t v) { return stack::push(ptr(Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0})); }
    static Cell* binary(const std::string& bytes) {
        Cell* c = stack::push_slot();
        *c = Cell{TYPE_BINARY, 0, memory::alloc_bytes(static_cast<uint32_t>(bytes.size())), 0};
        series::append_bytes(series_node(c), bytes.data(), static_cast<uint32_t>(bytes.size()));
        return c;
    }
    // A block of the given cells (copied), on the stack.
    static Cell* make_block(std::initializer_list<const Cell*> items) {
        Cell* c = stack::push_slot();
        *c = Cell{TYPE_BLOCK, 0, memory::alloc_cells(static_cast<uint32_t>(items.size()) + 1), 0};
        for (const Cell* i : items) {
            const Cell v = *i;
            *series::reserve_cell(c) = v;
        }
        return c;
    }

    // The value's text from its index.
    static std::string utf8(const Cell* v) {
        std::string s;
        const uint32_t n = string::length(v);
        for (uint32_t i = 0; i < n; i++) {
            uint8_t b[4];
            const uint32_t k = unicode::encode_utf8(string::char_at(v, series_index(v) + i), b);
            s.append(reinterpret_cast<const char*>(b), k);
        }
        return s;
    }
    static uint32_t width_of(const Cell* v) { return series::unit(series::buffer_of(series_node(v))); }

    static std::string molded(const Cell* v, bool all = false, bool part = false, int32_t limit = INT32_MAX) {
        const node_t out = text::make_buffer(16);
        string::mold(v, out, datatype::MoldOptions{.all = all, .part = part}, limit, 0);
        return text::to_utf8(out);
    }

    // The error raised by f (a copy of its error! cell), or an unset cell.
    static Cell caught(const std::function<void()>& f) {
        stack::Saved saved;
        stack::mark_try(nullptr);
        try {
            f();
        } catch (const NonLocalExit&) {
            return *stack::top();
        }
        return Cell{TYPE_UNSET, 0, 0, 0};
    }
    static int code(const Cell& error) { return cell::type_of(&error) == TYPE_UNSET ? 0 : err::code_of(&error); }

private:
    static const Cell* ptr(const Cell& c) {
        static Cell scratch;
        scratch = c;
        return &scratch;
    }
};

}  // namespace qel::testutil
