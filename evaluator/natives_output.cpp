// The evaluation and output natives: do of every kind of value (with
// /expand, /next and /trace), reduce, compose, apply and transcode, which turn data
// into evaluation or into values; print and prin through the print buffer
// and the first print-hook list; the function makers func, function, does
// and has; the exits return, exit, break and continue.
//
// The exits only signal: the thrower settles the stacks for the frame that
// takes the exit and leaves it pending; the interpreter then returns step
// by step to that frame, no exception involved. Every evaluation here
// therefore looks at the pending exit and returns at once when it is set.
//
// Values being gathered (reduce, compose, the print buffer's content) wait
// on the argument stack, where the collector sees them and nothing moves.
#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/text.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "runtime/actions.hpp"
#include "evaluator/call.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/lookup.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/path_eval.hpp"
#include "runtime/stack.hpp"
#include "evaluator/trace.hpp"
#include "lexer/scanner.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

// 1 after print, 0 after prin; read by last-lf?.
uint32_t last_new_line = 1;

namespace {

using series::cells_of;

// Evaluates each expression of the block from its index, the values
// pushed from the top; answers how many.
uint32_t reduce_onto_stack(const Cell* block) {
    const Cell blk = *block;
    uint32_t pos = series_index(blk), n = 0;
    while (pos < series::cell_count(series_node(blk))) {
        pos = interp::eval_next(&blk, pos, true);
        if (exit_pending()) return n;
        n++;
    }
    return n;
}

// The n cells from first become one new series of the given type, left in
// first; the top comes down to just above it.
Cell* gather(Cell* first, uint32_t n, uint32_t type) {
    const Cell b = *block::push_new(static_cast<int32_t>(n));
    SeriesBuffer* s = series::buffer_of(series_node(b));
    std::memcpy(series::head_cell(s), first, n * sizeof(Cell));
    s->tail = s->head + n * static_cast<uint32_t>(sizeof(Cell));
    *first = b;
    cell::set_type(first, type);
    stack::arg_top = first + 1;
    return first;
}

// /into: the n cells from first go into out, appended when out is at its
// tail, else inserted at its index. The result is out at its old index
// when appending, else just past the inserted values.
Cell add_into(const Cell* out, Cell* first, uint32_t n) {
    Cell* target = stack::push(out);
    const uint32_t index = series_type::clamp_index(target);
    if (n == 0) return *target;
    const bool at_tail = index >= series::cell_count(series_node(target));
    // The values go in as one block, spliced by a single insertion, which
    // also reports the change to out's owner.
    Cell* values = block::push_new(static_cast<int32_t>(n));
    const Cell b = *values;
    for (uint32_t i = 0; i < n; i++) block::append_copy(&b, first + i);
    block::insert_values(target, values, -1, false, 1, at_tail);
    if (at_tail) series_index(target) = index;
    return *target;
}

// A value as a one-value expression: a word gives its value, a function
// is called with no code after it, a literal gives itself. The result is
// pushed.
void eval_one(const Cell& v) {
    Cell* holder = block::push_new(1);
    const Cell b = *holder;
    block::append_copy(&b, &v);
    interp::eval_next(&b, 0, true);
    if (exit_pending()) return;
    *holder = *stack::top();
    stack::arg_top = holder + 1;
}

// compose: the values of block, parens evaluated (an empty paren and an
// unset result give nothing; a block result is spliced unless only),
// nested blocks composed too with deep. Pushed; answers how many.
uint32_t compose_onto_stack(const Cell& blk, bool deep, bool only) {
    stack::check_depth();
    uint32_t n = 0;
    for (uint32_t i = series_index(blk); i < series::cell_count(series_node(blk)); i++) {
        const Cell c = cells_of(series_node(blk))[i];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_BLOCK && deep) {
            Cell* first = stack::arg_top;
            const uint32_t m = compose_onto_stack(c, deep, only);
            if (exit_pending()) return n;
            gather(first, m, TYPE_BLOCK);
            first->header = (first->header & ~cell_flag::TYPE_MASK) | (c.header & cell_flag::NEW_LINE) | TYPE_BLOCK;
            n++;
        } else if (t == TYPE_PAREN) {
            const uint32_t at = series_index(c);
            if (at >= series::cell_count(series_node(c))) continue;
            // A paren of one word whose value is no function: its value, as
            // the walker would push it.
            const Cell* value = nullptr;
            if (at + 1 == series::cell_count(series_node(c)) && !trace::installed) {
                const Cell* w = &cells_of(series_node(c))[at];
                if (cell::type_of(w) == TYPE_WORD) value = lookup::peek(w);
                if (value && !lookup::plain(value)) value = nullptr;
            }
            if (value) {
                stack::push(value);
            } else {
                interp::eval_block(&c, false);
                if (exit_pending()) return n;
            }
            const Cell result = *stack::top();
            const uint32_t rt = cell::type_of(&result);
            if (rt == TYPE_UNSET) {
                stack::pop_n(1);
            } else if (rt == TYPE_BLOCK && !only) {
                stack::pop_n(1);
                for (uint32_t k = series_index(result); k < series::cell_count(series_node(result)); k++) {
                    stack::push(&cells_of(series_node(result))[k]);
                    n++;
                }
            } else {
                n++;
            }
        } else {
            stack::push(&c);
            n++;
        }
    }
    return n;
}

