// Raising errors: building the error value and handing it to the thrower,
// and the display of an error by the catalogue's texts.
//
// The texts come from the catalogue table; the catalogue object of the
// system takes its place with the error! datatype.
#include "runtime/errors.hpp"

#include "datatypes/text.hpp"
#include "evaluator/actions.hpp"

#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/exits.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::err {

namespace {

const Cell none_cell{TYPE_NONE, 0, 0, 0};

// Set while an error value is being built: an error raised meanwhile (the
// allocation found no memory) travels as a bare error holding only its
// code, instead of trying to build again.
bool building = false;

Cell bare(int code) { return Cell{TYPE_ERROR, 0, 1, static_cast<uint32_t>(code)}; }

Cell* fields_of(const Cell* error) { return series::head_cell(series::buffer_of(error->data1)); }

// An argument as a message shows it: molded flat and cut at 80 characters,
// or formed for syntax errors, whose arguments are pieces of source text.
// Before the datatypes exist (or without a slot) a few types are spelled
// out here.
std::string form_arg(const Cell& v, bool formed) {
    constexpr int32_t LIMIT = 80;
    const uint32_t slot = formed ? datatype::FORM : datatype::MOLD;
    if (stack::ready() && datatype::action(cell::type_of(&v), slot)) {
        const node_t out = text::make_buffer(32);
        if (formed) actions::form(&v, out, true, LIMIT);
        else actions::mold(&v, out, false, false, true, true, LIMIT, 0);
        if (text::length(out) > static_cast<uint32_t>(LIMIT)) series::set_tail_at(out, LIMIT + 1);
        return text::to_utf8(out);
    }
    switch (cell::type_of(&v)) {
        case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return symbol::name(static_cast<int32_t>(v.data2));
        case TYPE_SET_WORD: return std::string(symbol::name(static_cast<int32_t>(v.data2))) + ":";
        case TYPE_INTEGER: return std::to_string(static_cast<int32_t>(v.data2));
        case TYPE_DATATYPE:
            return v.data1 < datatype::TYPE_LIMIT && datatype::entry(v.data1).name ? datatype::entry(v.data1).name
                                                                                  : "...";
        case TYPE_NONE: return "none";
        case TYPE_UNSET: return "unset";
        case TYPE_LOGIC: return v.data1 ? "true" : "false";
        default: return "...";
    }
}

[[noreturn]] void throw_built(const Cell& e) {
    if (!stack::ready()) {
        sys.pending_error = code_of(&e);
        throw_exit(catch_code::ERROR);
    }
    // On the argument stack the value is where the collector looks.
    stack::throw_error(stack::push(&e));
}

}  // namespace

Cell make(int code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    // The arguments may lie in buffers that the allocation below moves.
    const Cell args[3] = {arg1 ? *arg1 : none_cell, arg2 ? *arg2 : none_cell, arg3 ? *arg3 : none_cell};
    struct Building {
        Building() { building = true; }
        ~Building() { building = false; }
    } guard;
    const node_t n = memory::alloc_cells(FIELDS);
    SeriesBuffer* s = series::buffer_of(n);
    Cell* c = series::reserve_cell(s);
    *c = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(code), 0};
    for (const Cell& a : args) *series::reserve_cell(s) = a;
    *series::reserve_cell(s) = none_cell;  // where
    *series::reserve_cell(s) = none_cell;  // stack
    return Cell{TYPE_ERROR, n, 1, 0};
}

void raise(int code) { raise(code, nullptr); }

void raise(int code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    sys.pending_error = code;
    if (!stack::ready()) throw_exit(catch_code::ERROR);
    if (building) throw_built(bare(code));
    throw_built(make(code, arg1, arg2, arg3));
}

int code_of(const Cell* error) {
    if (!error->data1) return static_cast<int32_t>(error->data3);
    return static_cast<int32_t>(fields_of(error)[F_CODE].data2);
}

Cell field(const Cell* error, Field f) {
    if (!error->data1) return f == F_CODE ? Cell{TYPE_INTEGER, 0, error->data3, 0} : none_cell;
    return fields_of(error)[f];
}

void set_where_if_none(Cell* error, const Cell* where) {
    if (!error->data1) return;
    Cell* w = &fields_of(error)[F_WHERE];
    if (cell::type_of(w) == TYPE_NONE) *w = *where;
}

void set_stack_if_not_block(Cell* error, const Cell& value) {
    if (!error->data1) return;
    Cell* s = &fields_of(error)[F_STACK];
    if (cell::type_of(s) != TYPE_BLOCK) *s = value;
}

const char* category_text(int code) {
    const int category = code / 100;
    return code >= 0 && category < CATEGORIES && entry_of(code) ? category_texts[category] : nullptr;
}

const char* message_of(int code) {
    const CatalogEntry* e = entry_of(code);
    return e ? e->message : nullptr;
}

void print(const Cell* error) {
    using rt::PrintItem;
    const int code = code_of(error);
    const char* category = category_text(code);
    const char* message = message_of(code);
    if (!category || !message) {
        rt::print_values_line({PrintItem::cstr("*** Error: code "), PrintItem::integer(code)});
    } else {
        std::string line = "*** ";
        line += category;
        line += ": ";
        for (const char* p = message; *p; p++) {
            if (p[0] == '@' && p[1] >= '1' && p[1] <= '3') {
                line += form_arg(field(error, static_cast<Field>(p[1] - '0')), code / 100 == SYNTAX);
                p++;
            } else {
                line += *p;
            }
        }
        rt::print_values_line({PrintItem::cstr(line.c_str())});
    }
    const Cell where = field(error, F_WHERE);
    const uint32_t t = cell::type_of(&where);
    const std::string name = t >= TYPE_WORD && t <= TYPE_ISSUE ? symbol::name(static_cast<int32_t>(where.data2)) : "???";
    rt::print_values_line({PrintItem::cstr("*** Where: "), PrintItem::cstr(name.c_str())});
}

void print_pending() {
    const Cell e = bare(sys.pending_error);
    print(&e);
}

}  // namespace qel::err
