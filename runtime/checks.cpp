// Argument checks and guarded word access: each failure is one catalogue
// error naming the running call and the argument, or the word.
#include "runtime/checks.hpp"

#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/words.hpp"

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

[[noreturn]] void need_value(node_t ctx, uint32_t index) {
    const Cell key = *context::word_at(ctx, index);
    raise(NEED_VALUE, &key);
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

const Cell* check_optional_arg_type(const Cell* refinement, const Cell* typeset, int arg_number,
                                    const Cell* value) {
    return refinement->data1 ? check_typeset(typeset, arg_number, value) : value;
}

const Cell* unset_arg(int arg_number, const Cell* value) {
    if (cell::type_of(value) == TYPE_UNSET) expect_arg(arg_number, TYPE_UNSET);
    return value;
}

Cell arg_name_at(int) { return *words::w_anon; }

void throw_make_error(const Cell* datatype, const Cell* spec) { raise(BAD_MAKE_ARG, datatype, spec); }

void set_from_top(Cell* word) {
    if (stack::top_type() == TYPE_UNSET) raise(NEED_VALUE, word);
    word::set(word, stack::top());
}

void set_global_from_top(Cell* word) {
    set_from_top(word);
    stack::reset();
}

Cell* get_checked(Cell* word) {
    Cell* value = word::get(word);
    if (cell::type_of(value) == TYPE_UNSET) raise(NO_VALUE, word);
    return value;
}

void set_slot_checked(node_t ctx, uint32_t index) {
    if (stack::top_type() == TYPE_UNSET) need_value(ctx, index);
    Cell* slot = slot_checked(ctx, index);
    cell::copy(stack::top(), slot);
}

void set_slot_checked_keep(node_t ctx, uint32_t index) {
    set_slot_checked(ctx, index);
    stack::reset();
}

void set_slot(node_t ctx, uint32_t index) {
    if (context::cell_of(ctx)->header & context::OBJECT_FLAG) context::word_at(ctx, index)->header |= context::CHANGED;
    if (Cell* slot = context::slot_at(ctx, index)) cell::copy(stack::top(), slot);
    stack::reset();
}

Cell* slot_checked(node_t ctx, uint32_t index) {
    Cell* slot = context::slot_at(ctx, index);
    if (!slot) {
        const Cell key = *context::word_at(ctx, index);
        raise(NOT_DEFINED, &key);
    }
    return slot;
}

}  // namespace qel::err