// The library's preprocessor rewrites the code in place: its expand
// function gets the code and none as job. Without the preprocessor (as
// while the boot image is made) the code stays as it is.
void expand_directives(const Cell& code) {
    const Cell args[2] = {code, shared::none};
    Cell result;
    object::call_global_field("preprocessor", "expand", args, 2, &result);
}

// Scripts from files and URLs run through the library's do-file, with no
// trace callback and the /args value (none without it) for the script.
void do_file(const Cell& file, const Cell* args) {
    const Cell call_args[3] = {file, shared::none, args ? *args : shared::none};
    Cell name = *word::make_from_cstr("do-file");
    const Cell fn = *word::get(&name);
    call::apply_values(&fn, call_args, 3);
    if (exit_pending()) return;
    stack::set_last_reset(stack::top());
}

// do of a value, the result in the argument base; args is the /args value
// or null; with expand, code goes through the preprocessor first.
void do_value(const Cell* args, bool expand) {
    Cell v = *stack::arg_base;
    switch (cell::type_of(&v)) {
        case TYPE_STRING: {
            // The text is loaded into a block held on the stack, then run
            // as any block.
            Cell* code = stack::push(&shared::none);
            lexer::transcode(&v, lexer::Options{}, code, nullptr);
            v = *code;
            [[fallthrough]];
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            series_index(v) = std::min(series_index(v), series::cell_count(series_node(v)));
            if (expand && cell::type_of(&v) != TYPE_HASH) expand_directives(v);
            interp::eval_block(&v, true);
            return;
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_GET_PATH:
        case TYPE_SET_PATH: {
            // No code follows the path: a function at its end gets no
            // arguments from here.
            const Cell none_after = *block::push_new(1);
            v.header = cell::type_of(&v) == TYPE_GET_PATH ? TYPE_GET_PATH : TYPE_PATH;
            path_eval::eval_path(&v, &none_after, 0,
                                 cell::type_of(&v) == TYPE_GET_PATH ? path_eval::GET : path_eval::CALL, false);
            return;
        }
        case TYPE_ERROR:
            stack::throw_error(&v);
        case TYPE_FILE:
        case TYPE_URL:
            do_file(v, args);
            return;
        default: {
            Cell* at = stack::arg_top;
            eval_one(v);
            if (exit_pending()) return;
            stack::set_last_reset(at);
            return;
        }
    }
}

// do/next: one expression of a block (a string is loaded first); the
// position word gets the code after it.
void do_next(const Cell* position_word, const Cell* args, bool expand) {
    Cell v = *stack::arg_base;
    const uint32_t t = cell::type_of(&v);
    if (t == TYPE_STRING) {
        Cell* code = stack::push(&shared::none);
        lexer::transcode(&v, lexer::Options{}, code, nullptr);
        v = *code;
    } else if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH) {
        do_value(args, expand);
        return;
    }
    if (expand && t != TYPE_HASH) expand_directives(v);
    Cell* held = stack::push(&v);
    uint32_t pos = std::min(series_index(v), series::cell_count(series_node(v)));
    if (pos >= series::cell_count(series_node(v))) {
        *stack::arg_base = shared::unset;
    } else {
        pos = interp::eval_next(&v, pos, false);
        if (exit_pending()) return;
    }
    series_index(held) = pos;
    Cell w = *position_word;
    word::set(&w, held);
    stack::keep_first();
}

