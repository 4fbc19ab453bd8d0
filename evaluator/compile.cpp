// The compiler of block code: one pass over the block's cells, expression
// by expression, resolving each word against its value now.
//
// An expression the compiler does not take becomes an Expr that hands it
// to the walker; the compiler then guesses where the next one starts (as
// the walker would, by the arity of called functions) so that the rest can
// still be compiled: a wrong guess only makes the code walk until it finds
// an expression start it knows again.
//
// Reads cells and contexts only: allocates nothing in the collected heap
// and runs no user code.
#include "evaluator/compile.hpp"

#include <algorithm>

#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/action_entries.hpp"
#include "evaluator/call.hpp"
#include "evaluator/fast_ops.hpp"
#include "evaluator/lookup.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/natives.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"

namespace qel::compile {

namespace {

using series::cells_of;

// How deep blocks are compiled in place into one another.
constexpr uint32_t MAX_NESTING = 12;
// Sites and blocks are numbered in 16 and 8 bits of the instructions.
constexpr uint32_t MAX_BLOCKS = 60000;
constexpr uint32_t MAX_ARGS = 32;

// The header stack::mark gives a frame of the kind named by name.
uint32_t frame_header(const Cell& name, stack::FrameKind kind, uint32_t flags) {
    int32_t symbol = 0;
    if (is_all_word(cell::type_of(&name))) symbol = stack::frame_symbol(word_symbol(name));
    return (static_cast<uint32_t>(kind) << stack::frame_flag::KIND_SHIFT) |
           (static_cast<uint32_t>(symbol) << stack::frame_flag::SYMBOL_SHIFT) | flags;
}

node_t frame_context(const Cell& name) { return is_all_word(cell::type_of(&name)) ? word_context(name) : 0; }

bool runs_code(uint32_t t) {
    return is_any_word(t) || is_any_path(t) || t == TYPE_PAREN || t == TYPE_ISSUE || is_any_function(t);
}

class Compiler {
public:
    explicit Compiler(Code& code) : c_(code) {}

    // Compiles block record r (its cell set) and every expression in it;
    // answers nothing: an expression that cannot be compiled is walked.
    void block(uint16_t r, uint32_t depth);

private:
    Code& c_;
    uint16_t blk_ = 0;
    node_t node_ = 0;
    uint32_t tail_ = 0;
    uint32_t depth_ = 0;
    uint32_t loops_ = 0;  // loops in place around the one being compiled

    const Cell& at(uint32_t pos) const { return cells_of(node_)[pos]; }

    Ins& emit(Op op, uint32_t pos, int32_t up, uint32_t argi) {
        Ins i{};
        i.op = op;
        i.argi = static_cast<uint8_t>(argi);
        i.blk = blk_;
        i.up = up;
        i.pos = pos;
        c_.ins.push_back(i);
        return c_.ins.back();
    }

    Reach reach_of(const Cell& w, uint32_t& index);

