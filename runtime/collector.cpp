// The collector: marking from the roots, the owner-table pruning,
// compaction of series frames, the big-frame sweep and node freeing, with
// node compaction before marking when a settled, sparse node frame can be
// emptied.
//
// Marking never moves anything, so it works on raw addresses; it keeps a
// work list of cell series still to scan instead of recursing, so deep
// data cannot exhaust the machine stack.
#include "runtime/collector.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <algorithm>
#include <vector>

#include "runtime/block_code.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/rawtab.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::collector {

uint32_t cycles = 0;

namespace {
// Node frames with a serial below it keep their nodes where they are.
uint32_t renumber_floor = 0;
bool may_move_nodes_of(const NodeFrame* f) { return f->serial >= renumber_floor; }
}  // namespace

RenumberRegion::RenumberRegion() : saved_(renumber_floor) { renumber_floor = memory::node_frames_made; }
RenumberRegion::~RenumberRegion() { renumber_floor = saved_; }
uint32_t node_compactions = 0;
uint32_t running = 0;
uint32_t window = 5;
bool stress = false;

namespace {

constexpr uint32_t CELL_UNIT = sizeof(Cell);
constexpr uint32_t ENTRY_IN_USE = TYPE_UNSET;  // hash entry header word of a live entry
constexpr uint32_t EVACUATE_BELOW = 5000;      // used nodes of a frame worth emptying
constexpr uint32_t FREE_NODES_NEEDED = 10000;  // free nodes elsewhere before emptying one
constexpr uintptr_t POISONED_SLOT = 1;  // tagged like a free slot, on no free list

rawtab::Table* remap = nullptr;
std::vector<node_t> work;
std::vector<MarkCallback> callbacks;
node_t recent[RECENT];
uint32_t recent_at = 0;

SeriesBuffer* buffer(node_t n) { return series::buffer_of(n); }

bool is_cells(const SeriesBuffer* s) { return series::unit(s) == CELL_UNIT; }

// What a payload word holding a node id names: how the marker follows it
// and what the stress check expects to find behind it.
enum class Holds { ANY, CELLS, CONTEXT, HASHTAB };

struct NodeWord {
    node_t* node;
    Holds kind;
};

struct NodeWords {
    NodeWord at[3];
    uint32_t count = 0;

    NodeWords() = default;
    NodeWords(std::initializer_list<NodeWord> words) {
        for (const NodeWord& w : words) at[count++] = w;
    }
};

// The payload words of c that hold node ids, for every type whose layout
// alone says which they are.
NodeWords node_words(Cell* c) {
    switch (cell::type_of(c)) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH: return {{&series_node(c), Holds::CELLS}};
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BITSET:
        case TYPE_VECTOR:
        case TYPE_IMAGE:
        case TYPE_BINARY: return {{&series_node(c), Holds::ANY}};
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            if (!word_context(c)) return {};
            // An object's own self word is bound to the object's context series.
            return {{&word_context(c), symbol::canonical(word_symbol(c)) == symbol::canonical(words::sym_self)
                                           ? Holds::CELLS
                                           : Holds::CONTEXT}};
        case TYPE_OBJECT:
        case TYPE_ERROR:
        case TYPE_PORT: return {{&object_context(c), Holds::CONTEXT}, {&object_on_set(c), Holds::CELLS}};
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
            return {{&function_context(c), Holds::CONTEXT},
                    {&function_spec(c), Holds::CELLS},
                    {&function_body(c), Holds::CELLS}};
        case TYPE_NATIVE:
        case TYPE_ACTION: return {{&native_spec(c), Holds::CELLS}, {&native_info(c), Holds::CELLS}};
        case TYPE_HASH:
        case TYPE_MAP: return {{&series_node(c), Holds::CELLS}, {&hash_index_node(c), Holds::HASHTAB}};
        default: return {};
    }
}

void mark_cell(Cell* c);

