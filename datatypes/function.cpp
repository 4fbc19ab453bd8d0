// function! and routine! values: spec checking, the local words of
// `function`, making, molding, reflection.
#include "datatypes/function.hpp"

#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/block_mold.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "datatypes/typeset.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"

namespace qel::function {

bool making_built_ins = false;

namespace {

using series::cells_of;

int32_t canon(const Cell& c) { return symbol::canonical(word_symbol(c)); }

bool is_name(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT;
}

[[noreturn]] void bad(const Cell& spec) { err::raise(err::BAD_FUNC_DEF, &spec); }

void check_type_block(const Cell& types) {
    for (uint32_t i = series_index(types); i < series::cell_count(series_node(types)); i++) {
        Cell c = cells_of(series_node(types))[i];
        Cell v = c;
        if (cell::type_of(&c) == TYPE_WORD) {
            const node_t ctx = word_context(c);
            const Cell* slot = ctx ? context::slot_at(ctx, static_cast<uint32_t>(word_index(c))) : nullptr;
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
    const node_t n = series_node(spec);
    const int32_t local = symbol::canonical(word_symbol(words::w_local));
    const int32_t ret = symbol::canonical(words::sym_return);
    uint32_t flags = 0;
    uint32_t i = series_index(spec) < series::cell_count(n) ? series_index(spec) : series::cell_count(n);
    if (i < series::cell_count(n) && cell::type_of(&cells_of(n)[i]) == TYPE_BLOCK) {
        const Cell attrs = cells_of(n)[i];
        for (uint32_t k = series_index(attrs); k < series::cell_count(series_node(attrs)); k++) {
            const Cell a = cells_of(series_node(attrs))[k];
            if (cell::type_of(&a) != TYPE_WORD) bad(spec);
            const char* name = symbol::name(canon(a));
            if (std::string_view(name) == "trace") flags |= FN_TRACE;
            if (std::string_view(name) == "no-trace") flags |= FN_NO_TRACE;
        }
        i++;
    }
    bool after_return = false, after_local = false;
    auto type_at = [&](uint32_t k) { return k < series::cell_count(n) ? cell::type_of(&cells_of(n)[k]) : 0u; };
    while (i < series::cell_count(n)) {
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
    for (uint32_t a = series_index(spec); a < series::cell_count(n); a++) {
        const Cell x = cells_of(n)[a];
        if (!is_name(cell::type_of(&x))) continue;
        for (uint32_t b = a + 1; b < series::cell_count(n); b++) {
            const Cell y = cells_of(n)[b];
            if (is_name(cell::type_of(&y)) && canon(x) == canon(y)) err::raise(err::DUP_VARS, &y);
        }
    }
    return flags;
}

namespace {

// What functions made from one spec share: the argument list cell and the
// context's word index. Both are only read once made.
struct SpecParts {
    Cell list;
    node_t index;
};

Cell* push_parts(const Cell* spec_in, const Cell* body_in, uint32_t flags, const SpecParts* parts) {
    Cell spec = *spec_in;
    // A spec taken from an index is made a series of its own from that
    // index: the context's key words and the argument list both start at
    // the spec's head.
    if (series_index(spec) > 0) spec = *block::copy_cells(&spec, false, false);
    Cell* result = stack::push(&shared::unset);
    Cell* record = block::push_new(5);
    Cell body_copy = shared::none;
    if (body_in) {
        const Cell body = *body_in;
        body_copy = *block::copy_cells(&body, true, true);
    }
    // The argument list is built now, from the spec as it is now: the
    // context below is made from the same spec at the same moment, so the
    // two cannot disagree later however the spec block is changed.
    const Cell list = parts ? parts->list : arg_list_cell(build_arg_list(&spec, false));
    {
        SeriesBuffer* r = series::buffer_of(series_node(*record));
        Cell* cells = series::head_cell(r);
        cells[0] = body_copy;
        cells[1] = list;
        cells[2] = cells[3] = cells[4] = shared::unset;
        r->tail = r->head + 5 * sizeof(Cell);
    }
    const Cell rec = *record;
    const node_t ctx = parts ? context::make_sharing_words(parts->index)
                             : context::make_from_spec(&spec, true, false, context::FUNCTION);
    if (making_built_ins) flags |= FN_BUILT_IN;
    *result = Cell{TYPE_FUNCTION | flags, ctx, series_node(spec), series_node(rec)};
    *context::self_of(ctx) = *result;
    if (body_in) context::bind(&body_copy, ctx, true, false);
    stack::arg_top = result + 1;
    return result;
}

// ---- specs made into functions again ----------------------------------------
// A func written in a function's body or in a loop is given the same spec
// block each time. The spec's check, the argument list and the context's
// word index follow from the spec's cells alone, so they are made once and
// shared by the functions made from a spec whose cells are still the
// same. The spec itself is still copied for each function: spec-of
// answers that copy, which may be changed. Only specs of words,
// refinements, set-words and strings are kept (the cells of a nested block
// could change while the spec's own stay the same), each with a copy of
// its cells to compare, in a few slots picked by the spec's node. The
// lists and indexes are held in a block of the root block.

constexpr uint32_t SPEC_SLOTS = 32;
constexpr uint32_t SPEC_CELLS_MAX = 16;
constexpr uint32_t SPEC_MAGIC = 0x5EC0CAC4;

struct SpecEntry {
    node_t node = 0;  // 0: the slot is empty
    uint32_t index = 0;
    uint32_t flags = 0;
    uint32_t count = 0;
    Cell cells[SPEC_CELLS_MAX];
};

SpecEntry spec_entries[SPEC_SLOTS];
node_t spec_root = 0;           // the root block the holder was made in
uint32_t spec_position = 0;     // the holder's cell there

// The holder's cells (two per slot: the list, then the index as a hash!
// cell naming only its index), made on first need; the slots are emptied
// when the root block is a new one (a fresh start-up).
Cell* spec_holder() {
    const node_t root = series_node(root_cell);
    if (!root) return nullptr;
    if (spec_root == root && spec_position < series::cell_count(root)) {
        const Cell& c = cells_of(root)[spec_position];
        if (cell::type_of(&c) == TYPE_BLOCK && c.data3 == SPEC_MAGIC) return cells_of(series_node(c));
    }
    for (SpecEntry& e : spec_entries) e.node = 0;
    spec_root = root;
    Cell* slot = series::reserve_cell(&root_cell);
    *slot = shared::none;
    spec_position = static_cast<uint32_t>(slot - cells_of(root));
    const node_t holder = memory::alloc_unset_cells(2 * SPEC_SLOTS);
    SeriesBuffer* s = series::buffer_of(holder);
    s->tail = s->head + 2 * SPEC_SLOTS * sizeof(Cell);
    cells_of(series_node(root_cell))[spec_position] = Cell{TYPE_BLOCK, 0, holder, SPEC_MAGIC};
    return cells_of(holder);
}

uint32_t spec_slot(node_t n) { return (n * 2654435761u) >> 27; }
static_assert(SPEC_SLOTS == 32);

bool keepable_spec(const Cell* cells, uint32_t count) {
    if (count > SPEC_CELLS_MAX) return false;
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t t = cell::type_of(&cells[i]);
        if (!is_name(t) && t != TYPE_SET_WORD && t != TYPE_STRING) return false;
    }
    return true;
}

// The slot kept for the spec, when its cells are those it was kept with.
const SpecEntry* kept_spec(const Cell& spec) {
    const node_t n = series_node(spec);
    const SpecEntry& e = spec_entries[spec_slot(n)];
    if (e.node != n || e.index != series_index(spec)) return nullptr;
    const uint32_t total = series::cell_count(n);
    if (e.index > total || total - e.index != e.count) return nullptr;
    if (e.count && std::memcmp(cells_of(n) + e.index, e.cells, e.count * sizeof(Cell)) != 0) return nullptr;
    return &e;
}

void keep_spec(const Cell& spec, uint32_t flags, const Cell& fn) {
    const node_t n = series_node(spec);
    const uint32_t total = series::cell_count(n);
    if (series_index(spec) > total) return;
    const uint32_t count = total - series_index(spec);
    if (!keepable_spec(cells_of(n) + series_index(spec), count)) return;
    Cell* holder = spec_holder();
    if (!holder) return;
    const uint32_t k = spec_slot(n);
    SpecEntry& e = spec_entries[k];
    e.node = n;
    e.index = series_index(spec);
    e.flags = flags;
    e.count = count;
    std::memcpy(e.cells, cells_of(n) + e.index, count * sizeof(Cell));
    holder[2 * k] = arg_list_of(fn);
    holder[2 * k + 1] = Cell{TYPE_HASH, 0, 0, context_words(*context::cell_of(function_context(fn)))};
}

}  // namespace

Cell* push(const Cell* spec_in, const Cell* body_in, uint32_t flags) {
    return push_parts(spec_in, body_in, flags, nullptr);
}

Cell* push_copying_spec(const Cell* spec_in, const Cell* body) {
    const Cell spec = *spec_in;
    if (const SpecEntry* e = kept_spec(spec)) {
        const uint32_t k = static_cast<uint32_t>(e - spec_entries);
        const Cell* holder = spec_holder();
        const SpecParts parts{holder[2 * k], hash_index_node(holder[2 * k + 1])};
        // Words and strings only: the deep copy is the plain one.
        const Cell copy = *block::copy_cells(&spec, false, false);
        return push_parts(&copy, body, e->flags, &parts);
    }
    const Cell copy = *block::copy_cells(&spec, true, true);
    const uint32_t flags = validate_spec(&copy);
    Cell* result = push_parts(&copy, body, flags, nullptr);
    keep_spec(spec, flags, *result);
    return result;
}

Cell* push_routine(const Cell* spec_in, const Cell* body_in, uint32_t entry, int32_t returns, bool cells) {
    const Cell spec = *spec_in;
    const Cell body = body_in ? *body_in : shared::none;
    Cell* result = stack::push(&shared::unset);
    Cell* record = block::push_new(5);
    const Cell rec = *record;
    block::append_copy(&rec, &body);
    const Cell list = arg_list_cell(build_arg_list(&spec, false));
    block::append_copy(&rec, &list);
    const Cell e{TYPE_INTEGER, 0, entry, 0};
    block::append_copy(&rec, &e);
    block::append_copy(&rec, &shared::unset);
    const Cell r{TYPE_INTEGER, 0, static_cast<uint32_t>(returns), 0};
    block::append_copy(&rec, &r);
    const node_t ctx = context::make_from_spec(&spec, true, false, context::FUNCTION);
    *result = Cell{TYPE_ROUTINE | (cells ? ROUTINE_CELLS : 0u), ctx, series_node(spec), series_node(rec)};
    set_arity(result);
    stack::arg_top = result + 1;
    return result;
}

void set_arity(Cell* routine) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < series::cell_count(function_spec(routine)); i++)
        if (cell::type_of(&cells_of(function_spec(routine))[i]) == TYPE_WORD) n++;
    routine->header = (routine->header & 0xC1FFFFFFu) | ((n & 31u) << 25);
}

int32_t count_locals(const Cell* spec_in, bool must_exist) {
    const Cell spec = *spec_in;
    const int32_t local = symbol::canonical(word_symbol(words::w_local));
    for (uint32_t i = series_index(spec); i < series::cell_count(series_node(spec)); i++) {
        const Cell c = cells_of(series_node(spec))[i];
        if (cell::type_of(&c) != TYPE_REFINEMENT || canon(c) != local) continue;
        int32_t n = 1;
        for (uint32_t k = i + 1; k < series::cell_count(series_node(spec)); k++)
            if (cell::type_of(&cells_of(series_node(spec))[k]) == TYPE_WORD) n++;
        return n;
    }
    return must_exist ? -1 : 0;
}

namespace {

// The first value of b naming the symbol (any word type, canonical
// comparison), as a cell index; -1 when absent.
int64_t find_name(const Cell& b, int32_t sym) {
    for (uint32_t i = series_index(b); i < series::cell_count(series_node(b)); i++) {
        const Cell c = cells_of(series_node(b))[i];
        const uint32_t t = cell::type_of(&c);
        if ((is_name(t) || t == TYPE_SET_WORD) && canon(c) == sym) return i;
    }
    return -1;
}

void collect_word(const Cell& value, const Cell& collected, const Cell& ignore) {
    Cell w = value;
    w.header = TYPE_WORD;
    if (find_name(ignore, canon(w)) >= 0) return;
    block::append_copy(&collected, &w);
    block::append_copy(&ignore, &w);
}

void collect_loop_block(const Cell& words_block, const Cell& collected, const Cell& ignore) {
    for (uint32_t i = series_index(words_block); i < series::cell_count(series_node(words_block)); i++) {
        const Cell c = cells_of(series_node(words_block))[i];
        const uint32_t t = cell::type_of(&c);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) collect_word(c, collected, ignore);
    }
}

void collect_body_words(const Cell& collected, const Cell& ignore, const Cell& body) {
    stack::check_depth();
    for (uint32_t i = series_index(body); i < series::cell_count(series_node(body)); i++) {
        const Cell c = cells_of(series_node(body))[i];
        const uint32_t t = cell::type_of(&c);
        const bool has_next = i + 1 < series::cell_count(series_node(body));
        const Cell next = has_next ? cells_of(series_node(body))[i + 1] : shared::none;
        const uint32_t nt = has_next ? cell::type_of(&next) : 0;
        if (t == TYPE_SET_WORD) {
            collect_word(c, collected, ignore);
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            collect_body_words(collected, ignore, c);
        } else if (t == TYPE_WORD) {
            const int32_t sym = canon(c);
            const bool each = sym == symbol::canonical(words::sym_foreach) ||
                              sym == symbol::canonical(words::sym_remove_each) ||
                              sym == symbol::canonical(words::sym_map_each);
            if (each && nt == TYPE_BLOCK) collect_loop_block(next, collected, ignore);
            else if ((each || sym == symbol::canonical(words::sym_repeat)) && (nt == TYPE_WORD || nt == TYPE_SET_WORD))
                collect_word(next, collected, ignore);
        }
    }
}

}  // namespace

Cell collect_locals(const Cell* spec_in, const Cell* body_in) {
    const Cell spec = *spec_in;
    const Cell body = *body_in;
    const Cell collected = *block::push_new(8);
    const Cell ignore = *block::copy_cells(&spec, false, false);
    const int32_t local = symbol::canonical(word_symbol(words::w_local));
    const int64_t ext = find_name(spec, symbol::canonical(symbol::intern_cstr("extern")));
    const node_t sn = series_node(spec);
    const bool extern_mode = ext >= 0 && cell::type_of(&cells_of(sn)[ext]) == TYPE_REFINEMENT;
    if (extern_mode) {
        uint32_t i = static_cast<uint32_t>(ext) + 1;
        while (i < series::cell_count(sn) && cell::type_of(&cells_of(sn)[i]) == TYPE_WORD) i++;
        if (i < series::cell_count(sn) && cell::type_of(&cells_of(sn)[i]) == TYPE_REFINEMENT &&
            canon(cells_of(sn)[i]) == local) {
            for (uint32_t k = i + 1; k < series::cell_count(sn); k++) {
                const Cell w = cells_of(sn)[k];
                if (cell::type_of(&w) == TYPE_WORD) block::append_copy(&collected, &w);
            }
        }
        // The spec ends before /extern; its locals come back below.
        block::set_tail_index(&spec, static_cast<uint32_t>(ext));
    }
    for (uint32_t i = 0; i < series::cell_count(series_node(ignore)); i++) {
        Cell* c = &cells_of(series_node(ignore))[i];
        const uint32_t t = cell::type_of(c);
        if (t == TYPE_WORD || t == TYPE_BLOCK || t == TYPE_STRING) continue;
        if (t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
            c->header = TYPE_WORD;
        } else if (extern_mode) {
            const Cell bad_value = *c;
            err::raise(err::BAD_FUNC_EXTERN, &bad_value);
        }
    }
    collect_body_words(collected, ignore, body);
    if (series::cell_count(series_node(collected)) > 0) {
        if (count_locals(&spec, true) == -1) {
            Cell r = *words::w_local;
            r.header = TYPE_REFINEMENT;
            block::append_copy(&spec, &r);
        }
        const int64_t at = find_name(collected, local);
        if (at >= 0) {
            Cell first{TYPE_BLOCK, static_cast<uint32_t>(at), series_node(collected), 0};
            Cell* held = stack::push(&first);
            const Cell only = cells_of(series_node(collected))[at];
            block::remove_value(held, &only, false);
            stack::pop_n(1);
        }
        block::append_all(&spec, &collected);
    }
    return collected;
}

// ---- the argument list ----

node_t build_arg_list(const Cell* spec_in, bool native) {
    const Cell spec = *spec_in;
    const node_t sn = series_node(spec);
    const uint32_t total = series::cell_count(sn);
    // At most one entry per value of the spec, then the count: made at
    // that size, the list never grows, and a small spec makes a small list.
    const uint32_t most = series_index(spec) < total ? total - series_index(spec) + 1 : 1;
    Cell* list = block::push_new(static_cast<int32_t>(most));
    uint32_t ordinal = 0, locals = 0;
    bool in_locals = false;
    for (uint32_t i = series_index(spec); i < total; i++) {
        const Cell c = cells_of(sn)[i];
        const uint32_t t = cell::type_of(&c);
        if (in_locals) {
            if (t == TYPE_SET_WORD) {
                in_locals = false;
            } else {
                if (t == TYPE_WORD) locals++;
                continue;
            }
        }
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
            const bool typed = i + 1 < total && cell::type_of(&cells_of(sn)[i + 1]) == TYPE_BLOCK &&
                               block::length(&cells_of(sn)[i + 1]) > 0;
            Cell* ts;
            if (typed) {
                const Cell types = cells_of(sn)[i + 1];
                ts = typeset::append_from_block(list, &types);
            } else {
                ts = typeset::append_all_types(list);
            }
            const ArgKind kind = t == TYPE_WORD       ? ArgKind::EVALUATED
                                 : t == TYPE_GET_WORD ? ArgKind::GET
                                                      : ArgKind::LITERAL;
            set_arg_kind(ts, kind);
        } else if (t == TYPE_REFINEMENT) {
            if (canon(c) == canon(*words::w_local)) {
                in_locals = true;
                locals = 1;
                continue;
            }
            Cell r = c;
            arg_entry_ordinal(r) = native ? ++ordinal : 0;
            block::append_copy(list, &r);
        }
    }
    const uint32_t n = native ? ordinal : locals;
    if (n) {
        const Cell count_cell{TYPE_INTEGER, 0, n, 0};
        block::append_copy(list, &count_cell);
    }
    const node_t node = series_node(list);
    stack::pop_n(1);
    return node;
}

