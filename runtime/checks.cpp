// Argument checks: each failure is one catalogue error naming the running
// call and the argument.
#include "runtime/checks.hpp"

#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"

namespace qel::err {

namespace {

[[noreturn]] void expect_arg(int arg_number, uint32_t type) {
    // The call name first: reading it clears the throw origin, which must
    // still name the thrower here.
    const Cell call = stack::get_call_name();
    const Cell datatype{TYPE_DATATYPE, type, 0, 0};
    const Cell arg = arg_name_at(arg_number);
    raise(EXPECT_ARG, &call, &datatype, &arg);
}

}  // namespace

bool typeset_has(const Cell* typeset, uint32_t type) {
    if (type >= 96) return false;
    const uint32_t byte_index = type >> 3;
    const uint32_t byte = (payload_word(typeset, byte_index >> 2) >> (8 * (byte_index & 3))) & 0xFF;
    return byte & (0x80u >> (type & 7));
}

const Cell* check_typeset(const Cell* typeset, int arg_number, const Cell* value) {
    if (!typeset_has(typeset, cell::type_of(value))) expect_arg(arg_number, cell::type_of(value));
    return value;
}

void check_arg_type(int32_t position, const Cell* typeset, int arg_number) {
    if (position >= 0) check_typeset(typeset, arg_number, stack::arg_base + position);
}

Cell arg_name_at(int n) {
    const node_t spec = stack::running_spec();
    if (!spec || n < 0) return shared::none;
    const int32_t local = symbol::canonical(word_symbol(words::w_local));
    const Cell* cells = series::cells_of(spec);
    bool in_locals = false;
    int seen = 0;
    for (uint32_t i = 0; i < series::cell_count(spec); i++) {
        const uint32_t t = cell::type_of(cells + i);
        // The locals run from /local to the next set-word, as in the
        // argument list a function is called through.
        if (t == TYPE_REFINEMENT && symbol::canonical(word_symbol(cells + i)) == local) in_locals = true;
        if (t == TYPE_SET_WORD) in_locals = false;
        if (in_locals || (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) || seen++ != n) continue;
        Cell word = cells[i];
        cell::set_type(&word, TYPE_WORD);
        return word;
    }
    return shared::none;
}

void throw_make_error(const Cell* datatype, const Cell* spec) { raise(BAD_MAKE_ARG, datatype, spec); }

}  // namespace qel::err