void drain() {
    while (!work.empty()) {
        const node_t n = work.back();
        work.pop_back();
        SeriesBuffer* s = buffer(n);
        Cell* from = series::head_cell(s);
        Cell* to = series::tail_cell(s);
        for (Cell* c = from; c < to; ++c) mark_cell(c);
    }
}

void follow(node_t* n, Holds kind) {
    switch (kind) {
        case Holds::ANY: mark_node(n); break;
        case Holds::CELLS: mark_series(n); break;
        case Holds::CONTEXT: mark_context(n); break;
        case Holds::HASHTAB: mark_hashtab(n); break;
    }
}

void mark_cell(Cell* c) {
    const NodeWords words = node_words(c);
    for (uint32_t i = 0; i < words.count; i++) follow(words.at[i].node, words.at[i].kind);
    // The types whose node words depend on more than the type: the stress
    // check leaves these alone.
    switch (cell::type_of(c)) {
        case TYPE_SYMBOL:
            mark_node(&symbol_form_node(c));
            mark_node(&symbol_name_node(c));
            break;
        case TYPE_CONTEXT:
            mark_hashtab(&context_words(c));
            if (!context::has_stack_values(c)) mark_series(&context_values(c));
            break;
        case TYPE_OP: {
            // The payload is the inner function's: words 2 and 3 name the
            // spec and the body or info record for every inner type.
            const uint32_t inner = op_inner_type(c);
            if (inner == TYPE_FUNCTION || inner == TYPE_ROUTINE) mark_context(&function_context(c));
            mark_series(&function_spec(c));
            mark_series(&function_body(c));
            break;
        }
        default: break;
    }
}

node_t remapped(node_t n) {
    if (remap)
        if (const uint32_t* v = rawtab::get(remap, n)) return *v;
    return n;
}

// ---- roots ------------------------------------------------------------------------

void mark_recent() {
    for (node_t& n : recent) {
        if (!n) continue;
        n = remapped(n);
        const SeriesBuffer* s = memory::live_buffer(n);
        if (!s) {
            n = 0;
            continue;
        }
        if (is_cells(s)) mark_series(&n);
        else mark_node(&n);
    }
}

// ---- stress check -----------------------------------------------------------------

// Under stress, once the roots are marked: every cell in use on the argument
// stack names live buffers of the kinds its type says. Such a cell was
// marked by the last collection or written since, and the cells above the
// top are blanked at each collection, so a dead or foreign node there is a
// node id that C++ code kept across a collection, or a cell it filled only
// in part. A later collection would follow it into whatever buffer has the
// id by then; the process ends here instead, with a report.
bool holds(node_t n, Holds kind) {
    if (!n) return true;
    const SeriesBuffer* s = memory::live_buffer(n);
    if (!s) return false;
    if (kind == Holds::ANY || kind == Holds::HASHTAB) return true;
    if (!is_cells(s)) return false;
    return kind == Holds::CELLS ||
           (s->tail > s->head && cell::type_of(series::head_cell(const_cast<SeriesBuffer*>(s))) == TYPE_CONTEXT);
}

// Only the words the layout table names are checked; symbols, contexts and
// ops are taken as they are.
bool sound(Cell* c) {
    const NodeWords words = node_words(c);
    for (uint32_t i = 0; i < words.count; i++)
        if (!holds(*words.at[i].node, words.at[i].kind)) return false;
    return true;
}

void check_stack_cells() {
    if (!stack::ready()) return;
    for (Cell* c = stack::arg_bottom; c < stack::arg_top; ++c) {
        if (sound(c)) continue;
        char report[120];
        std::snprintf(report, sizeof report,
                      "*** Collector check: argument stack cell %u of type %u names a stale node\n",
                      static_cast<uint32_t>(c - stack::arg_bottom), cell::type_of(c));
        std::fputs(report, stderr);
        std::abort();
    }
}

void mark_roots() {
    mark_series(&series_node(root_cell));
    mark_hashtab(&symbol::index);
    mark_hashtab(&owner::table);
    const stack::Marker marker{&mark_context, &mark_series, &mark_cells};
    stack::mark_gc(marker);
    mark_context(&context::global);
    for (MarkCallback fn : callbacks) fn(marker);
    if (!stress) mark_recent();
    drain();
    if (stress) check_stack_cells();
}