bool list_fits(node_t given, node_t own) {
    const uint32_t count = series::cell_count(own);
    if (series::cell_count(given) != count) return false;
    for (uint32_t k = 0; k < count; k++) {
        const Cell g = cells_of(given)[k];
        const Cell o = cells_of(own)[k];
        const uint32_t t = cell::type_of(&o);
        if (cell::type_of(&g) != t) return false;
        if (t == TYPE_INTEGER && arg_entry_count(g) != arg_entry_count(o)) return false;
        // Only registered datatypes count, the ones a value can have: an
        // argument without types has the bits past them set too.
        if (t == TYPE_TYPESET)
            for (uint32_t b = 1; b <= datatype::highest(); b++)
                if (typeset::has(&g, b) && !typeset::has(&o, b)) return false;
    }
    return true;
}

Cell arg_list_cell(node_t list) {
    uint32_t plain = 0;
    for (; plain < series::cell_count(list); plain++) {
        const Cell e = cells_of(list)[plain];
        if (cell::type_of(&e) != TYPE_TYPESET || arg_kind(e) != ArgKind::EVALUATED) break;
        if (!typeset::has_all_but_unset(&e)) break;
    }
    return Cell{TYPE_BLOCK, 0, list, plain};
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    if (cell::type_of(value) == TYPE_ROUTINE) {
        text::append_cstr(out, "?routine?");
        return limit - 9;
    }
    text::append_cstr(out, "?function?");
    return limit - 10;
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell v = *value;
    text::append_cstr(out, "func ");
    limit -= 5;
    const Cell spec{TYPE_BLOCK, 0, function_spec(v), 0};
    limit = block::mold(&spec, out, options.nested(), limit, indent);
    const Cell body = body_of(v);
    if (cell::type_of(&body) == TYPE_BLOCK) return block::mold(&body, out, options.nested(), limit, indent);
    text::append_cstr(out, " none");
    return limit - 5;
}