    // A site named by the word `name` at pos, an operand of site `up`,
    // pushing frames with the given header.
    // A site at pos, an operand of site `up`, named by nothing yet.
    Site bare_site(SiteKind kind, uint32_t pos, int32_t up, uint32_t argi) const {
        Site s{};
        s.kind = kind;
        s.argi = static_cast<uint8_t>(argi);
        s.up = up;
        s.blk = blk_;
        s.pos = pos;
        s.fast = fast_ops::NOT_FAST;
        return s;
    }
    Site site_of(SiteKind kind, uint32_t pos, int32_t up, uint32_t argi, const Cell& name, uint32_t header) {
        Site s = bare_site(kind, pos, up, argi);
        s.name = name;
        s.reach = reach_of(name, s.index);
        s.header = header;
        s.word_ctx = frame_context(name);
        return s;
    }
    bool operand(uint32_t& pos, bool no_infix, int32_t up, uint32_t argi, bool& may_unset);
    bool chain(uint32_t& pos, int32_t up, uint32_t argi, bool& may_unset);
    bool call(uint32_t& pos, const Cell& fn, bool no_infix, int32_t up, uint32_t argi);
    bool field_site(Site& s, const Cell& path, bool settable);
    bool field(const Cell& path, uint32_t pos, int32_t up, uint32_t argi);
    const Cell* path_function(const Cell& path) const;
    bool path_call(uint32_t& pos, const Cell& path, const Cell& fn, int32_t up, uint32_t argi);
    bool loop(uint32_t& pos, int32_t site, uint32_t argc, int32_t up, uint32_t argi);
    bool in_place(const Cell& child, bool paren, const Cell& outer_position);
    uint32_t skip(uint32_t pos, bool no_infix, uint32_t depth);
    void undo(size_t ins, size_t sites, size_t blocks);
};

Reach Compiler::reach_of(const Cell& w, uint32_t& index) {
    const node_t ctx = word_context(w);
    const int32_t i = word_index(w);
    index = 0;
    if (!ctx || i < 0) return Reach::Word;
    index = static_cast<uint32_t>(i);
    if (ctx == context::global) return Reach::Global;
    if (ctx == c_.home) return Reach::Local;
    if (!c_.home && context::has_stack_values(context::cell_of(ctx)) && context_values(context::cell_of(ctx))) {
        c_.home = ctx;
        return Reach::Local;
    }
    return Reach::Word;
}

void Compiler::undo(size_t ins, size_t sites, size_t blocks) {
    c_.ins.resize(ins);
    c_.sites.resize(sites);
    while (c_.blocks.size() > blocks) {
        release(c_.blocks.back().ref);
        c_.blocks.pop_back();
    }
}

// Where the expression from pos ends, as the walker would find it with
// the values words have now; pos itself when that cannot be told.
uint32_t Compiler::skip(uint32_t pos, bool no_infix, uint32_t depth) {
    if (pos >= tail_ || depth > 64) return pos;
    const Cell v = at(pos);
    const uint32_t t = cell::type_of(&v);
    uint32_t p = pos + 1;
    const Cell* fn = nullptr;
    if (t == TYPE_WORD) {
        const Cell* slot = lookup::peek(&v);
        if (slot && is_any_function(cell::type_of(slot)) && cell::type_of(slot) != TYPE_OP) fn = slot;
    } else if (t == TYPE_PATH) {
        const Cell head = cells_of(series_node(v))[series_index(v)];
        if (cell::type_of(&head) == TYPE_WORD) {
            const Cell* slot = lookup::peek(&head);
            if (slot && is_any_function(cell::type_of(slot)) && cell::type_of(slot) != TYPE_OP) fn = slot;
        }
    } else if (t == TYPE_SET_WORD || t == TYPE_SET_PATH) {
        const uint32_t e = skip(p, false, depth + 1);
        if (e == p) return pos;
        p = e;
    }
    if (fn) {
        // The arguments before the refinements; a path's refinements take
        // theirs too, which this guess leaves out.
        const Cell fv = *fn;
        const node_t list = series_node(function::arg_list_of(fv));
        const uint32_t count = series::cell_count(list);
        for (uint32_t i = 0; i < count; i++) {
            const Cell e = cells_of(list)[i];
            if (cell::type_of(&e) != TYPE_TYPESET) break;
            if (function::arg_kind(e) != function::ArgKind::EVALUATED) {
                p++;
                continue;
            }
            const uint32_t n = skip(p, false, depth + 1);
            if (n == p) return pos;
            p = n;
        }
    }
    if (no_infix) return p;
    while (p < tail_ && cell::type_of(&at(p)) == TYPE_WORD) {
        const Cell w = at(p);
        const Cell* slot = lookup::peek(&w);
        if (!slot || cell::type_of(slot) != TYPE_OP) break;
        const uint32_t n = skip(p + 1, true, depth + 1);
        if (n == p + 1) return pos;
        p = n;
    }
    return p;
}

void Compiler::block(uint16_t r, uint32_t depth) {
    const uint16_t saved_blk = blk_;
    const node_t saved_node = node_;
    const uint32_t saved_tail = tail_;
    const uint32_t saved_depth = depth_;
    blk_ = r;
    node_ = series_node(c_.blocks[r].cell);
    tail_ = series::cell_count(node_);
    depth_ = depth;
    uint32_t pos = series_index(c_.blocks[r].cell);
    bool first = true;
    while (pos < tail_) {
        if (!first && r == 0 && c_.one_expression) break;
        const size_t ins = c_.ins.size(), sites = c_.sites.size(), blocks = c_.blocks.size();
        {
            Ins& e = emit(Op::Expr, pos, -1, 0);
            e.a = r;
            e.b = first ? 0 : 1;
            e.k = c_.blocks[r].cell;
            series_index(e.k) = pos;
        }
        c_.blocks[r].starts.emplace_back(pos, static_cast<uint32_t>(ins));
        uint32_t p = pos;
        bool may_unset = false;
        if (!operand(p, false, -1, 0, may_unset)) {
            undo(ins + 1, sites, blocks);
            c_.ins[ins].c = 1;  // walked
            p = skip(pos, false, 0);
            if (p == pos) {
                // Where it ends is not known: the rest is walked, and the
                // walker finds no start after this one.
                break;
            }
        }
        first = false;
        pos = p;
    }
    c_.blocks[r].limit = r == 0 && c_.one_expression ? pos : UINT32_MAX;
    blk_ = saved_blk;
    node_ = saved_node;
    tail_ = saved_tail;
    depth_ = saved_depth;
}

// A paren or the literal block of a conditional, compiled where it stands.
// outer_position is the position of the block around it, as the walker
// leaves it in interp::current_position.
bool Compiler::in_place(const Cell& child, bool paren, const Cell& outer_position) {
    const node_t n = series_node(child);
    if (depth_ >= MAX_NESTING || c_.blocks.size() >= MAX_BLOCKS) return false;
    for (const Block& b : c_.blocks)
        if (series_node(b.cell) == n) return false;  // a block inside itself
    Code* held = block_code::find(n);
    if (!held) {
        held = new Code;
        held->kind = Kind::Inlined;
        block_code::attach(n, held);
    }
    held->refs++;
    Block b{};
    b.cell = child;
    b.code = series::buffer_of(n)->code;
    b.ref = held;
    b.paren = paren;
    b.seen = block_code::generation - 1;
    c_.blocks.push_back(b);
    const auto r = static_cast<uint16_t>(c_.blocks.size() - 1);
    const size_t enter = c_.ins.size();
    emit(Op::Enter, 0, -1, 0).b = r;
    if (series_index(child) >= series::cell_count(n)) {
        Ins& u = emit(Op::Const, 0, -1, 0);
        u.k = shared::unset;
    } else {
        block(r, depth_ + 1);
    }
    const size_t leave = c_.ins.size();
    Ins& l = emit(Op::Leave, 0, -1, 0);
    l.k = outer_position;
    l.b = blk_;
    c_.blocks[r].end = static_cast<uint32_t>(leave);
    c_.ins[enter].c = static_cast<uint32_t>(leave);
    return true;
}

bool Compiler::operand(uint32_t& pos, bool no_infix, int32_t up, uint32_t argi, bool& may_unset) {
    if (pos >= tail_) return false;
    const Cell v = at(pos);
    const uint32_t t = cell::type_of(&v);
    may_unset = false;
    if (t == TYPE_WORD) {
        const Cell* slot = lookup::peek(&v);
        if (!slot) return false;
        const Cell value = *slot;
        const uint32_t vt = cell::type_of(&value);
        // A word without a value now (a loop's word before its first
        // turn, say) is read as a value: its check hands it over should it
        // still have none when it runs.
        if (vt == TYPE_OP) return false;
        if (is_any_function(vt)) {
            if (!call(pos, value, no_infix, up, argi)) return false;
            may_unset = true;
        } else {
            uint32_t index;
            const Reach r = reach_of(v, index);
            Ins& i = emit(r == Reach::Global ? Op::Global : r == Reach::Local ? Op::Local : Op::Word, pos, up, argi);
            i.a = index;
            i.k = v;
            pos++;
        }
    } else if (t == TYPE_SET_WORD) {
        if (pos + 1 >= tail_) return false;
        c_.sites.push_back(site_of(SiteKind::Set, pos, up, argi, v, frame_header(v, stack::FrameKind::Native, 0)));
        const auto site = static_cast<int32_t>(c_.sites.size() - 1);
        emit(Op::SetBegin, pos, up, argi).a = static_cast<uint32_t>(site);
        uint32_t p = pos + 1;
        bool inner_unset = false;
        if (!operand(p, false, site, 0, inner_unset)) return false;
        emit(Op::SetEnd, p, site, 0).a = static_cast<uint32_t>(site);
        pos = p;
    } else if (t == TYPE_SET_PATH) {
        if (pos + 1 >= tail_) return false;
        const Cell& frame_name = words::w_set_path ? *words::w_set_path : *words::w_body;
        Site s = site_of(SiteKind::SetPath, pos, up, argi, frame_name,
                         frame_header(frame_name, stack::FrameKind::Native, 0));
        s.fn = v;
        // A field of an object is set straight into its context while the
        // word names the same object (the frame's name is in its header).
        if (!field_site(s, v, true)) s.ctx = 0;
        c_.sites.push_back(s);
        const auto site = static_cast<int32_t>(c_.sites.size() - 1);
        emit(Op::SetBegin, pos, up, argi).a = static_cast<uint32_t>(site);
        uint32_t p = pos + 1;
        bool inner_unset = false;
        if (!operand(p, false, site, 0, inner_unset)) return false;
        emit(Op::SetPathEnd, p, site, 0).a = static_cast<uint32_t>(site);
        pos = p;
    } else if (t == TYPE_PATH) {
        const Cell* fn = path_function(v);
        if (fn) {
            if (!path_call(pos, v, *fn, up, argi)) return false;
            may_unset = true;
        } else {
            if (!field(v, pos, up, argi)) return false;
            pos++;
        }
    } else if (t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_PATH || t == TYPE_LIT_PATH) {
        emit(Op::Walk1, pos, up, argi);
        may_unset = t == TYPE_GET_WORD || t == TYPE_GET_PATH;
        pos++;
    } else if (t == TYPE_PAREN) {
        Cell outer = c_.blocks[blk_].cell;
        // The walker's position stays at the expression that holds the
        // paren: the start of the innermost block's running expression.
        series_index(outer) = c_.ins[c_.blocks[blk_].starts.back().second].pos;
        if (!in_place(v, true, outer)) return false;
        Ins& l = c_.ins.back();
        l.a = 1;
        l.up = up;
        l.argi = static_cast<uint8_t>(argi);
        l.pos = pos + 1;
        may_unset = true;
        pos++;
    } else if (runs_code(t)) {
        return false;
    } else {
        emit(Op::Const, pos, up, argi).k = v;
        may_unset = t == TYPE_UNSET;
        pos++;
    }
    if (no_infix) return true;
    return chain(pos, up, argi, may_unset);
}

// A path of two words whose first names an object that has the second as
// a field: the site keeps the object's context and the field's index, the
// path's words and how the first reaches its value. A field read must hold
// a value (no function, not unset); one set may hold anything.
bool Compiler::field_site(Site& s, const Cell& path, bool settable) {
    const node_t pn = series_node(path);
    const uint32_t first = series_index(path);
    if (series::cell_count(pn) != first + 2) return false;
    const Cell head = cells_of(pn)[first];
    const Cell element = cells_of(pn)[first + 1];
    if (cell::type_of(&head) != TYPE_WORD || cell::type_of(&element) != TYPE_WORD) return false;
    const Cell* obj = lookup::peek(&head);
    if (!obj || cell::type_of(obj) != TYPE_OBJECT) return false;
    const int32_t index = object::field_index(obj, &element);
    if (index < 0) return false;
    const uint32_t ft = cell::type_of(object::value_at(obj, static_cast<uint32_t>(index)));
    if (!settable && (is_any_function(ft) || ft == TYPE_UNSET)) return false;
    s.name = head;
    s.reach = reach_of(head, s.index);
    s.element = element;
    s.ctx = object_context(obj);
    s.field = static_cast<uint32_t>(index);
    return true;
}

// A path that reads a field: straight from the object's context while its
// first word names the same object.
bool Compiler::field(const Cell& path, uint32_t pos, int32_t up, uint32_t argi) {
    Site s = bare_site(SiteKind::Field, pos, up, argi);
    s.fn = path;
    if (!field_site(s, path, false)) return false;
    c_.sites.push_back(s);
    emit(Op::Field, pos, up, argi).a = static_cast<uint32_t>(c_.sites.size() - 1);
    return true;
}

// The function! that a path's first word holds now, when the path is that
// word and at least one more: null for every other path.
const Cell* Compiler::path_function(const Cell& path) const {
    const node_t pn = series_node(path);
    const uint32_t first = series_index(path);
    if (series::cell_count(pn) < first + 2) return nullptr;
    const Cell head = cells_of(pn)[first];
    if (cell::type_of(&head) != TYPE_WORD) return nullptr;
    const Cell* slot = lookup::peek(&head);
    return slot && cell::type_of(slot) == TYPE_FUNCTION ? slot : nullptr;
}

// A function! called through a path whose other elements are words, each
// naming another of its refinements, every argument evaluated. The frame
// gets the main arguments, then the cells of an unused call; each
// refinement then sets its flag and takes its arguments into their cells,
// in path order, as the walker's call does. The path's buffer gets a code
// stub (as a block compiled in place does) so that a change of its cells
// is seen where the walker would read them.
bool Compiler::path_call(uint32_t& pos, const Cell& path, const Cell& fn, int32_t up, uint32_t argi) {
    const node_t pn = series_node(path);
    const uint32_t first = series_index(path);
    const uint32_t n = series::cell_count(pn);
    const Cell list_cell = function::arg_list_of(fn);
    const node_t list = series_node(list_cell);
    const uint32_t count = series::cell_count(list);
    if (count > MAX_ARGS || n - first > MAX_ARGS || c_.blocks.size() >= MAX_BLOCKS) return false;
    uint32_t argc = 0;
    while (argc < count && cell::type_of(&cells_of(list)[argc]) == TYPE_TYPESET) {
        if (function::arg_kind(cells_of(list)[argc]) != function::ArgKind::EVALUATED) return false;
        argc++;
    }
    // The refinement entry each element names.
    uint32_t named[MAX_ARGS];
    bool taken[MAX_ARGS] = {};
    for (uint32_t k = first + 1; k < n; k++) {
        const Cell elem = cells_of(pn)[k];
        if (cell::type_of(&elem) != TYPE_WORD) return false;
        const int32_t sym = symbol::canonical(word_symbol(elem));
        uint32_t j = argc;
        for (; j < count; j++) {
            const Cell& e = cells_of(list)[j];
            if (cell::type_of(&e) == TYPE_REFINEMENT && symbol::canonical(word_symbol(e)) == sym) break;
        }
        if (j >= count || taken[j]) return false;
        taken[j] = true;
        for (uint32_t a = j + 1; a < count && cell::type_of(&cells_of(list)[a]) == TYPE_TYPESET; a++)
            if (function::arg_kind(cells_of(list)[a]) != function::ArgKind::EVALUATED) return false;
        named[k - first - 1] = j;
    }
    Code* held = block_code::find(pn);
    if (!held) {
        held = new Code;
        held->kind = Kind::Inlined;
        block_code::attach(pn, held);
    }
    held->refs++;
    Block b{};
    b.cell = path;
    b.code = series::buffer_of(pn)->code;
    b.ref = held;
    b.seen = block_code::generation - 1;
    c_.blocks.push_back(b);
    const Cell head = cells_of(pn)[first];
    Site s = site_of(SiteKind::Function, pos, up, argi, head, frame_header(head, stack::FrameKind::Call, 0));
    s.path_blk = static_cast<uint16_t>(c_.blocks.size() - 1);
    s.fn = fn;
    s.list_cell = list_cell;
    s.list_at = static_cast<uint32_t>(c_.pool.size());
    s.list_n = count;
    c_.pool.insert(c_.pool.end(), cells_of(list), cells_of(list) + count);
    s.path_at = static_cast<uint32_t>(c_.pool.size());
    s.path_n = n - first;
    c_.pool.insert(c_.pool.end(), cells_of(pn) + first, cells_of(pn) + n);
    s.body_header = frame_header(head, stack::FrameKind::Native, stack::frame_flag::BODY);
    s.ctx = function_context(fn);
    s.rest_at = static_cast<uint32_t>(c_.pool.size());
    call::each_unused_cell(list, argc, [&](const Cell& c) { c_.pool.push_back(c); });
    s.rest_n = static_cast<uint32_t>(c_.pool.size()) - s.rest_at;
    c_.sites.push_back(s);
    const auto site = static_cast<int32_t>(c_.sites.size() - 1);
    emit(Op::CallPath, pos, up, argi).a = static_cast<uint32_t>(site);
    uint32_t p = pos + 1;
    for (uint32_t i = 0; i < argc; i++) {
        bool may_unset = false;
        if (!operand(p, false, site, i, may_unset)) return false;
        const bool typed = i >= function::arg_list_plain(list_cell);
        if (typed || may_unset) {
            Ins& k = emit(typed ? Op::Check : Op::Unset, p, site, i);
            k.a = static_cast<uint32_t>(site);
            k.c = i;
        }
    }
    for (uint32_t k = first + 1; k < n; k++) {
        const uint32_t j = named[k - first - 1];
        Ins& r = emit(Op::Refine, p, site, 0);
        r.a = static_cast<uint32_t>(site);
        r.b = j;
        r.c = k == first + 1;
        r.d = k;
        for (uint32_t a = j + 1; a < count && cell::type_of(&cells_of(list)[a]) == TYPE_TYPESET; a++) {
            bool may_unset = false;
            if (!operand(p, false, site, a, may_unset)) return false;
            Ins& put = emit(Op::Place, p, site, a);
            put.a = static_cast<uint32_t>(site);
            put.c = a;
        }
    }
    // The call checks that no element follows (d, the path's tail).
    Ins& call = emit(Op::InvokeFn, p, up, argi);
    call.a = static_cast<uint32_t>(site);
    call.d = n;
    pos = p;
    return true;
}

bool Compiler::chain(uint32_t& pos, int32_t up, uint32_t argi, bool& may_unset) {
    bool first = true;
    while (pos < tail_ && cell::type_of(&at(pos)) == TYPE_WORD) {
        const Cell w = at(pos);
        const Cell* slot = lookup::peek(&w);
        if (!slot || cell::type_of(slot) != TYPE_OP) {
            emit(Op::NotOp, pos, up, argi).k = w;
            return true;
        }
        const Cell op = *slot;
        const Cell fn = op_function(op);
        const uint32_t inner = cell::type_of(&fn);
        if (inner != TYPE_NATIVE && inner != TYPE_ACTION) return false;
        const Cell list_cell = function::arg_list_of(fn);
        if (list_cell.header & function::UNFIT_ENTRY) return false;
        const node_t list = series_node(list_cell);
        if (series::cell_count(list) < 2) return false;
        for (uint32_t i = 0; i < 2; i++) {
            const Cell e = cells_of(list)[i];
            if (cell::type_of(&e) != TYPE_TYPESET || function::arg_kind(e) != function::ArgKind::EVALUATED)
                return false;
        }
        if (pos + 1 >= tail_) return false;
        Site s = site_of(SiteKind::Infix, pos, up, argi, w, frame_header(w, stack::FrameKind::NativeCall, 0));
        s.fast = fast_ops::fast_op_of(op);
        s.fn = fn;
        s.op = op;
        s.spec = native_spec(fn);
        c_.sites.push_back(s);
        const auto site = static_cast<uint32_t>(c_.sites.size() - 1);
        // A right operand that runs no code and cannot fail is read by the
        // operation itself.
        const Cell right = at(pos + 1);
        const uint32_t rt = cell::type_of(&right);
        const Cell* rslot = rt == TYPE_WORD ? lookup::peek(&right) : nullptr;
        const bool plain_word = rslot && !is_any_function(cell::type_of(rslot));
        if (s.fast != fast_ops::NOT_FAST && (!runs_code(rt) || plain_word)) {
            // A left operand read from a word just before is read by the
            // same instruction.
            const Ins& last = c_.ins.back();
            const bool fuse = first && (last.op == Op::Local || last.op == Op::Global) && last.pos + 1 == pos &&
                              last.up == up && last.argi == argi;
            Ins& i = fuse ? c_.ins.back() : emit(Op::Arith, pos, up, argi);
            if (fuse) {
                i.op = i.op == Op::Local ? Op::LocalArith : Op::GlobalArith;
                i.d = i.a;
            }
            i.a = site;
            i.k = right;
            if (!runs_code(rt)) {
                i.b = static_cast<uint32_t>(Reach::Const);
            } else {
                uint32_t index;
                i.b = static_cast<uint32_t>(reach_of(right, index));
                i.c = index;
            }
            pos += 2;
            may_unset = false;
            first = false;
            continue;
        }
        emit(Op::OpBegin, pos, up, argi).a = site;
        uint32_t p = pos + 1;
        bool right_unset = false;
        if (!operand(p, true, static_cast<int32_t>(site), 1, right_unset)) return false;
        emit(Op::OpEnd, p, static_cast<int32_t>(site), 1).a = site;
        pos = p;
        first = false;
        may_unset = true;
    }
    return true;
}

bool Compiler::call(uint32_t& pos, const Cell& fn, bool no_infix, int32_t up, uint32_t argi) {
    const uint32_t t = cell::type_of(&fn);
    if (t != TYPE_FUNCTION && t != TYPE_NATIVE && t != TYPE_ACTION) return false;
    const Cell list_cell = function::arg_list_of(fn);
    if (t != TYPE_FUNCTION && (list_cell.header & function::UNFIT_ENTRY)) return false;
    const node_t list = series_node(list_cell);
    const uint32_t count = series::cell_count(list);
    // repeat and foreach take their word as it stands: compiled when a word
    // stands there.
    const natives::Entry* native_entry =
        t == TYPE_NATIVE ? natives::entry_of(static_cast<int32_t>(native_index(fn))) : nullptr;
    const bool word_first = native_entry && (native_entry->fn == &natives::native_repeat ||
                                             native_entry->fn == &natives::native_foreach);
    uint32_t argc = 0;
    while (argc < count && cell::type_of(&cells_of(list)[argc]) == TYPE_TYPESET) {
        const bool literal_word =
            word_first && argc == 0 && pos + 1 < tail_ && cell::type_of(&at(pos + 1)) == TYPE_WORD;
        if (function::arg_kind(cells_of(list)[argc]) != function::ArgKind::EVALUATED && !literal_word) return false;
        argc++;
    }
    if (argc > MAX_ARGS) return false;
    const Cell name = at(pos);
    Site s = t == TYPE_FUNCTION
                 ? site_of(SiteKind::Function, pos, up, argi, name, frame_header(name, stack::FrameKind::Call, 0))
                 : site_of(SiteKind::Native, pos, up, argi, name, frame_header(name, stack::FrameKind::NativeCall, 0));
    s.fn = fn;
    s.list_cell = list_cell;
    s.list_at = static_cast<uint32_t>(c_.pool.size());
    s.list_n = count;
    c_.pool.insert(c_.pool.end(), cells_of(list), cells_of(list) + count);
    if (t == TYPE_FUNCTION) {
        s.body_header = frame_header(name, stack::FrameKind::Native, stack::frame_flag::BODY);
        s.ctx = function_context(fn);
        // The frame's cells after the arguments, as a call without
        // refinements lays them out.
        s.rest_at = static_cast<uint32_t>(c_.pool.size());
        call::each_unused_cell(list, argc, [&](const Cell& c) { c_.pool.push_back(c); });
        s.rest_n = static_cast<uint32_t>(c_.pool.size()) - s.rest_at;
    } else {
        s.spec = native_spec(fn);
        if (t == TYPE_NATIVE) {
            const natives::Entry* e = natives::entry_of(static_cast<int32_t>(native_index(fn)));
            if (!e || !e->fn) return false;
            s.entry = e->fn;
            if (e->fn == &natives::native_if) s.kind = SiteKind::If;
            else if (e->fn == &natives::native_either) s.kind = SiteKind::Either;
            else if (e->fn == &natives::native_unless) s.kind = SiteKind::Unless;
            else if (e->fn == &natives::native_while) s.kind = SiteKind::While;
            else if (e->fn == &natives::native_until) s.kind = SiteKind::Until;
            else if (e->fn == &natives::native_loop) s.kind = SiteKind::Loop;
            else if (e->fn == &natives::native_forever) s.kind = SiteKind::Forever;
            else if (e->fn == &natives::native_repeat) s.kind = SiteKind::Repeat;
            else if (e->fn == &natives::native_foreach) s.kind = SiteKind::Foreach;
        } else {
            s.entry = actions::entry_of_slot(native_index(fn) - 1);
            if (!s.entry) return false;
        }
    }
    c_.sites.push_back(s);
    const auto site = static_cast<int32_t>(c_.sites.size() - 1);
    const SiteKind kind = s.kind;
    emit(t == TYPE_FUNCTION ? Op::CallFn : Op::CallNat, pos, up, argi).a = static_cast<uint32_t>(site);
    uint32_t p = pos + 1;
    if (is_loop(kind)) return loop(pos, site, argc, up, argi);
    bool conditional = kind == SiteKind::If || kind == SiteKind::Either || kind == SiteKind::Unless;
    const uint32_t blocks = kind == SiteKind::Either ? 2 : 1;
    if (conditional && argc != blocks + 1) {
        conditional = false;
        c_.sites[static_cast<size_t>(site)].kind = SiteKind::Native;
    }
    for (uint32_t i = 0; i < argc; i++) {
        if (conditional && i == 1) {
            // The blocks run in place only when they are written there.
            bool literal = argc == blocks + 1;
            for (uint32_t k = 0; k < blocks && literal; k++)
                literal = p + k < tail_ && cell::type_of(&at(p + k)) == TYPE_BLOCK;
            if (literal) break;
            conditional = false;
            c_.sites[static_cast<size_t>(site)].kind = SiteKind::Native;
            Ins& k = emit(Op::Check, p, site, 0);  // the condition's, left for a Branch
            k.a = static_cast<uint32_t>(site);
            k.c = 0;
        }
        bool may_unset = false;
        if (!operand(p, false, site, i, may_unset)) return false;
        // The condition of a conditional compiled in place is checked by
        // its Branch, once it is known that the blocks follow.
        if (conditional && i == 0) continue;
        const bool typed = i >= function::arg_list_plain(list_cell);
        if (typed || may_unset) {
            Ins& k = emit(typed ? Op::Check : Op::Unset, p, site, i);
            k.a = static_cast<uint32_t>(site);
            k.c = i;
        }
    }
    if (!conditional) {
        const bool append = t == TYPE_ACTION && native_index(fn) - 1 == datatype::APPEND && argc == 2;
        emit(t == TYPE_FUNCTION ? Op::InvokeFn : append ? Op::InvokeAppend : Op::InvokeNat, p, up, argi).a =
            static_cast<uint32_t>(site);
        pos = p;
        return true;
    }
    // if, either, unless with literal blocks: the chosen block runs in
    // place, inside the native's frame as the walker's would.
    Cell outer = c_.blocks[blk_].cell;
    series_index(outer) = c_.ins[c_.blocks[blk_].starts.back().second].pos;
    const size_t branch = c_.ins.size();
    {
        Ins& b = emit(Op::Branch, p, site, 1);
        b.a = static_cast<uint32_t>(site);
        // The word after the last block, which must not be an operator.
        if (p + blocks < tail_ && cell::type_of(&at(p + blocks)) == TYPE_WORD) b.k = at(p + blocks);
    }
    if (!in_place(at(p), false, outer)) return false;
    if (kind == SiteKind::Either) {
        const size_t jump = c_.ins.size();
        emit(Op::Jump, p + 2, -1, 0);
        c_.ins[branch].c = static_cast<uint32_t>(c_.ins.size());
        if (!in_place(at(p + 1), false, outer)) return false;
        c_.ins[jump].c = static_cast<uint32_t>(c_.ins.size());
    } else {
        c_.ins[branch].c = static_cast<uint32_t>(c_.ins.size());
    }
    emit(Op::PopFrame, p + blocks, site, 0).a = static_cast<uint32_t>(site);
    pos = p + blocks;
    return true;
}

// while, until, loop, forever, repeat and foreach, whose CallNat is emitted: the arguments
// as for any native, then, when the blocks are written there, the loop in
// place. The native's frame holds the arguments, the loop frame above it
// each turn's value, as the natives' own.
bool Compiler::loop(uint32_t& pos, int32_t site, uint32_t argc, int32_t up, uint32_t argi) {
    Site& s0 = c_.sites[static_cast<size_t>(site)];
    const SiteKind kind = s0.kind;
    const bool word_first = kind == SiteKind::Repeat || kind == SiteKind::Foreach;
    const uint32_t first_block = kind == SiteKind::Loop ? 1 : word_first ? 2 : 0;
    const uint32_t wanted = kind == SiteKind::While || kind == SiteKind::Loop ? 2 : word_first ? 3 : 1;
    bool in_place_loop = argc == wanted;
    const Cell list_cell = function::arg_list_of(s0.fn);
    uint32_t block_at[2] = {0, 0};
    uint32_t p = pos + 1;
    for (uint32_t i = 0; i < argc; i++) {
        if (word_first && i == 0) {
            // The word, a word! as the argument wants.
            emit(Op::Const, p, site, 0).k = at(p);
            p++;
            continue;
        }
        const size_t from = c_.ins.size();
        const uint32_t at_arg = p;
        bool may_unset = false;
        if (!operand(p, false, site, i, may_unset)) return false;
        if (i >= first_block && in_place_loop) {
            // The block as it stands, nothing after it but words that are
            // no operators now.
            bool literal = p == at_arg + 1 && c_.ins[from].op == Op::Const &&
                           cell::type_of(&c_.ins[from].k) == TYPE_BLOCK;
            for (size_t k = from + 1; k < c_.ins.size() && literal; k++) literal = c_.ins[k].op == Op::NotOp;
            if (literal) block_at[i - first_block] = at_arg;
            else in_place_loop = false;
        }
        const bool typed = i >= function::arg_list_plain(list_cell);
        if (typed || may_unset) {
            Ins& k = emit(typed ? Op::Check : Op::Unset, p, site, i);
            k.a = static_cast<uint32_t>(site);
            k.c = i;
        }
    }
    if (!in_place_loop || depth_ + 1 >= MAX_NESTING) {
        c_.sites[static_cast<size_t>(site)].kind = SiteKind::Native;
        emit(Op::InvokeNat, p, up, argi).a = static_cast<uint32_t>(site);
        pos = p;
        return true;
    }
    {
        Site& s = c_.sites[static_cast<size_t>(site)];
        s.body_header = frame_header(*words::w_body, stack::FrameKind::Loop, 0);
        s.ctx = frame_context(*words::w_body);
    }
    Cell outer = c_.blocks[blk_].cell;
    series_index(outer) = c_.ins[c_.blocks[blk_].starts.back().second].pos;
    const size_t begin = c_.ins.size();
    // The loops a run of the code may be inside at once.
    struct Nest {
        uint32_t& n;
        explicit Nest(uint32_t& depth, uint32_t& most) : n(depth) { most = std::max(most, ++n); }
        ~Nest() { n--; }
    } nest(loops_, c_.loops);
    {
        Ins& b = emit(Op::LoopBegin, p, site, 0);
        b.a = static_cast<uint32_t>(site);
        b.k = outer;
    }
    const auto head = static_cast<uint32_t>(c_.ins.size());
    {
        Ins& h = emit(Op::LoopHead, p, site, 0);
        h.a = static_cast<uint32_t>(site);
        h.b = kind == SiteKind::Loop ? 1 : kind == SiteKind::Repeat ? 2 : kind == SiteKind::Foreach ? 3 : 0;
    }
    size_t test = 0;
    if (kind == SiteKind::While) {
        if (!in_place(at(block_at[0]), false, outer)) return false;
        test = c_.ins.size();
        emit(Op::LoopTest, p, site, 0).b = 0;
        if (!in_place(at(block_at[1]), false, outer)) return false;
        emit(Op::Jump, p, -1, 0).c = head;
    } else if (kind == SiteKind::Until) {
        if (!in_place(at(block_at[0]), false, outer)) return false;
        Ins& t = emit(Op::LoopTest, p, site, 0);
        t.b = 0;
        t.c = head;
    } else {
        if (!in_place(at(block_at[0]), false, outer)) return false;
        emit(Op::Jump, p, -1, 0).c = head;
    }
    const auto end = static_cast<uint32_t>(c_.ins.size());
    emit(Op::LoopEnd, p, site, 0).a = static_cast<uint32_t>(site);
    if (kind == SiteKind::While) c_.ins[test].c = end;
    c_.ins[head].c = end;
    const auto pop = static_cast<uint32_t>(c_.ins.size());
    emit(Op::PopFrame, p, site, 0).a = static_cast<uint32_t>(site);
    c_.ins[begin].b = head;
    c_.ins[begin].c = end;
    c_.ins[begin].d = pop;
    pos = p;
    return true;
}

void destroy(Code* code) {
    for (size_t i = 1; i < code->blocks.size(); i++) release(code->blocks[i].ref);
    delete code;
}

}  // namespace

void compile(const Cell& blk, Code& code) {
    code.kind = Kind::Compiled;
    code.stale = false;
    code.start = series_index(blk);
    code.home = 0;
    code.loops = 0;
    Block b{};
    b.cell = blk;
    b.code = series::buffer_of(series_node(blk))->code;
    b.ref = &code;
    b.seen = block_code::generation - 1;
    // Room for the usual shapes at once: most blocks are small, and made
    // code of a block that is run only a few times should cost little.
    const uint32_t cells = series::cell_count(series_node(blk)) - series_index(blk);
    code.ins.reserve(2 * cells + 4);
    code.sites.reserve(cells / 2 + 2);
    code.blocks.reserve(4);
    code.blocks.push_back(b);
    Compiler c(code);
    c.block(0, 0);
    code.blocks[0].end = static_cast<uint32_t>(code.ins.size());
    Ins r{};
    r.op = Op::Return;
    code.ins.push_back(r);
    for (Site& s : code.sites) {
        s.list = code.pool.data() + s.list_at;
        s.rest = code.pool.data() + s.rest_at;
        s.path = code.pool.data() + s.path_at;
    }
}

bool runs_loop(const Cell& blk) {
    const node_t n = series_node(blk);
    const uint32_t tail = series::cell_count(n);
    for (uint32_t i = series_index(blk); i < tail; i++) {
        const Cell* w = cells_of(n) + i;
        if (cell::type_of(w) != TYPE_WORD) continue;
        const Cell* v = lookup::peek(w);
        if (!v || cell::type_of(v) != TYPE_NATIVE) continue;
        const natives::Entry* e = natives::entry_of(static_cast<int32_t>(native_index(*v)));
        if (e && (e->fn == &natives::native_while || e->fn == &natives::native_until ||
                  e->fn == &natives::native_loop || e->fn == &natives::native_forever ||
                  e->fn == &natives::native_repeat || e->fn == &natives::native_foreach))
            return true;
    }
    return false;
}

void free_code(Code* code) {
    code->dead = true;
    if (!code->running && !code->refs) destroy(code);
}

void end_run(Code* code) {
    code->running--;
    if (code->dead && !code->running && !code->refs) destroy(code);
}

void release(Code* code) {
    if (code->refs) code->refs--;
    if (code->dead && !code->running && !code->refs) destroy(code);
}

Code* remake(const Cell& blk, Code* code) {
    const uint32_t remade = code->remade + 1;
    if (code->running || code->refs) {
        code = new Code;
        block_code::attach(series_node(blk), code);
    } else {
        for (size_t i = 1; i < code->blocks.size(); i++) release(code->blocks[i].ref);
        code->ins.clear();
        code->sites.clear();
        code->blocks.clear();
        code->pool.clear();
    }
    code->remade = remade;
    if (remade > 4) {
        code->kind = Kind::Never;
        return code;
    }
    compile(blk, *code);
    return code;
}

}  // namespace qel::compile