// ---- owner table ---------------------------------------------------------------

bool is_marked(node_t n) { return n && (buffer(n)->flags & series_flag::MARK); }

// Entries hold their owner objects weakly: an entry whose owner died goes.
// The entries' cells are not visited while marking, so their nodes are
// renumbered here; the keys were, so entries are found by bucket, not by
// hashing a key that may have changed.
bool owner_died(Cell* values) {
    Cell* owner_cell = owner::entry_owner(values);
    Cell* field = owner::entry_field(values);
    object_context(owner_cell) = remapped(object_context(owner_cell));
    if (object_on_set(owner_cell)) object_on_set(owner_cell) = remapped(object_on_set(owner_cell));
    if (word_context(field)) word_context(field) = remapped(word_context(field));
    return !is_marked(object_context(owner_cell));
}

void prune_owners() {
    if (owner::table && hashtab::record(owner::table)->aux) hashtab::remove_entries_if(owner::table, &owner_died);
}

// ---- node compaction -----------------------------------------------------------

// Which slots hold no buffer: the free ones, and those a stress
// renumbering poisoned.
std::vector<bool> free_slots_of(const NodeFrame* f) {
    std::vector<bool> is_free(f->nodes, false);
    const node_t base = f->number << node_table::SLOT_BITS;
    for (node_t n = f->free_head; n; n = next_free(f->slots[n - base])) is_free[n - base] = true;
    for (uint32_t i = 0; i < f->nodes; i++)
        if (!names_buffer(f->slots[i])) is_free[i] = true;
    return is_free;
}

// A frame holding the node of a buffer outside the frames (the root
// block, the stacks) is left alone: start-up code keeps those node ids.
bool movable_frame(const NodeFrame* f, const std::vector<bool>& is_free) {
    for (uint32_t i = 0; i < f->nodes; i++) {
        if (is_free[i]) continue;
        const auto* b = reinterpret_cast<const SeriesBuffer*>(f->slots[i]);
        if (b && (b->flags & series_flag::FIXED)) return false;
    }
    return true;
}

void move_node(NodeFrame* from, uint32_t i, NodeFrame* to) {
    const node_t old_id = (from->number << node_table::SLOT_BITS) + i;
    auto* b = reinterpret_cast<SeriesBuffer*>(from->slots[i]);
    const node_t fresh = to->free_head;
    uintptr_t& slot = to->slots[fresh & node_table::SLOT_MASK];
    to->free_head = next_free(slot);
    slot = reinterpret_cast<uintptr_t>(b);
    to->used++;
    // The old id is poisoned rather than freed: any reference the
    // renumbering missed faults at its first use instead of reaching
    // another buffer later.
    from->slots[i] = POISONED_SLOT;
    from->used--;
    if (!remap) remap = rawtab::make(20000);
    rawtab::put(remap, old_id, fresh);
    if (b->node == old_id) b->node = fresh;
}

// Under stress, now and then every node but those of the fixed buffers (and
// those a renumbering region keeps) moves to a fresh frame, so that
// renumbering is met all the time.
void stress_renumber() {
    block_code::drop_all();
    // Every movable node moves, into as many new frames as they fill.
    std::vector<NodeFrame*> made{memory::new_node_frame(memory::NODES_PER_FRAME)};
    auto is_new = [&](const NodeFrame* f) { return std::find(made.begin(), made.end(), f) != made.end(); };
    for (NodeFrame* f = memory_record.n_head; f; f = f->next) {
        if (f->emptied || is_new(f) || !may_move_nodes_of(f)) continue;
        const std::vector<bool> is_free = free_slots_of(f);
        for (uint32_t i = 0; i < f->nodes; i++) {
            if (is_free[i]) continue;
            const auto* b = reinterpret_cast<const SeriesBuffer*>(f->slots[i]);
            if (!b || (b->flags & series_flag::FIXED)) continue;
            if (!made.back()->free_head) made.push_back(memory::new_node_frame(memory::NODES_PER_FRAME));
            move_node(f, i, made.back());
        }
        if (f->used == 0) f->emptied = 1;
    }
    node_compactions++;
    ++memory::generation;
}