namespace {

int32_t mold_routine(const Cell* value, node_t out, const datatype::MoldOptions& options,
                     int32_t limit, int32_t indent) {
    const Cell v = *value;
    text::append_cstr(out, "routine ");
    const Cell spec{TYPE_BLOCK, 0, function_spec(v), 0};
    limit = block::mold(&spec, out, options, limit - 8, indent);
    const Cell body = body_of(v);
    if (cell::type_of(&body) == TYPE_BLOCK) return block::mold(&body, out, options, limit, indent);
    text::append_cstr(out, " ");
    return actions::mold(&body, out, options, limit - 1, indent);
}

// make function! [spec body]: checked before anything is made.
Cell* make(Cell* proto, Cell* arg, uint32_t type) {
    const Cell a = *arg;
    if (cell::type_of(&a) != TYPE_BLOCK || block::length(&a) < 2) bad(a);
    const Cell spec = cells_of(series_node(a))[series_index(a)];
    const Cell body = cells_of(series_node(a))[series_index(a) + 1];
    if (cell::type_of(&spec) != TYPE_BLOCK) bad(a);
    const uint32_t flags = validate_spec(&spec);
    if (cell::type_of(&body) != TYPE_BLOCK) bad(a);
    const Cell fn = *push(&spec, &body, flags);
    stack::set_last(&fn);
    return stack::arg_base;
}

}  // namespace

