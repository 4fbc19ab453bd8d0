// native!, action! and op! values: making them, molding, reflection.
#include "datatypes/native.hpp"

#include <string_view>

#include "datatypes/block.hpp"
#include "datatypes/block_mold.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/function.hpp"
#include "datatypes/text.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"

namespace qel::native {

namespace {

using series::cells_of;

// The spec block's node of a function value of any kind.
node_t spec_of(const Cell& fn) {
    const uint32_t t = cell::type_of(&fn);
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE ? function_spec(fn) : native_spec(fn);
}

[[noreturn]] void bad_make(uint32_t type, const Cell* spec) {
    const Cell t{TYPE_DATATYPE, type, 0, 0};
    err::raise(err::BAD_MAKE_ARG, &t, spec);
}

// The operator rule: exactly two arguments, the left one a plain word, no
// refinement but /local and /extern.
bool op_spec_ok(node_t spec) {
    int count = 0;
    bool seen_word = false;
    for (uint32_t i = 0; i < series::cell_count(spec); i++) {
        const Cell c = cells_of(spec)[i];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_WORD) {
            count++;
            seen_word = true;
        } else if (t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
            if (!seen_word) return false;
            count++;
        } else if (t == TYPE_REFINEMENT) {
            const std::string_view name(symbol::name(symbol::canonical(word_symbol(c))));
            if (name == "local" || name == "extern") break;
            return false;
        } else if (t == TYPE_SET_WORD) {
            break;
        }
    }
    return count == 2;
}

Cell* make_native(Cell* proto, Cell* spec, uint32_t type) {
    const Cell arg = *spec;
    if (cell::type_of(&arg) != TYPE_BLOCK || series::cell_count(series_node(arg)) != 2) bad_make(type, &arg);
    const Cell s = cells_of(series_node(arg))[0];
    const Cell index = cells_of(series_node(arg))[1];
    if (cell::type_of(&s) != TYPE_BLOCK || cell::type_of(&index) != TYPE_INTEGER) bad_make(type, &arg);
    const int32_t i = integer_value(index);
    // Any slot of the table, empty ones too: a call of an empty slot finds
    // no entry and raises there.
    const uint32_t slots = type == TYPE_NATIVE ? TABLE_SLOTS : datatype::ACTION_SLOTS;
    if (i < 1 || i > static_cast<int32_t>(slots)) bad_make(type, &arg);
    Cell* r = push(&s, type, static_cast<uint32_t>(i));
    const Cell v = *r;
    stack::pop_n(1);
    *stack::arg_base = v;
    return stack::arg_base;
}

Cell* make_op(Cell* proto, Cell* spec, uint32_t type) {
    const Cell src = *spec;
    const uint32_t t = cell::type_of(&src);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        const Cell dt{TYPE_DATATYPE, t, 0, 0};
        err::raise(err::INVALID_TYPE, &dt);
    }
    Cell* r = push_op(&src);
    const Cell v = *r;
    stack::pop_n(1);
    *stack::arg_base = v;
    return stack::arg_base;
}

int32_t mold_spec(node_t spec_node, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell spec{TYPE_BLOCK, 0, spec_node, 0};
    return block::mold(&spec, out, options, limit, indent);
}

int32_t mold_native(const Cell* value, node_t out, const datatype::MoldOptions& options,
                    int32_t limit, int32_t indent) {
    const Cell v = *value;
    text::append_cstr(out, cell::type_of(&v) == TYPE_NATIVE ? "make native! [" : "make action! [");
    limit = mold_spec(native_spec(v), out, options, limit - 14, indent);
    text::append_cstr(out, "]");
    return limit - 1;
}

int32_t mold_op(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell fn = op_function(*value);
    const uint32_t source = cell::type_of(&fn);
    text::append_cstr(out, "make op! ");
    limit -= 9;
    if (source == TYPE_FUNCTION) {
        text::append_cstr(out, "func ");
        limit -= 5;
    } else {
        text::append_cstr(out, "[");
        limit -= 1;
    }
    limit = mold_spec(spec_of(fn), out, options, limit, indent);
    if (source == TYPE_FUNCTION) {
        const Cell body = function::body_of(fn);
        if (cell::type_of(&body) == TYPE_BLOCK) limit = block::mold(&body, out, options.nested(), limit, indent);
    } else {
        text::append_cstr(out, "]");
        limit -= 1;
    }
    return limit;
}

