// Raising errors: building the error value and handing it to the thrower,
// and the display of an error by the catalogue's texts.
//
// The catalogue here is a small table of the categories and ids that the
// runtime core raises; the full catalogue object replaces it with the
// error! datatype.
#include "runtime/errors.hpp"

#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/exits.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::err {

namespace {

struct Message {
    int code;
    const char* text;
};

constexpr const char* category_texts[] = {
    "Throw Error", "note", "Syntax Error", "Script Error", "Math Error",
    "Access Error", "reserved1", "reserved2", "User Error", "Internal Error",
};

constexpr Message messages[] = {
    {NO_LOOP_BREAK, "no loop to break"},
    {NO_FUNCTION_RETURN, "return or exit not in function"},
    {NO_CATCH_THROW, "no catch for throw: @1"},
    {NO_LOOP_CONTINUE, "no loop to continue"},
    {WHILE_COND, "BREAK/CONTINUE cannot be used in WHILE condition block"},
    {NO_VALUE, "@1 has no value"},
    {NEED_VALUE, "@1 needs a value"},
    {NOT_DEFINED, "@1 word is not bound to a context"},
    {NOT_IN_CONTEXT, "context for @1 is not available"},
    {EXPECT_ARG, "@1 does not allow @2 for its @3 argument"},
    {INVALID_ARG, "invalid argument: @1"},
    {BAD_MAKE_ARG, "cannot MAKE @1 from: @2"},
    {INVALID_CHAR, "Invalid char! value: @1"},
    {INVALID_UTF8, "invalid UTF-8 encoding: @1"},
    {BAD_PATH, "bad path: @1"},
    {NOT_HERE, "@1 not supported on your system"},
    {NO_MEMORY, "not enough memory"},
    {WRONG_MEM, "failed to release memory"},
    {STACK_OVERFLOW, "stack overflow"},
    {LIMIT_HIT, "internal limit reached: @1"},
    {TOO_DEEP, "block or paren series is too deep to process"},
    {NO_CYCLE, "circular reference not allowed"},
    {FEATURE_NA, "feature not available"},
    {NOT_DONE, "reserved for future use (or not yet implemented)"},
    {INVALID_ERROR, "invalid error object field value: @1"},
    {ROUTINES, "routines require compilation, from OS shell: `qel -r <script.qel>`"},
    {QEL_SYSTEM, "contains Qel/System code which requires compilation"},
    {DEPRECATED, "@1 is DEPRECATED, please use @2 instead"},
};

const Cell none_cell{TYPE_NONE, 0, 0, 0};

// Set while an error value is being built: an error raised meanwhile (the
// allocation found no memory) travels as a bare error holding only its
// code, instead of trying to build again.
bool building = false;

Cell bare(int code) { return Cell{TYPE_ERROR, 0, 1, static_cast<uint32_t>(code)}; }

Cell* fields_of(const Cell* error) { return series::head_cell(series::buffer_of(error->data1)); }

std::string form_arg(const Cell& v) {
    switch (cell::type_of(&v)) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return symbol::name(static_cast<int32_t>(v.data2));
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
    return code >= 0 && category <= INTERNAL ? category_texts[category] : nullptr;
}

const char* message_of(int code) {
    for (const Message& m : messages)
        if (m.code == code) return m.text;
    return nullptr;
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
                line += form_arg(field(error, static_cast<Field>(p[1] - '0')));
                p++;
            } else {
                line += *p;
            }
        }
        rt::print_values_line({PrintItem::cstr(line.c_str())});
    }
    const Cell where = field(error, F_WHERE);
    const uint32_t t = cell::type_of(&where);
    const std::string name = t >= TYPE_WORD && t <= TYPE_ISSUE ? form_arg(where) : "???";
    rt::print_values_line({PrintItem::cstr("*** Where: "), PrintItem::cstr(name.c_str())});
}

void print_pending() {
    const Cell e = bare(sys.pending_error);
    print(&e);
}

}  // namespace qel::err