// A binary! that starts with the UTF-8 byte-order mark is read after it.
bool skip_bom(Cell& src) {
    SeriesBuffer* b = series::buffer_of(series_node(src));
    const uint32_t total = series::buffer_length(series_node(src));
    if (total < series_index(src) ||
        !unicode::starts_with_bom(series::head_ptr(b) + series_index(src), total - series_index(src)))
        return false;
    series_index(src) += 3;
    return true;
}

// The names of the token classes that have no datatype of their own, for
// the lexer's trace events.
constexpr const char* EXIT_STATES[] = {
    "eof", "error!", "block!", "block!", "paren!", "paren!", "string!", "string!", "map!", "path!",
    "datatype!", "comment", "string!", "word!", "issue!", "integer!", "refinement!", "char!", "file!",
    "binary!", "percent!", "float!", "float!", "tuple!", "date!", "pair!", "time!", "money!", "tag!",
    "url!", "email!", "hex", "rawstring", "ref!",
};

// The lexer's events a callback asks for: the words of a block that
// starts its body, or every event.
uint32_t lexer_mask(const Cell* callback) {
    const Cell* names[6] = {words::w_prescan, words::w_scan, words::w_load, words::w_open, words::w_close,
                            words::w_error};
    return trace::events_named(callback, names, 6, lexer::EV_ALL);
}

// A lexer event delivered to the language-level callback: the event as a
// word, the input at the token, the token's type, the line and the token.
// The callback moves the scan by moving its own input argument.
bool lexer_event(void* user, lexer::TraceInfo& info) {
    const Cell* callback = static_cast<const Cell*>(user);  // on the argument stack
    const Cell* names[6] = {words::w_prescan, words::w_scan, words::w_load, words::w_open, words::w_close,
                            words::w_error};
    Cell args[5];
    // The type word first: making it may allocate.
    if (info.type) {
        args[2] = Cell{TYPE_DATATYPE, info.type, 0, 0};
    } else if (info.klass < std::size(EXIT_STATES)) {
        args[2] = word::make_from_symbol(symbol::intern_cstr(EXIT_STATES[info.klass]));
    } else {
        args[2] = shared::none;
    }
    args[0] = *names[__builtin_ctz(info.event)];
    args[0].header = TYPE_WORD;
    args[1] = info.input;
    args[3] = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(info.line), 0};
    args[4] = info.token;
    const Cell fn = *callback;
    const bool reads_input = call::argument_count(series_node(function::arg_list_of(fn))) >= 2;
    Cell* result = trace::call_with_values(&fn, words::w_lexer_callback, args, 5, trace::CallbackKind::Lexer);
    const Cell answer = *result;
    const Cell input_after = result[1];
    stack::pop_n(1);
    if (reads_input && cell::type_of(&input_after) == cell::type_of(&info.input) &&
        series_node(input_after) == series_node(info.input))
        series_index(info.input) = series_index(input_after);
    return is_truthy(answer);
}

