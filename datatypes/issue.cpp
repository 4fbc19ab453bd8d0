// issue!: the word type written with a number sign. It shares the word
// cell and word!'s form, but takes any text as its name without a syntax
// check, is never bound by deep binding, and compares only with issues.
#include "datatypes/fills.hpp"
#include "runtime/actions.hpp"
#include "datatypes/text.hpp"
#include "datatypes/word.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::issue {

namespace {

Cell from_symbol(int32_t sym) {
    return Cell{TYPE_ISSUE, context::global, static_cast<uint32_t>(sym), static_cast<uint32_t>(-1)};
}

}  // namespace

Cell* push_from_cstr(const char* name) {
    const Cell c = from_symbol(symbol::intern_cstr(name));
    if (keep_words) {
        Cell* slot = series::reserve_cell(&root_cell);
        *slot = c;
        return slot;
    }
    return stack::push(&c);
}

namespace {

Cell* make(Cell* result, Cell* spec, uint32_t type) {
    const uint32_t t = cell::type_of(spec);
    if (is_all_word(t)) {
        Cell w = *spec;
        w.header = type;
        *result = w;
        return result;
    }
    if (t == TYPE_STRING) {
        // Interned from the index on, blanks and all.
        Cell w = from_symbol(symbol::intern_string(spec));
        w.header = type;
        *result = w;
        return result;
    }
    if (t == TYPE_CHAR) {
        node_t n = text::make_buffer(1);
        text::append_codepoint(n, char_code(spec));
        const Cell s{TYPE_STRING, 0, n, 0};
        Cell w = from_symbol(symbol::intern_string(&s));
        w.header = type;
        *result = w;
        return result;
    }
    return word_type::make(result, spec, type);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    text::append_latin1(out, "#", 1);
    return word_type::form(value, out, options.part, limit - 1);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_ISSUE) return -2;
    return word_type::compare(a, b, op);
}

}  // namespace

void fill(datatype::Record& r) {
    for (uint32_t s = 0; s < datatype::ACTION_SLOTS; s++)
        if (s != datatype::FORM) r.actions[s] = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
}

}  // namespace qel::issue