int32_t form_native(const Cell* value, node_t out, bool part, int32_t limit) {
    const uint32_t t = cell::type_of(value);
    text::append_cstr(out, t == TYPE_NATIVE ? "?native?" : t == TYPE_ACTION ? "?action?" : "?op?");
    return limit - (t == TYPE_OP ? 4 : 8);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    if (!answers_without_order(op)) return -2;
    // Word 1: the entry's index, or for an op! that of what it was made from.
    const auto x = static_cast<int32_t>(native_index(a)), y = static_cast<int32_t>(native_index(b));
    return x == y ? 0 : x < y ? -1 : 1;
}

Cell* reflect(Cell* value, int32_t field) {
    const std::string_view f(symbol::name(symbol::canonical(field)));
    Cell* r = stack::arg_base;
    const Cell fn = cell::type_of(value) == TYPE_OP ? op_function(*value) : *value;
    const uint32_t source = cell::type_of(&fn);
    if (f == "spec") {
        *r = Cell{TYPE_BLOCK, 0, spec_of(fn), 0};
    } else if (f == "body") {
        if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
            const Cell body = function::body_of(fn);
            *r = *block::copy_cells(&body, true, true);
        } else {
            *r = Cell{TYPE_INTEGER, 0, native_index(fn), 0};
        }
    } else {
        err::raise(err::NOT_DONE);
    }
    return r;
}

// Marks the record of a value made for a filled slot whose spec does not
// fit the slot's own argument list; the first list made for a slot
// becomes its own. An empty slot has no entry to protect.
void check_fit(const Cell& made) {
    Cell* own = own_list_of ? own_list_of(cell::type_of(&made), native_index(made)) : nullptr;
    if (!own) return;
    Cell& given = function::arg_list_of(made);
    if (cell::type_of(own) != TYPE_BLOCK) *own = Cell{TYPE_BLOCK, 0, series_node(given), 0};
    else if (!function::list_fits(series_node(given), series_node(own))) given.header |= function::UNFIT_ENTRY;
}

void fill_common(datatype::Record& r) {
    for (auto& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::REFLECT>(r, &reflect);
    datatype::set_slot<datatype::FORM>(r, &form_native);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
}

}  // namespace

Cell* (*own_list_of)(uint32_t type, uint32_t index) = nullptr;

Cell* push(const Cell* spec_in, uint32_t type, uint32_t index) {
    const Cell spec = *spec_in;
    Cell* result = stack::push(&shared::unset);
    Cell* record = block::push_new(2);
    const Cell rec = *record;
    const node_t ctx = context::make_from_spec(&spec, true, false, context::FUNCTION);
    const Cell ctx_cell = *context::cell_of(ctx);
    block::append_copy(&rec, &ctx_cell);
    const Cell list = function::arg_list_cell(function::build_arg_list(&spec, true));
    block::append_copy(&rec, &list);
    *result = Cell{type, index, series_node(spec), series_node(rec)};
    check_fit(*result);
    stack::arg_top = result + 1;
    return result;
}

Cell* push_op(const Cell* source) {
    const Cell src = *source;
    if (!op_spec_ok(spec_of(src))) err::raise(err::BAD_OP_SPEC);
    const uint32_t t = cell::type_of(&src);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) function::op_source_of(src) = src;
    Cell op = src;
    op.header = TYPE_OP;
    set_op_inner_type(&op, t);
    return stack::push(&op);
}

void fill_native(datatype::Record& r) {
    fill_common(r);
    datatype::set_slot<datatype::MAKE>(r, &make_native);
    datatype::set_slot<datatype::MOLD>(r, &mold_native);
}
void fill_action(datatype::Record& r) { fill_native(r); }
void fill_op(datatype::Record& r) {
    fill_common(r);
    datatype::set_slot<datatype::MAKE>(r, &make_op);
    datatype::set_slot<datatype::MOLD>(r, &mold_op);
}
}  // namespace qel::native