// With dry set, only whether a frame would be emptied.
bool compact_nodes(bool dry) {
    if (hashtab::rebuilding) return false;
    if (stress && !dry) {
        stress_renumber();
        return true;
    }
    NodeFrame* current = nullptr;
    uint64_t free_count = 0;
    for (NodeFrame* f = memory_record.n_head; f; f = f->next) {
        if (f->emptied || !f->free_head) continue;
        if (!current) current = f;
        free_count += f->nodes - f->used;
    }
    if (!current) return false;
    const uint32_t settled = (2u << window) - 1;
    std::vector<NodeFrame*> received;
    auto has_received = [&](const NodeFrame* f) {
        for (const NodeFrame* r : received)
            if (r == f) return true;
        return false;
    };
    bool moved_any = false;
    for (NodeFrame* f = memory_record.n_tail; f; f = f->prev) {
        if (f == current || f->emptied || f->used == 0 || has_received(f) || !may_move_nodes_of(f)) continue;
        const uint64_t own_free = f->free_head ? f->nodes - f->used : 0;
        if (free_count - own_free < f->used) continue;
        const bool settled_frame = (f->history & settled) == settled;
        if (!stress && !(settled_frame && f->used < EVACUATE_BELOW && free_count > FREE_NODES_NEEDED)) continue;
        const std::vector<bool> is_free = free_slots_of(f);
        if (!movable_frame(f, is_free)) continue;
        if (dry) return true;
        // Code objects are found by node id.
        if (!moved_any) block_code::drop_all();
        for (uint32_t i = 0; i < f->nodes; i++) {
            if (is_free[i] || !f->slots[i]) continue;
            while (!current->free_head || current->emptied || current == f) {
                current = current->next ? current->next : memory_record.n_head;
            }
            if (!has_received(current)) received.push_back(current);
            move_node(f, i, current);
            free_count--;
        }
        f->emptied = 1;
        free_count -= own_free;
        moved_any = true;
    }
    if (moved_any) {
        node_compactions++;
        ++memory::generation;
    }
    return moved_any;
}

node_t remap_one(node_t n) { return remapped(n); }

// ---- series frames -------------------------------------------------------------

void vacate(uint8_t* from, uint8_t* to) {
    if (stress && from < to) std::memset(from, 0xDB, static_cast<size_t>(to - from));
}

void free_dead_node(SeriesBuffer* s) {
    if (s->node && (s->flags & series_flag::IN_USE) && buffer(s->node) == s)
        memory::free_node(memory::frame_of_node(s->node), s->node);
}

void move_buffer(SeriesBuffer* s, uint8_t* to, uint32_t total) {
    std::memmove(to, s, total);
    auto* moved = reinterpret_cast<SeriesBuffer*>(to);
    if (moved->node && buffer(moved->node) == s) series::set_buffer(moved->node, moved);
}

