// Argument checks: each failure is one catalogue error naming the running
// call and the argument.
#include "runtime/checks.hpp"

#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"

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
    const uint32_t words[3] = {typeset->data1, typeset->data2, typeset->data3};
    const uint32_t byte = (words[byte_index >> 2] >> (8 * (byte_index & 3))) & 0xFF;
    return byte & (0x80u >> (type & 7));
}

const Cell* check_typeset(const Cell* typeset, int arg_number, const Cell* value) {
    if (!typeset_has(typeset, cell::type_of(value))) expect_arg(arg_number, cell::type_of(value));
    return value;
}

void check_arg_type(int32_t position, const Cell* typeset, int arg_number) {
    if (position >= 0) check_typeset(typeset, arg_number, stack::arg_base + position);
}

Cell arg_name_at(int) { return *words::w_anon; }

void throw_make_error(const Cell* datatype, const Cell* spec) { raise(BAD_MAKE_ARG, datatype, spec); }

}  // namespace qel::err