void output(bool new_line) {
    Cell v = *stack::arg_base;
    uint32_t mark = 0;
    const bool reduced = cell::type_of(&v) == TYPE_BLOCK;
    if (reduced) {
        // Reduced on the stack first, so that a print inside the block has
        // come and gone before this one uses the buffer; the buffer is cut
        // back to where it stood before the text goes out.
        Cell* first = stack::arg_top;
        const uint32_t n = reduce_onto_stack(&v);
        if (exit_pending()) return;
        const Cell buf = *print_buffer;
        mark = series::cell_count(series_node(buf));
        for (uint32_t i = 0; i < n; i++) block::append_copy(&buf, first + i);
        v = buf;
        series_index(v) = mark;
    }
    const node_t out = text::make_buffer(64);
    // The text stays reachable from the argument stack while the hooks
    // and the buffer's cut run.
    const Cell text{TYPE_STRING, 0, out, 0};
    Cell* held = stack::push(&text);
    actions::form(&v, out, false, 0x7FFFFFFF);
    if (reduced) block::set_tail_index(print_buffer, mark);
    print_hooks::call_first_list(held, new_line);
    last_new_line = new_line ? 1 : 0;
    *stack::arg_base = shared::unset;
    stack::keep_first();
}

void make_function(const Cell* spec, const Cell* body) {
    const Cell fn = *function::push_copying_spec(spec, body);
    stack::set_last_reset(&fn);
}

}  // namespace

void native_print(const int32_t*) { output(true); }
void native_prin(const int32_t*) { output(false); }

void native_func(const int32_t*) { make_function(stack::arg_base, stack::arg_base + 1); }

void native_does(const int32_t*) {
    Cell* spec = block::push_new(1);
    make_function(spec, stack::arg_base);
}

void native_has(const int32_t*) {
    const Cell vars = *stack::arg_base;
    Cell* spec = block::push_new(static_cast<int32_t>(series::cell_count(series_node(vars))) + 1);
    const Cell s = *spec;
    block::append_copy(&s, words::w_local);
    cell::set_type(block::tail_ptr(&s) - 1, TYPE_REFINEMENT);
    for (uint32_t i = series_index(vars); i < series::cell_count(series_node(vars)); i++)
        block::append_copy(&s, &cells_of(series_node(vars))[i]);
    make_function(&s, stack::arg_base + 1);
}

void native_function(const int32_t*) {
    // The locals are added to a copy: the caller's spec block stays as it is.
    const Cell spec = *block::copy_cells(stack::arg_base, true, true);
    function::collect_locals(&spec, stack::arg_base + 1);
    make_function(&spec, stack::arg_base + 1);
}

void native_return(const int32_t*) { stack::signal_exit(true, false); }
void native_exit(const int32_t*) { stack::signal_exit(false, false); }
void native_break(const int32_t* r) { stack::signal_break(r[0] >= 0, false); }
void native_continue(const int32_t*) { stack::signal_break(false, true); }

void native_do(const int32_t* r) {
    trace::Session session(r[3] >= 0 ? stack::arg_base + r[3] : nullptr);
    // /expand runs the code through the preprocessor before evaluating it.
    const bool expand = r[0] >= 0;
    const Cell* args = r[1] >= 0 ? stack::arg_base + r[1] : nullptr;
    try {
        if (r[2] >= 0) do_next(stack::arg_base + r[2], args, expand);
        else do_value(args, expand);
    } catch (const NonLocalExit&) {
        session.finish_unwinding();
        throw;
    }
    session.finish();
}

void native_reduce(const int32_t* r) {
    const Cell v = *stack::arg_base;
    const uint32_t t = cell::type_of(&v);
    Cell* const first = stack::arg_top;
    uint32_t n = 1;
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        stack::mark_native(words::w_body);
        n = reduce_onto_stack(&v);
        if (exit_pending()) return;
        // The frame only names the work in error reports: the values stay.
        Cell* const top = stack::arg_top;
        stack::unwind_drop();
        stack::arg_top = top;
        for (uint32_t i = 0; i < n; i++) cell::clear_new_line(first + i);
        if (r[0] < 0) {
            stack::set_last_reset(gather(first, n, TYPE_BLOCK));
            return;
        }
    } else if (is_any_function(t)) {
        stack::push(&v);
    } else {
        eval_one(v);
        if (exit_pending()) return;
    }
    if (r[0] >= 0) {
        const Cell result = add_into(stack::arg_base + r[0], first, n);
        stack::set_last_reset(&result);
        return;
    }
    stack::set_last_reset(first);
}