void compact_frames() {
    SeriesFrame* f = memory_record.s_head;
    SeriesFrame* prev = nullptr;
    bool moved_any = false;
    while (f) {
        SeriesFrame* next = f->next;
        uint8_t* p = f->data();
        uint8_t* const end = f->free;
        uint8_t* dest = nullptr;  // first vacated byte of this frame
        while (p < end) {
            auto* s = reinterpret_cast<SeriesBuffer*>(p);
            const uint32_t total = memory::BUFFER_OVERHEAD + s->size;
            if (!(s->flags & series_flag::MARK)) {
                free_dead_node(s);
                if (!dest) dest = p;
                p += total;
                continue;
            }
            // A run of survivors: into the preceding frame while it has
            // room to spare, else down to the first vacated byte.
            bool into_prev = prev && static_cast<size_t>(prev->end - prev->free) > memory::MIN_FREE_AFTER_GC;
            while (p < end) {
                s = reinterpret_cast<SeriesBuffer*>(p);
                if (!(s->flags & series_flag::MARK)) break;
                const uint32_t size = memory::BUFFER_OVERHEAD + s->size;
                s->flags &= ~series_flag::MARK;
                if (into_prev && static_cast<size_t>(prev->end - prev->free) >= size) {
                    move_buffer(s, prev->free, size);
                    prev->free += size;
                    if (!dest) dest = p;
                    moved_any = true;
                } else {
                    into_prev = false;
                    if (dest) {
                        move_buffer(s, dest, size);
                        dest += size;
                        moved_any = true;
                    }
                }
                p += size;
            }
        }
        if (dest) {
            vacate(dest, end);
            f->free = dest;
        }
        if (f->free == f->data() && next) {
            memory::free_series_frame(f);
        } else {
            prev = f;
        }
        f = next;
    }
    if (moved_any) ++memory::generation;
}

std::vector<SeriesBuffer*> fixed_marked;

}  // namespace

// ---- marking -------------------------------------------------------------------

bool mark_node(node_t* np) {
    node_t n = *np;
    if (!n) return false;
    if (remap) {
        if (const uint32_t* v = rawtab::get(remap, n)) {
            n = *v;
            *np = n;
        }
    }
    // A cell that names a node freed since, or one that renumbering
    // retired, is not followed.
    SeriesBuffer* s = memory::live_buffer(n);
    if (!s || (s->flags & series_flag::MARK)) return false;
    s->flags |= series_flag::MARK;
    if (s->flags & series_flag::FIXED) fixed_marked.push_back(s);
    return true;
}

void mark_series(node_t* np) {
    if (mark_node(np) && is_cells(buffer(*np))) work.push_back(*np);
}

void mark_cells(Cell* from, Cell* to) {
    for (Cell* c = from; c < to; ++c) mark_cell(c);
    drain();
}

void mark_context(node_t* np) {
    if (!mark_node(np)) return;
    Cell* cells = series::cells_of(*np);
    mark_hashtab(&context_words(cells[0]));
    if (!context::has_stack_values(&cells[0])) mark_series(&context_values(cells[0]));
    mark_cell(&cells[1]);
}

void mark_hashtab(node_t* np) {
    if (!mark_node(np)) return;
    hashtab::Record* r = hashtab::record(*np);
    switch (r->kind) {
        case hashtab::Kind::HASH:
            mark_node(&r->aux);
            if (mark_node(&r->chains)) {
                SeriesBuffer* s = buffer(r->chains);
                auto* chain = reinterpret_cast<uint32_t*>(series::head_ptr(s));
                const uint32_t count = (s->tail - s->head) / 4;
                for (uint32_t i = 0; i < count; i++) mark_node(&chain[i]);
            }
            [[fallthrough]];
        case hashtab::Kind::MAP:
        case hashtab::Kind::WORDS:
            mark_node(&r->flags);
            mark_node(&r->keys);
            mark_node(&r->hashes);
            mark_series(&r->series);
            break;
        case hashtab::Kind::SCRATCH:
        case hashtab::Kind::OWNERS: {
            mark_node(&r->flags);
            mark_node(&r->keys);
            mark_node(&r->series);
            if (!r->series || !r->aux) break;
            SeriesBuffer* s = buffer(r->series);
            for (uint32_t off = 0; off + r->aux <= s->tail - s->head; off += r->aux) {
                Cell* e = reinterpret_cast<Cell*>(series::head_ptr(s) + off);
                if (e->header != ENTRY_IN_USE) continue;
                mark_series(&hashtab::entry_key(e));
            }
            break;
        }
        default: break;
    }
}

// ---- collection ------------------------------------------------------------------

bool nodes_due = false;

