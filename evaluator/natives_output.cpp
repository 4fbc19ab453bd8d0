// The natives a script needs first: print and prin (through the print
// buffer and the first print-hook list), the function makers func,
// function, does and has, the exits return, exit, break and continue,
// and do and reduce of a block.
//
// The exits only signal: the thrower settles the stacks for the frame that
// takes the exit and leaves it pending; the interpreter then returns step
// by step to that frame, no exception involved.
#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/text.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"

namespace qel::natives {

// 1 after print, 0 after prin; read by last-lf?.
uint32_t last_new_line = 1;

namespace {

inline Cell* cells_of(node_t n) { return series::head_cell(series::buffer_of(n)); }
inline uint32_t count_of(node_t n) {
    const SeriesBuffer* s = series::buffer_of(n);
    return (s->tail - s->head) / sizeof(Cell);
}

// Evaluates each expression of the block from its index, the values
// pushed from the top; answers how many.
uint32_t reduce_onto_stack(const Cell* block) {
    const Cell blk = *block;
    uint32_t pos = blk.data1, n = 0;
    while (pos < count_of(blk.data2)) {
        pos = interp::eval_next(&blk, pos, true);
        if (exit_pending()) return n;
        n++;
    }
    return n;
}

void output(bool new_line) {
    Cell v = *stack::arg_base;
    if (cell::type_of(&v) == TYPE_BLOCK) {
        Cell* first = stack::arg_top;
        const uint32_t n = reduce_onto_stack(&v);
        if (exit_pending()) return;
        // The print buffer is reused by every print of a block.
        const Cell buf = *print_buffer;
        series::clear(buf.data2);
        for (uint32_t i = 0; i < n; i++) block::append_copy(&buf, first + i);
        v = buf;
    }
    const node_t out = text::make_buffer(64);
    actions::form(&v, out, false, 0x7FFFFFFF);
    const Cell text{TYPE_STRING, 0, out, 0};
    print_hooks::call_first_list(&text, new_line);
    last_new_line = new_line ? 1 : 0;
    *stack::arg_base = shared::unset;
    stack::keep_first();
}

void make_function(const Cell* spec, const Cell* body) {
    const Cell spec_copy = *block::copy_cells(spec, true, true);
    const uint32_t flags = function::validate_spec(&spec_copy);
    const Cell fn = *function::push(&spec_copy, body, flags);
    stack::set_last_reset(&fn);
}

bool is_set_word_in(const Cell& w, const Cell& spec) {
    for (uint32_t i = 0; i < count_of(spec.data2); i++) {
        const Cell c = cells_of(spec.data2)[i];
        const uint32_t t = cell::type_of(&c);
        if ((t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT) &&
            symbol::canonical(static_cast<int32_t>(c.data2)) == symbol::canonical(static_cast<int32_t>(w.data2)))
            return true;
    }
    return false;
}

// function's locals: every set-word of the body, nested blocks included,
// that the spec does not name already.
void collect_locals(const Cell& body, const Cell& spec, bool& has_local) {
    for (uint32_t i = body.data1; i < count_of(body.data2); i++) {
        const Cell c = cells_of(body.data2)[i];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_SET_WORD && !is_set_word_in(c, spec)) {
            if (!has_local) {
                block::append_copy(&spec, words::w_local);
                Cell* last = block::tail_ptr(&spec) - 1;
                cell::set_type(last, TYPE_REFINEMENT);
                has_local = true;
            }
            Cell w = c;
            cell::set_type(&w, TYPE_WORD);
            block::append_copy(&spec, &w);
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            collect_locals(c, spec, has_local);
        }
    }
}

}  // namespace

void native_print(bool, const int32_t*) { output(true); }
void native_prin(bool, const int32_t*) { output(false); }

void native_func(bool, const int32_t*) { make_function(stack::arg_base, stack::arg_base + 1); }

void native_does(bool, const int32_t*) {
    Cell* spec = block::push_new(1);
    make_function(spec, stack::arg_base);
}

void native_has(bool, const int32_t*) {
    const Cell vars = *stack::arg_base;
    Cell* spec = block::push_new(static_cast<int32_t>(count_of(vars.data2)) + 1);
    const Cell s = *spec;
    block::append_copy(&s, words::w_local);
    cell::set_type(block::tail_ptr(&s) - 1, TYPE_REFINEMENT);
    for (uint32_t i = vars.data1; i < count_of(vars.data2); i++) block::append_copy(&s, &cells_of(vars.data2)[i]);
    make_function(&s, stack::arg_base + 1);
}

void native_function(bool, const int32_t*) {
    const Cell spec = *block::copy_cells(stack::arg_base, true, true);
    bool has_local = false;
    for (uint32_t i = 0; i < count_of(spec.data2); i++) {
        const Cell c = cells_of(spec.data2)[i];
        if (cell::type_of(&c) == TYPE_REFINEMENT &&
            symbol::canonical(static_cast<int32_t>(c.data2)) == symbol::canonical(static_cast<int32_t>(words::w_local->data2)))
            has_local = true;
    }
    collect_locals(stack::arg_base[1], spec, has_local);
    make_function(&spec, stack::arg_base + 1);
}

void native_return(bool, const int32_t*) { stack::signal_exit(true, false); }
void native_exit(bool, const int32_t*) { stack::signal_exit(false, false); }
void native_break(bool, const int32_t* r) { stack::signal_break(r[0] >= 0, false); }
void native_continue(bool, const int32_t*) { stack::signal_break(false, true); }

void native_do(bool, const int32_t*) {
    const Cell v = *stack::arg_base;
    const uint32_t t = cell::type_of(&v);
    if (t == TYPE_BLOCK || t == TYPE_PAREN) {
        interp::eval_block(&v, true);
        return;
    }
    stack::keep_first();
}

void native_reduce(bool, const int32_t*) {
    const Cell v = *stack::arg_base;
    if (cell::type_of(&v) != TYPE_BLOCK && cell::type_of(&v) != TYPE_PAREN) {
        stack::keep_first();
        return;
    }
    Cell* first = stack::arg_top;
    const uint32_t n = reduce_onto_stack(&v);
    if (exit_pending()) return;
    Cell* out = block::push_new(static_cast<int32_t>(n));
    const Cell b = *out;
    for (uint32_t i = 0; i < n; i++) block::append_copy(&b, first + i);
    stack::set_last_reset(&b);
}

}  // namespace qel::natives
