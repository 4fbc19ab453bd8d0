// function! values: spec checking, making, molding, reflection.
#include "datatypes/function.hpp"

#include "datatypes/block.hpp"
#include "datatypes/block_mold.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/call.hpp"
#include "evaluator/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"

namespace qel::function {

namespace {

inline Cell* cells_of(node_t n) { return series::head_cell(series::buffer_of(n)); }
inline uint32_t count_of(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return (s->tail - s->head) / sizeof(Cell);
}

int32_t canon(const Cell& c) { return symbol::canonical(static_cast<int32_t>(c.data2)); }

bool is_name(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT;
}

[[noreturn]] void bad(const Cell& spec) { err::raise(err::BAD_FUNC_DEF, &spec); }

void check_type_block(const Cell& types) {
    for (uint32_t i = types.data1; i < count_of(types.data2); i++) {
        Cell c = cells_of(types.data2)[i];
        Cell v = c;
        if (cell::type_of(&c) == TYPE_WORD) {
            const Cell* slot = c.data1 ? context::slot_at(c.data1, c.data3) : nullptr;
            if (!slot || cell::type_of(slot) == TYPE_UNSET) err::raise(err::NO_VALUE, &c);
            v = *slot;
        }
        const uint32_t t = cell::type_of(&v);
        if (t != TYPE_DATATYPE && t != TYPE_TYPESET && t != TYPE_WORD) err::raise(err::INVALID_TYPE_SPEC, &c);
    }
}

}  // namespace

uint32_t validate_spec(const Cell* spec_in) {
    const Cell spec = *spec_in;
    const node_t n = spec.data2;
    const int32_t local = symbol::canonical(static_cast<int32_t>(words::w_local->data2));
    const int32_t ret = symbol::canonical(symbol::intern_cstr("return"));
    uint32_t flags = 0;
    uint32_t i = spec.data1 < count_of(n) ? spec.data1 : count_of(n);
    if (i < count_of(n) && cell::type_of(&cells_of(n)[i]) == TYPE_BLOCK) {
        const Cell attrs = cells_of(n)[i];
        for (uint32_t k = attrs.data1; k < count_of(attrs.data2); k++) {
            const Cell a = cells_of(attrs.data2)[k];
            if (cell::type_of(&a) != TYPE_WORD) bad(spec);
            const char* name = symbol::name(canon(a));
            if (std::string_view(name) == "trace") flags |= 0x400;
            if (std::string_view(name) == "no-trace") flags |= 0x200;
        }
        i++;
    }
    bool after_return = false, after_local = false;
    auto type_at = [&](uint32_t k) { return k < count_of(n) ? cell::type_of(&cells_of(n)[k]) : 0u; };
    while (i < count_of(n)) {
        const Cell c = cells_of(n)[i];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
            if (after_local && t != TYPE_WORD) bad(spec);
            if (type_at(i + 1) == TYPE_STRING && type_at(i + 2) == TYPE_BLOCK) bad(spec);
            if (after_return && !after_local) bad(spec);
            if (type_at(i + 1) == TYPE_BLOCK) {
                check_type_block(cells_of(n)[i + 1]);
                i++;
            }
        } else if (t == TYPE_SET_WORD) {
            if (canon(c) != ret || after_return || after_local || type_at(i + 1) != TYPE_BLOCK) bad(spec);
            const uint32_t after = type_at(i + 2);
            if (after != 0 && after != TYPE_REFINEMENT && after != TYPE_STRING) bad(spec);
            after_return = true;
            i++;
        } else if (t == TYPE_REFINEMENT) {
            if (canon(c) == local) after_local = true;
            else if (after_local || after_return) bad(spec);
            const uint32_t next = type_at(i + 1);
            if (next != 0 && !is_name(next) && next != TYPE_SET_WORD && next != TYPE_STRING) bad(spec);
        } else if (t != TYPE_STRING) {
            bad(spec);
        }
        i++;
    }
    // Duplicates: a and /a, or a and A, name the same slot.
    for (uint32_t a = spec.data1; a < count_of(n); a++) {
        const Cell x = cells_of(n)[a];
        if (!is_name(cell::type_of(&x))) continue;
        for (uint32_t b = a + 1; b < count_of(n); b++) {
            const Cell y = cells_of(n)[b];
            if (is_name(cell::type_of(&y)) && canon(x) == canon(y)) err::raise(err::DUP_VARS, &y);
        }
    }
    return flags;
}

Cell* push(const Cell* spec_in, const Cell* body_in, uint32_t flags) {
    const Cell spec = *spec_in;
    const Cell body = *body_in;
    Cell* result = stack::push(&shared::unset);
    Cell* record = block::push_new(5);
    Cell* copied = block::copy_cells(&body, true, true);
    const Cell body_copy = *copied;
    const Cell rec = *record;
    block::append_copy(&rec, &body_copy);
    // The argument list is built now, from the spec as it is now: the
    // context below is made from the same spec at the same moment, so the
    // two cannot disagree later however the spec block is changed.
    const Cell list{TYPE_BLOCK, 0, call::build_arg_list(&spec, false), 0};
    block::append_copy(&rec, &list);
    block::append_copy(&rec, &shared::unset);
    block::append_copy(&rec, &shared::unset);
    block::append_copy(&rec, &shared::unset);
    const node_t ctx = context::make_from_spec(&spec, true, false, context::FUNCTION);
    *result = Cell{TYPE_FUNCTION | flags, ctx, spec.data2, rec.data2};
    *context::self_of(ctx) = *result;
    context::bind(&body_copy, ctx, true, false);
    stack::arg_top = result + 1;
    return result;
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    text::append_cstr(out, "?function?");
    return limit - 10;
}

int32_t mold(const Cell* value, node_t out, bool only, bool all, bool flat, bool part, int32_t limit, int32_t indent) {
    const Cell v = *value;
    text::append_cstr(out, "func ");
    limit -= 5;
    const Cell spec{TYPE_BLOCK, 0, v.data2, 0};
    limit = block::mold(&spec, out, false, all, flat, part, limit, indent);
    const Cell body = cells_of(v.data3)[0];
    if (cell::type_of(&body) == TYPE_BLOCK) limit = block::mold(&body, out, false, all, flat, part, limit, indent);
    return limit;
}

namespace {

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    if (!(op <= 2 || op == 7 || op == 8 || op == 9 || op == 12)) return -2;
    return a->data3 == b->data3 ? 0 : a->data3 < b->data3 ? -1 : 1;
}

Cell* reflect(Cell* value, int32_t field) {
    const char* name = symbol::name(symbol::canonical(field));
    const std::string_view f(name);
    Cell* r = stack::arg_base;
    if (f == "spec") {
        *r = Cell{TYPE_BLOCK, 0, value->data2, 0};
    } else if (f == "body") {
        const Cell body = cells_of(value->data3)[0];
        Cell* c = block::copy_cells(&body, true, true);
        *r = *c;
    } else {
        err::raise(err::NOT_DONE);
    }
    return r;
}

}  // namespace

void fill(datatype::Record& r) {
    for (auto& a : r.actions) a = nullptr;
    r.actions[datatype::REFLECT] = as_action(&reflect);
    r.actions[datatype::FORM] = as_action(&form);
    r.actions[datatype::MOLD] = as_action(&mold);
    r.actions[datatype::COMPARE] = as_action(&compare);
}

}  // namespace qel::function