void native_compose(const int32_t* r) {
    const Cell v = *stack::arg_base;
    if (cell::type_of(&v) != TYPE_BLOCK) {
        const Cell want{TYPE_DATATYPE, TYPE_BLOCK, 0, 0};
        const Cell got{TYPE_DATATYPE, cell::type_of(&v), 0, 0};
        err::raise(err::EXPECT_VAL, &want, &got);
    }
    Cell* const first = stack::arg_top;
    const uint32_t n = compose_onto_stack(v, r[0] >= 0, r[1] >= 0);
    if (exit_pending()) return;
    if (r[2] >= 0) {
        const Cell result = add_into(stack::arg_base + r[2], first, n);
        stack::set_last_reset(&result);
        return;
    }
    stack::set_last_reset(gather(first, n, TYPE_BLOCK));
}

void native_apply(const int32_t* r) {
    const Cell f = stack::arg_base[0];
    const Cell args = stack::arg_base[1];
    const uint32_t ft = cell::type_of(&f);
    Cell fn = f;
    Cell name = shared::none;
    if (is_any_word(ft)) {
        name = f;
        name.header = TYPE_WORD;
        fn = *word::get(&name);
    } else if (is_any_path(ft)) {
        // The function is the value of the path's first word.
        if (series_index(f) >= series::cell_count(series_node(f))) err::raise(err::INVALID_ARG, &f);
        name = cells_of(series_node(f))[series_index(f)];
        if (cell::type_of(&name) != TYPE_WORD) err::raise(err::INVALID_ARG, &f);
        fn = *word::get(&name);
    }
    if (!is_any_function(cell::type_of(&fn))) err::raise(err::INVALID_ARG, &f);
    // Without /all the block names the refinements it uses.
    const uint32_t mode = (r[0] >= 0 ? call::APPLY : call::NAMED) | (r[1] >= 0 ? call::SAFER : 0);
    const bool by_path = is_any_path(ft);
    const Cell* result = call::apply(&fn, &args, mode, cell::type_of(&name) == TYPE_WORD ? &name : nullptr,
                                     by_path ? &f : nullptr);
    if (!result) return;
    stack::set_last_reset(result);
}

void native_transcode(const int32_t* r) {
    Cell src = stack::arg_base[0];
    const uint32_t st = cell::type_of(&src);
    if (st == TYPE_BINARY) series_type::clamp_index(&src);
    else string::clamp_index(&src);
    lexer::Options o;
    o.next = r[0] >= 0;
    o.one = r[1] >= 0;
    o.prescan = r[2] >= 0;
    o.scan = r[3] >= 0;
    if (r[4] >= 0) {
        const Cell len = stack::arg_base[r[4]];
        int64_t n;
        if (cell::type_of(&len) == TYPE_INTEGER) {
            n = integer_value(len);
        } else {
            if (cell::type_of(&len) != st) err::raise(err::NOT_SAME_TYPE);
            n = static_cast<int64_t>(series_index(len)) - static_cast<int64_t>(series_index(src));
        }
        o.part = static_cast<int32_t>(std::max<int64_t>(n, 0));
    }
    if (st == TYPE_BINARY && skip_bom(src) && o.part >= 0) o.part = std::max(o.part - 3, 0);
    if (r[5] >= 0) o.into = stack::arg_base + r[5];
    lexer::Tracer tracer;
    if (r[6] >= 0) {
        tracer.callback = stack::arg_base[r[6]];
        tracer.fn = &lexer_event;
        tracer.user = stack::arg_base + r[6];
        tracer.mask = lexer_mask(&tracer.callback);
        o.trace = &tracer;
    }
    Cell* const result = stack::push(&shared::none);
    Cell* const rest = stack::push(&shared::none);
    lexer::transcode(&src, o, result, o.next && !o.one ? rest : nullptr);
    if (o.next && !o.one) {
        // The value (or the type) and the input after it.
        const Cell pair = *gather(result, 2, TYPE_BLOCK);
        stack::set_last_reset(&pair);
        return;
    }
    stack::set_last_reset(result);
}

}  // namespace qel::natives