// A collection; node compaction only where no C++ code holds node ids
// outside the collector's sight.
void run_collection(bool may_renumber) {
    if (running) return;
    running = 1;
    hashtab::collector_running = 1;
    if (may_renumber) compact_nodes(false);
    mark_roots();
    if (remap) cycles::remap(&remap_one);
    prune_owners();
    compact_frames();
    memory::sweep_big_frames();
    memory::sweep_node_frames();
    block_code::sweep();
    if (remap) {
        rawtab::free(remap);
        remap = nullptr;
    }
    for (SeriesBuffer* s : fixed_marked) s->flags &= ~series_flag::MARK;
    fixed_marked.clear();
    cycles++;
    memory::live_after_collection = memory_in_use();
    nodes_due = compact_nodes(true);
    hashtab::collector_running = 0;
    running = 0;
}

void collect() { run_collection(false); }

void safe_point() {
    if (!collector_enabled || running) return;
    if (stress || nodes_due) run_collection(true);
}

void request() {
    if (collector_enabled && !running) collect();
}

void allocated(node_t n) {
    recent[recent_at] = n;
    recent_at = (recent_at + 1) % RECENT;
}

void forget_recent() {
    for (node_t& n : recent) n = 0;
}

void before_allocation() {
    if (stress && collector_enabled && !running) collect();
}

void add_mark_callback(MarkCallback fn) {
    for (MarkCallback c : callbacks)
        if (c == fn) return;
    callbacks.push_back(fn);
}

// ---- statistics ----------------------------------------------------------------

uint64_t memory_in_use() {
    uint64_t total = 0;
    for (NodeFrame* f = memory_record.n_head; f; f = f->next) total += uint64_t(f->used) * sizeof(uintptr_t);
    for (SeriesFrame* f = memory_record.s_head; f; f = f->next) total += static_cast<uint64_t>(f->free - f->data());
    for (BigFrame* f = memory_record.b_head; f; f = f->next) total += f->size;
    return total;
}

namespace {

void append_figure(Cell* block, uint64_t v) {
    Cell c{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0};
    if (v > 2147483647u) {
        c.header = TYPE_FLOAT;
        cell::put_double(&c, static_cast<double>(v));
    }
    *series::reserve_cell(block) = c;
}

}  // namespace

void memory_blocks(Cell* out) {
    // The walk reads frames while it allocates the answer: no collection
    // may move them meanwhile.
    const uint32_t saved = collector_enabled;
    const bool saved_stress = stress;
    collector_enabled = 0;
    stress = false;
    *out = Cell{TYPE_BLOCK, 0, memory::alloc_cells(5), 0};
    for (int part = 0; part < 3; part++) {
        Cell* sub = stack::push(&shared::none);
        *sub = Cell{TYPE_BLOCK, 0, memory::alloc_cells(8), 0};
        if (part == 0) {
            for (NodeFrame* f = memory_record.n_head; f; f = f->next) {
                Cell* row = stack::push(&shared::none);
                *row = Cell{TYPE_BLOCK, 0, memory::alloc_cells(3), 0};
                append_figure(row, f->nodes - f->used);
                append_figure(row, f->used);
                append_figure(row, f->nodes);
                *series::reserve_cell(sub) = *row;
                stack::pop_n(1);
            }
        } else if (part == 1) {
            for (SeriesFrame* f = memory_record.s_head; f; f = f->next) {
                Cell* row = stack::push(&shared::none);
                *row = Cell{TYPE_BLOCK, 0, memory::alloc_cells(3), 0};
                append_figure(row, static_cast<uint64_t>(f->end - f->free));
                append_figure(row, static_cast<uint64_t>(f->free - f->data()));
                append_figure(row, static_cast<uint64_t>(f->end - f->data()));
                *series::reserve_cell(sub) = *row;
                stack::pop_n(1);
            }
        } else {
            for (BigFrame* f = memory_record.b_head; f; f = f->next) append_figure(sub, f->size);
        }
        Cell* added = series::reserve_cell(out);
        *added = *sub;
        added->header |= cell_flag::NEW_LINE;
        stack::pop_n(1);
    }
    collector_enabled = saved;
    stress = saved_stress;
}

}  // namespace qel::collector
