// Raising errors: building the error value and handing it to the thrower,
// and the display of an error by the catalogue's texts.
//
// Errors are error! objects made against the catalogue object; before it
// exists (or when building one fails) a bare error carries just the code,
// and its display comes from the catalogue table.
#include "runtime/errors.hpp"

#include <string>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/exits.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"

namespace qel::err {

Catalogue catalogue{};
Tracer tracer{};

namespace {

bool catalogue_ready() { return catalogue.ready && catalogue.ready(); }

// The text of a string buffer as UTF-8.
std::string utf8_of(node_t text) {
    const Cell value{TYPE_STRING, 0, text, 0};
    std::string out(unicode::utf8_length(&value, -1), '\0');
    unicode::write_utf8(&value, -1, reinterpret_cast<uint8_t*>(out.data()), false);
    return out;
}

const Cell none_cell{TYPE_NONE, 0, 0, 0};

// Set while an error value is being built: an error raised meanwhile (the
// allocation found no memory) travels as a bare error holding only its
// code, instead of trying to build again.
bool building = false;

Cell bare(int code) { return Cell{TYPE_ERROR, 0, 1, static_cast<uint32_t>(code)}; }

// The field cell of an object error (null for a bare one or a field the
// error lacks).
Cell* field_cell(const Cell* error, Field f) {
    if (!object_context(error)) return nullptr;
    return context::slot_at(object_context(error), f);
}

// An argument as a message shows it: molded flat and cut at 80 characters,
// or formed for syntax errors, whose arguments are pieces of source text.
// Before the datatypes exist (or without a slot) a few types are spelled
// out here.
std::string form_arg(const Cell& v, bool formed) {
    constexpr int32_t LIMIT = 80;
    const uint32_t slot = formed ? datatype::FORM : datatype::MOLD;
    if (stack::ready() && datatype::action(cell::type_of(&v), slot)) {
        Cell* const top = stack::arg_top;
        const Cell held{TYPE_STRING, 0, memory::alloc_codepoints(32, 1), 0};
        const node_t out = series_node(stack::push(&held));
        const Cell value = v;
        Cell* arg = stack::push(&value);
        if (formed) actions::form(arg, out, true, LIMIT);
        else actions::mold(arg, out, datatype::MoldOptions{.flat = true, .part = true}, LIMIT, 0);
        if (series::buffer_length(out) > static_cast<uint32_t>(LIMIT)) series::set_tail_at(out, LIMIT + 1);
        std::string text = utf8_of(out);
        stack::arg_top = top;
        return text;
    }
    switch (cell::type_of(&v)) {
        case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return symbol::name(word_symbol(v));
        case TYPE_SET_WORD: return std::string(symbol::name(word_symbol(v))) + ":";
        case TYPE_INTEGER: return std::to_string(integer_value(v));
        case TYPE_DATATYPE:
            return datatype_id(v) < datatype::TYPE_LIMIT && datatype::entry(datatype_id(v)).name
                       ? datatype::entry(datatype_id(v)).name
                       : "...";
        case TYPE_NONE: return "none";
        case TYPE_UNSET: return "unset";
        case TYPE_LOGIC: return logic_value(v) ? "true" : "false";
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
    if (!catalogue_ready()) return bare(code);
    struct Building {
        Building() { building = true; }
        ~Building() { building = false; }
    } guard;
    Cell* const top = stack::arg_top;
    const Cell e = *catalogue.push_error(code, arg1, arg2, arg3);
    stack::arg_top = top;
    return e;
}

void raise(int code) { raise(code, nullptr); }

void raise(int code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    sys.pending_error = code;
    if (!stack::ready()) throw_exit(catch_code::ERROR);
    if (building) throw_built(bare(code));
    const Cell e = make(code, arg1, arg2, arg3);
    if (tracer.active && *tracer.active) [[unlikely]] {
        // The tracer sees the error before anything unwinds; the exit in
        // flight (none yet) is kept out of its way and put back.
        Cell* held = stack::push(&e);
        const uint32_t saved = sys.thrown_code;
        sys.thrown_code = 0;
        tracer.on_error(held);
        sys.thrown_code = saved;
    }
    throw_built(e);
}

void raise_with_type(int code, uint32_t type) {
    const Cell t = datatype_cell(type);
    raise(code, &t);
}

int code_of(const Cell* error) {
    if (!object_context(error)) return static_cast<int32_t>(error_code(error));
    const Cell* c = field_cell(error, F_CODE);
    return c && cell::type_of(c) == TYPE_INTEGER ? integer_value(c) : 0;
}

Cell field(const Cell* error, Field f) {
    if (!object_context(error)) return f == F_CODE ? Cell{TYPE_INTEGER, 0, error_code(error), 0} : none_cell;
    const Cell* c = field_cell(error, f);
    return c ? *c : none_cell;
}

void set_where_if_none(Cell* error, const Cell* where) {
    const Cell value = *where;
    // With no named call running there is nothing to tell: where stays
    // none and shows as ???.
    if (words::w_not_found && word_symbol(value) == word_symbol(words::w_not_found)) return;
    Cell* w = field_cell(error, F_WHERE);
    if (w && cell::type_of(w) == TYPE_NONE) *w = value;
}

void set_stack_if_not_block(Cell* error, const Cell& value) {
    const Cell v = value;
    Cell* s = field_cell(error, F_STACK);
    if (s && cell::type_of(s) != TYPE_BLOCK) *s = v;
}

const char* category_text(int code) {
    const int category = code / 100;
    return code >= 0 && category < CATEGORIES && entry_of(code) ? category_texts[category] : nullptr;
}

const char* message_of(int code) {
    const CatalogEntry* e = entry_of(code);
    return e ? e->message : nullptr;
}

namespace {

// The display of a bare error, from the catalogue table: nothing here
// allocates, so it also serves errors of memory itself.
void print_bare(const Cell* error) {
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
                line += form_arg(field(error, static_cast<Field>(F_ARG1 + (p[1] - '1'))), code / 100 == SYNTAX);
                p++;
            } else {
                line += *p;
            }
        }
        rt::print_values_line({PrintItem::cstr(line.c_str())});
    }
    const Cell where = field(error, F_WHERE);
    const uint32_t t = cell::type_of(&where);
    const std::string name = is_all_word(t) ? symbol::name(word_symbol(where)) : "???";
    rt::print_values_line({PrintItem::cstr("*** Where: "), PrintItem::cstr(name.c_str())});
}

}  // namespace

void print(const Cell* error) {
    if (!object_context(error) || !catalogue_ready() || code_of(error) == NO_MEMORY) {
        print_bare(error);
        return;
    }
    const node_t out = memory::alloc_codepoints(256, 1);
    const Cell held{TYPE_STRING, 0, out, 0};
    Cell* const top = stack::arg_top;
    stack::push(&held);
    catalogue.form_display(error, out);
    stack::arg_top = top;
    const std::string line = utf8_of(out);
    rt::print_values_line({rt::PrintItem::cstr(line.c_str())});
}

void print_pending() {
    const Cell e = bare(sys.pending_error);
    print(&e);
}

}  // namespace qel::err