namespace {

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    if (!answers_without_order(op)) return -2;
    const node_t x = function_body(a), y = function_body(b);
    return x == y ? 0 : x < y ? -1 : 1;
}

Cell* reflect(Cell* value, int32_t field) {
    const char* name = symbol::name(symbol::canonical(field));
    const std::string_view f(name);
    Cell* r = stack::arg_base;
    if (f == "spec") {
        *r = Cell{TYPE_BLOCK, 0, function_spec(value), 0};
    } else if (f == "body") {
        *r = body_of(value);
    } else if (f == "words") {
        // Fresh words bound to the function's context: changing the block
        // cannot change the function.
        const node_t ctx = function_context(value);
        const Cell keys{TYPE_BLOCK, 0, context::words_node(ctx), 0};
        const Cell copy = *block::copy_cells(&keys, false, false);
        const node_t fresh = series_node(copy);
        for (uint32_t i = 0; i < series::cell_count(fresh); i++) word_context(cells_of(fresh)[i]) = ctx;
        *r = copy;
    } else {
        err::raise(err::NOT_DONE);
    }
    return r;
}

}  // namespace

void fill(datatype::Record& r) {
    for (auto& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::REFLECT>(r, &reflect);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::MAKE>(r, &make);
}

// routine! inherits reflect; there is no make routine!: routines come from
// the routine table only.
void fill_routine(datatype::Record& r) {
    qel::function::fill(r);
    r.actions[datatype::MAKE] = nullptr;
    datatype::set_slot<datatype::MOLD>(r, &mold_routine);
}

}  // namespace qel::function
