// QELBIN reader: an image back into values, for user data (codec mode)
// and for the boot image (boot mode).
//
// The input is copied first, so it cannot move while values are made. The
// collector is held off for the length of a decode: half-built functions
// and objects need not look valid to it, and the values made are bounded
// by the input's size. Buffers still move when a series grows, so every
// cell is reached through its node and an index, never kept as a pointer
// across an allocation. Sizes read from the data are checked against the
// bytes that remain before anything is allocated for them.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/qelbin.hpp"
#include "codecs/lz.hpp"
#include "datatypes/date.hpp"
#include "datatypes/function.hpp"
#include "datatypes/image.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/vector.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::qelbin {

namespace {

bool is_function_like(uint32_t t) { return t >= TYPE_NATIVE && t <= TYPE_FUNCTION; }

struct CollectorOff {
    uint32_t saved = collector_enabled;
    CollectorOff() { collector_enabled = 0; }
    ~CollectorOff() { collector_enabled = saved; }
};

Cell& cell_at(node_t n, uint32_t i) { return series::cells_of(n)[i]; }

// The context a word, object!, error! or function! value names (an op!
// through the function it stands for); 0 for any other value.
node_t context_of(const Cell& c) {
    const uint32_t t = cell::type_of(&c);
    if (t == TYPE_OBJECT || t == TYPE_ERROR) return object_context(c);
    if (t == TYPE_FUNCTION) return function_context(c);
    if (t == TYPE_OP) return op_inner_type(c) == TYPE_FUNCTION ? function_context(c) : 0;
    if (is_word_or_refinement(t)) return word_context(c);
    return 0;
}

// The cells a block record met again shares: a series' own buffer, or the
// spec block of a function value.
node_t shared_node(const Cell& c) {
    const uint32_t t = cell::type_of(&c);
    if (t == TYPE_FUNCTION || (t == TYPE_OP && op_inner_type(c) == TYPE_FUNCTION)) return function_spec(c);
    if (is_function_like(t)) return native_spec(c);
    return series_node(c);
}

class Reader {
public:
    Reader(const uint8_t* start, const uint8_t* records, const uint8_t* end, bool compact, bool boot, Cell* container)
        : start_(start), p_(records), end_(end), compact_(compact), boot_(boot), container_(container) {}

    void symbols(const uint8_t* offsets, uint32_t count, const uint8_t* area, uint32_t size) {
        offsets_ = offsets;
        sym_count_ = count;
        area_ = area;
        area_size_ = size;
    }
    void run();

private:
    const uint8_t* start_;
    const uint8_t* p_;
    const uint8_t* end_;
    bool compact_, boot_;
    Cell* container_;
    uint32_t base_ = 0;
    const uint8_t* offsets_ = nullptr;
    uint32_t sym_count_ = 0;
    const uint8_t* area_ = nullptr;
    uint32_t area_size_ = 0;
    uint32_t depth_ = 0;
    // Per symbol-table entry: its symbol id (0 until first met) and the
    // word of the global context that carries it (word_index -1 until
    // first met); neither changes while the image is read.
    std::vector<int32_t> sym_ids_;
    std::vector<Cell> global_words_;

    [[noreturn]] void bad(const uint8_t* at) {
        const Cell pos{TYPE_INTEGER, 0, static_cast<uint32_t>(at - start_ + 1), 0};
        err::raise(err::QB_INVALID_RECORD, &pos);
    }
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    void need(size_t n) {
        if (left() < n) bad(p_ < end_ ? p_ : end_);
    }
    uint8_t byte() {
        need(1);
        return *p_++;
    }
    uint32_t u32() {
        need(4);
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v |= static_cast<uint32_t>(p_[i]) << (8 * i);
        p_ += 4;
        return v;
    }
    uint32_t varint() {
        const uint8_t* at = p_;
        uint32_t v = 0;
        for (int i = 0; i < 5; i++) {
            const uint8_t b = byte();
            if (i == 4 && b >= 0x10) bad(at);
            v |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        bad(at);
    }
    int32_t zigzag() {
        const uint32_t v = varint();
        return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1)));
    }
    uint32_t num() { return compact_ ? varint() : u32(); }
    int32_t snum() { return compact_ ? zigzag() : static_cast<int32_t>(u32()); }
    // A count of records that follow: each takes at least one byte (four
    // in fixed mode), so a larger count cannot be honest.
    uint32_t count(const uint8_t* at, uint32_t n) {
        if (static_cast<uint64_t>(n) * (compact_ ? 1 : 4) > left()) bad(at);
        return n;
    }
    void skip_pad() {
        while (static_cast<size_t>(p_ - start_) % 4) byte();
    }
    // An index into the image's symbol table, checked.
    uint32_t symbol_index() {
        const uint8_t* at = p_;
        const uint32_t i = num();
        if (i >= sym_count_) bad(at);
        if (sym_ids_.empty()) sym_ids_.assign(sym_count_, 0);
        if (!sym_ids_[i]) sym_ids_[i] = intern_entry(i, at);
        return i;
    }
    int32_t symbol() { return sym_ids_[symbol_index()]; }
    // Entry i of the symbol table, interned: each entry once per image, as
    // most words of an image repeat a few names.
    int32_t intern_entry(uint32_t i, const uint8_t* at) {
        const uint32_t off = uint32_t(offsets_[4 * i]) | uint32_t(offsets_[4 * i + 1]) << 8 | uint32_t(offsets_[4 * i + 2]) << 16 |
              uint32_t(offsets_[4 * i + 3]) << 24;
        if (off >= area_size_) bad(at);
        const char* name = reinterpret_cast<const char*>(area_ + off);
        const size_t len = std::strlen(name);  // the area ends with a zero byte
        if (len == 0) bad(at);
        return symbol::intern(name, len);
    }

    void record(node_t n, uint32_t i);
    void fixed_record(node_t n, uint32_t i, const uint8_t* rec);
    Cell path(const uint8_t* rec, bool fixed_header_read);
    void series_ref(node_t n, uint32_t i, uint32_t t, uint32_t head, const uint8_t* rec);
    void block_contents(node_t n, uint32_t i, uint32_t t, uint32_t head, const uint8_t* rec);
    void string_contents(node_t n, uint32_t i, uint32_t t, uint32_t head, uint32_t width_code, uint32_t units,
                         const uint8_t* rec);
    node_t context_record(node_t n, uint32_t i, const uint8_t* rec, bool standalone, bool fixed_header);
    void object_payload(node_t n, uint32_t i, bool handlers, const uint8_t* rec);
    void function_payload(node_t n, uint32_t i, const uint8_t* rec);
    node_t inner_block(node_t n, uint32_t i, uint32_t which, const uint8_t* rec);
    void word_record(node_t n, uint32_t i, uint32_t t, bool s, bool ref, bool global_bit, const uint8_t* rec);
    void native_record(node_t n, uint32_t i, uint32_t t, const uint8_t* rec);
    void payload(node_t n, uint32_t i, uint32_t t, bool s, bool ref, uint32_t fixed_header, const uint8_t* rec);
};

// The value a path designates, walking over what has been decoded.
Cell Reader::path(const uint8_t* rec, bool fixed_header_read) {
    const uint8_t* at = p_;
    if (!compact_ && !fixed_header_read && u32() != 0xFF) bad(at);
    const uint32_t len = num();
    if (len == 0 || len > 65536) bad(at);
    count(at, len);
    std::vector<uint32_t> idx(len);
    for (uint32_t k = 0; k < len; k++) idx[k] = num();
    const node_t root = series_node(container_);
    if (idx[0] >= series::cell_count(root) - base_) bad(at);
    Cell cur = cell_at(root, base_ + idx[0]);
    for (uint32_t k = 1; k < len; k++) {
        const uint32_t x = idx[k];
        uint32_t t = cell::type_of(&cur);
        Cell* next = nullptr;
        const node_t bound = is_word_or_refinement(t) ? word_context(cur) : 0;
        if (bound && context::has_stack_values(context::cell_of(bound))) {
            cur = *context::self_of(bound);
            t = cell::type_of(&cur);
            if (t != TYPE_FUNCTION) bad(at);
        }
        if (is_block_like(t) || t == TYPE_MAP) {
            if (x >= series::cell_count(series_node(cur))) bad(at);
            next = &cell_at(series_node(cur), x);
        } else if (t == TYPE_OBJECT || is_word_or_refinement(t)) {
            if (!context_of(cur)) bad(at);
            next = context::slot_at(context_of(cur), x);
        } else if (t == TYPE_ERROR) {
            if (!context_of(cur) || x >= 6) bad(at);
            next = context::slot_at(context_of(cur), err::F_ARG1 + x);
        } else if (t == TYPE_NATIVE || t == TYPE_ACTION) {
            if (x >= series::cell_count(native_spec(cur))) bad(at);
            next = &cell_at(native_spec(cur), x);
        } else if (t == TYPE_FUNCTION || t == TYPE_OP) {
            const uint32_t inner = t == TYPE_OP ? op_inner_type(cur) : TYPE_FUNCTION;
            Cell block;
            if (x == 0) block = Cell{TYPE_BLOCK, 0, shared_node(cur), 0};
            else if (x == 1 && inner == TYPE_FUNCTION) block = cell_at(function_body(cur), 0);
            else bad(at);
            if (!is_block_record(cell::type_of(&block))) bad(at);
            cur = block;
            continue;
        } else {
            bad(at);
        }
        if (!next) bad(at);
        cur = *next;
    }
    return cur;
}

void Reader::series_ref(node_t n, uint32_t i, uint32_t t, uint32_t head, const uint8_t* rec) {
    Cell c = path(rec, false);
    const uint32_t ct = cell::type_of(&c);
    // The shared buffer must hold units of the kind the record stands for.
    const node_t shared = shared_node(c);
    bool ok;
    if (is_block_record(t)) ok = (is_block_record(ct) || is_function_like(ct)) && shared;
    else if (t == TYPE_BINARY)
        ok = (ct == TYPE_BINARY || is_string_record(ct)) && series::unit(series::buffer_of(shared)) == 1;
    else if (is_string_record(t)) ok = is_string_record(ct);
    else if (t == TYPE_VECTOR) ok = ct == TYPE_VECTOR;
    else ok = ct == TYPE_BITSET;
    if (!ok) bad(rec);
    if (is_block_record(t) && series::unit(series::buffer_of(shared)) != sizeof(Cell)) bad(rec);
    if (head > series::buffer_length(shared)) bad(rec);
    Cell& slot = cell_at(n, i);
    // A vector keeps the element layout of the buffer it shares.
    slot = Cell{t, head, shared, t == TYPE_VECTOR ? vector::element_type(c) : 0};
}

void Reader::block_contents(node_t n, uint32_t i, uint32_t t, uint32_t head, const uint8_t* rec) {
    const uint8_t* at_count = p_;
    const uint32_t cnt = count(at_count, num());
    if (head > cnt) bad(rec);
    const node_t b = memory::alloc_cells(cnt ? cnt : 1);
    cell_at(n, i) = Cell{t, head, b, 0};
    for (uint32_t k = 0; k < cnt; k++) {
        series::reserve_cell(series::buffer_of(b));
        record(b, k);
    }
}

void Reader::string_contents(node_t n, uint32_t i, uint32_t t, uint32_t head, uint32_t width_code, uint32_t units,
                             const uint8_t* rec) {
    if (width_code > 2) bad(rec);
    const uint32_t width = 1u << width_code;
    const uint64_t size = uint64_t(units) * width;
    if (size > left() || head > units) bad(rec);
    if (width == 4)
        for (uint32_t k = 0; k < units; k++) {
            const uint32_t cp = uint32_t(p_[4 * k]) | uint32_t(p_[4 * k + 1]) << 8 | uint32_t(p_[4 * k + 2]) << 16 |
                                uint32_t(p_[4 * k + 3]) << 24;
            if (cp > 0x10FFFF) bad(p_ + 4 * k);
        }
    const node_t s = memory::alloc_codepoints(units, width);
    SeriesBuffer* buf = series::buffer_of(s);
    std::memcpy(series::head_ptr(buf), p_, size);
    buf->tail = buf->head + static_cast<uint32_t>(size);
    p_ += size;
    if (!compact_) skip_pad();
    cell_at(n, i) = Cell{t, head, s, 0};
}

// A context! record; the slot becomes the object that owns the context.
node_t Reader::context_record(node_t n, uint32_t i, const uint8_t* rec, bool standalone, bool fixed_header) {
    uint32_t flags;
    if (compact_) {
        if (!fixed_header && byte() != TYPE_CONTEXT) bad(p_ - 1);
        flags = byte();
    } else {
        const uint8_t* at_h = p_;
        const uint32_t h = fixed_header ? 0 : u32();
        if (!fixed_header && (h & 0xFF) != TYPE_CONTEXT) bad(at_h);
        flags = ((h >> 26) & 3) | ((h >> 29) & 1) << 2 | ((h >> 28) & 1) << 3 | ((h >> 30) & 1) << 4;
    }
    const uint32_t kind = flags & 3;
    const bool on_stack = flags & 4;
    if (kind == 3 || flags > 31) bad(rec);
    if (standalone && on_stack) bad(rec);
    const uint32_t cnt = count(p_, num());
    const node_t ctx = context::make(cnt, on_stack, flags & 8, 0, static_cast<int>(kind));
    for (uint32_t k = 0; k < cnt; k++) {
        const uint8_t* at_sym = p_;
        const Cell w{TYPE_WORD, 0, static_cast<uint32_t>(symbol()), 0};
        if (context::add_symbol(ctx, &w) != static_cast<int32_t>(k)) bad(at_sym);
    }
    if (!on_stack) {
        const int32_t cls = codec || standalone ? -1 : 0;
        cell_at(n, i) = Cell{TYPE_OBJECT, ctx, static_cast<uint32_t>(cls), 0};
        *context::self_of(ctx) = cell_at(n, i);
    }
    if ((flags & 16) && !on_stack) {
        const node_t values = context_values(context::cell_of(ctx));
        for (uint32_t k = 0; k < cnt; k++) record(values, k);
    }
    return ctx;
}

void Reader::object_payload(node_t n, uint32_t i, bool handlers, const uint8_t* rec) {
    const int32_t cls = snum();
    if (handlers) {
        snum();
        snum();
    }
    const node_t ctx = context_record(n, i, rec, false, false);
    if (context::has_stack_values(context::cell_of(ctx))) bad(rec);
    Cell& slot = cell_at(n, i);
    object_class(slot) = codec ? -1 : cls;
    *context::self_of(ctx) = slot;
    if (handlers) {
        Cell* held = stack::push(&cell_at(n, i));
        object::install_handlers(held);
        cell_at(n, i) = *held;
        stack::arg_top = held;
    }
}

// The spec (which 0) or body (1) of a function being read.
node_t Reader::inner_block(node_t n, uint32_t i, uint32_t which, const uint8_t* rec) {
    const uint8_t* at_h = p_;
    bool ref = false;
    uint32_t head = 0;
    if (compact_) {
        uint8_t b = byte();
        if (b == 0xC0) b = byte();
        if (b == 0xC1) {
            ref = true;
            b = byte();
        }
        if ((b & 63) != TYPE_BLOCK) bad(at_h);
        if (b & 64) head = varint();
    } else {
        const uint32_t h = u32();
        if ((h & 0xFF) != TYPE_BLOCK) bad(at_h);
        ref = h & 0x80000;
        head = u32();
    }
    (void)head;
    const Cell fn = cell_at(n, i);
    node_t target = which == 0 ? function_spec(fn) : series_node(cell_at(function_body(fn), 0));
    if (ref) {
        const Cell c = path(rec, false);
        const uint32_t ct = cell::type_of(&c);
        if (!(is_block_record(ct) || is_function_like(ct)) || !shared_node(c) ||
            series::unit(series::buffer_of(shared_node(c))) != sizeof(Cell))
            bad(at_h);
        target = shared_node(c);
    } else {
        const uint32_t cnt = count(p_, num());
        for (uint32_t k = 0; k < cnt; k++) {
            const uint32_t pos = series::cell_count(target);
            series::reserve_cell(series::buffer_of(target));
            record(target, pos);
        }
    }
    if (which == 0) function_spec(cell_at(n, i)) = target;
    else series_node(cell_at(function_body(cell_at(n, i)), 0)) = target;
    return target;
}

void Reader::function_payload(node_t n, uint32_t i, const uint8_t* rec) {
    const uint32_t spec_cap = num();
    const uint32_t body_cap = num();
    const uint8_t* at_ctx = p_;
    const node_t ctx = context_record(n, i, rec, false, false);
    if (!context::has_stack_values(context::cell_of(ctx))) bad(at_ctx);
    // Capacities are only hints; honest data never needs more than it holds.
    auto cap = [&](uint32_t c) { return std::max<uint32_t>(1, std::min<uint32_t>(c, static_cast<uint32_t>(left()))); };
    const node_t spec = memory::alloc_cells(cap(spec_cap));
    const node_t body = memory::alloc_cells(cap(body_cap));
    const node_t rec_node = memory::alloc_unset_cells(5);
    cell_at(rec_node, 0) = Cell{TYPE_BLOCK, 0, body, 0};
    cell_at(n, i) = Cell{TYPE_FUNCTION, ctx, spec, rec_node};
    *context::self_of(ctx) = cell_at(n, i);
    inner_block(n, i, 0, rec);
    inner_block(n, i, 1, rec);
    const Cell spec_cell{TYPE_BLOCK, 0, function_spec(cell_at(n, i)), 0};
    const uint32_t attrs = function::validate_spec(&spec_cell);
    // The context must be the one the spec calls for, or calls would read
    // the wrong slots.
    const node_t check = context::make_from_spec(&spec_cell, true, false, context::FUNCTION);
    const uint32_t words = context::word_count(ctx);
    if (context::word_count(check) != words) bad(at_ctx);
    for (uint32_t k = 0; k < words; k++)
        if (symbol::canonical(word_symbol(context::word_at(check, k))) !=
            symbol::canonical(word_symbol(context::word_at(ctx, k))))
            bad(at_ctx);
    const node_t list = function::build_arg_list(&spec_cell, false);
    cell_at(function_body(cell_at(n, i)), 1) = function::arg_list_cell(list);
    cell_at(n, i).header = TYPE_FUNCTION | attrs;
    *context::self_of(ctx) = cell_at(n, i);
}

void Reader::word_record(node_t n, uint32_t i, uint32_t t, bool s, bool ref, bool global_bit, const uint8_t* rec) {
    const uint32_t entry = symbol_index();
    const int32_t sym = sym_ids_[entry];
    const bool global = compact_ ? !s : global_bit;
    if (global) {
        if (!compact_) u32();
        if (global_words_.empty()) global_words_.assign(sym_count_, Cell{TYPE_WORD, 0, 0, static_cast<uint32_t>(-1)});
        if (word_index(global_words_[entry]) < 0) global_words_[entry] = word::make_from_symbol(sym);
        Cell w = global_words_[entry];
        cell::set_type(&w, t);
        cell_at(n, i) = w;
        return;
    }
    const uint8_t* at_idx = p_;
    if (boot_ && compact_) {
        // Boot words name their context by the literal that owns it.
        const uint32_t k = varint();
        const int32_t index = zigzag();
        if (base_ + uint64_t(k) >= series::cell_count(series_node(container_))) bad(at_idx);
        const Cell& owner = cell_at(series_node(container_), base_ + k);
        const node_t ctx = context_of(owner);
        const uint32_t kt = cell::type_of(&owner);
        if (!(kt == TYPE_OBJECT || kt == TYPE_FUNCTION || is_word_or_refinement(kt)) || !ctx) bad(at_idx);
        int32_t found = index;
        if (index == -1) found = context::find_symbol(ctx, sym, true);
        if (found < 0 || static_cast<uint32_t>(found) >= context::word_count(ctx)) bad(at_idx);
        cell_at(n, i) = Cell{t, ctx, static_cast<uint32_t>(sym), static_cast<uint32_t>(found)};
        return;
    }
    const int32_t index = snum();
    node_t ctx;
    if (ref) {
        const Cell c = path(rec, false);
        const uint32_t ct = cell::type_of(&c);
        ctx = context_of(c);
        if (!(is_word_or_refinement(ct) || ct == TYPE_OBJECT || ct == TYPE_FUNCTION) || !ctx || ctx == context::global)
            bad(rec);
    } else {
        const uint8_t* at_h = p_;
        uint32_t h = compact_ ? byte() : u32();
        const uint32_t ot = compact_ ? (h & 63) : (h & 0xFF);
        if (ot == TYPE_OBJECT) object_payload(n, i, compact_ ? (h & 64) : (h & (1u << 24)), rec);
        else if (ot == TYPE_FUNCTION && (compact_ ? !(h & 64) : true)) function_payload(n, i, rec);
        else bad(at_h);
        ctx = context_of(cell_at(n, i));
    }
    if (index < 0 || static_cast<uint32_t>(index) >= context::word_count(ctx)) bad(at_idx);
    cell_at(n, i) = Cell{t, ctx, static_cast<uint32_t>(sym), static_cast<uint32_t>(index)};
}

void Reader::native_record(node_t n, uint32_t i, uint32_t t, const uint8_t* rec) {
    const uint8_t* at_idx = p_;
    const uint32_t index = num();
    const uint32_t limit = t == TYPE_NATIVE ? native::NATIVE_COUNT : datatype::ACTION_SLOTS;
    if (index < 1 || index > limit) bad(at_idx);
    const uint8_t* at_spec = p_;
    record(n, i);
    const Cell spec = cell_at(n, i);
    if (cell::type_of(&spec) != TYPE_BLOCK || series_index(spec) != 0) bad(at_spec);
    function::validate_spec(&spec);
    Cell* const top = stack::arg_top;
    const Cell made = *native::push(&spec, t, index);
    stack::arg_top = top;
    cell_at(n, i) = made;
}

void Reader::payload(node_t n, uint32_t i, uint32_t t, bool s, bool ref, uint32_t fh, const uint8_t* rec) {
    Cell& slot = cell_at(n, i);
    if (ref && !(is_block_like(t) || is_string_record(t) || t == TYPE_BITSET || t == TYPE_OBJECT ||
                 t == TYPE_FUNCTION || is_word_or_refinement(t) || t == TYPE_MAP || t == TYPE_BINARY ||
                 t == TYPE_VECTOR || t == TYPE_IMAGE))
        bad(rec);
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE: slot = Cell{t, 0, 0, 0}; return;
        case TYPE_LOGIC: {
            if (compact_) bad(rec);
            const uint32_t v = u32();
            if (v > 1) bad(rec);
            slot = Cell{t, v, 0, 0};
            return;
        }
        case TYPE_DATATYPE: {
            const uint32_t v = num();
            if (v == 0 || v > datatype::highest() || !datatype::entry(v).name) bad(rec);
            slot = Cell{t, v, 0, 0};
            return;
        }
        case TYPE_INTEGER: slot = Cell{t, 0, static_cast<uint32_t>(snum()), 0}; return;
        case TYPE_CHAR: {
            const uint32_t cp = num();
            if (cp > 0x10FFFF) bad(rec);
            slot = Cell{t, 0, cp, 0};
            return;
        }
        case TYPE_DATE: {
            const uint32_t packed = u32();
            const bool with_time = date::has_time(packed);
            const int32_t month = date::month_of(packed), day = date::day_of(packed);
            if (month < 1 || month > 12 || day < 1 || (compact_ && s != with_time)) bad(rec);
            double d = 0;
            if (with_time || !compact_) {
                const uint64_t lo = u32();
                const uint64_t hi = u32();
                const uint64_t bits = lo | hi << 32;
                std::memcpy(&d, &bits, 8);
            }
            if (!with_time) d = 0;
            Cell c{t, packed, 0, 0};
            cell::put_double(&c, d);
            cell_at(n, i) = c;
            return;
        }
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double d;
            if (compact_ && s) {
                const int32_t v = zigzag();
                d = t == TYPE_PERCENT ? v / 100.0 : static_cast<double>(v);
            } else {
                const uint64_t lo = u32();
                const uint64_t hi = u32();
                const uint64_t bits = lo | hi << 32;
                std::memcpy(&d, &bits, 8);
            }
            Cell c{t, 0, 0, 0};
            cell::put_double(&c, d);
            cell_at(n, i) = c;
            return;
        }
        case TYPE_TYPESET: {
            uint8_t bits[12] = {};
            const uint32_t len = compact_ ? byte() : 12;
            if (len > 12) bad(rec);
            need(len);
            std::memcpy(bits, p_, len);
            p_ += len;
            // The payload words as they lie in memory.
            Cell c{t, 0, 0, 0};
            for (uint32_t k = 0; k < 3; k++) std::memcpy(&payload_word(c, k), bits + 4 * k, 4);
            cell_at(n, i) = c;
            return;
        }
        case TYPE_PAIR: {
            const int32_t x = snum();
            const int32_t y = snum();
            cell_at(n, i) = Cell{t, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
            return;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            Cell c{t, 0, 0, 0};
            payload_word(c, 0) = u32();
            payload_word(c, 1) = u32();
            if (t == TYPE_POINT3D) payload_word(c, 2) = u32();
            cell_at(n, i) = c;
            return;
        }
        case TYPE_TUPLE: {
            const uint32_t len = compact_ ? (s ? byte() : 3) : (fh >> 8) & 0xFF;
            if (len < 1 || len > tuple::MAX_LENGTH) bad(rec);
            const uint32_t stored = compact_ ? len : tuple::MAX_LENGTH;
            need(stored);
            Cell c{0, 0, 0, 0};
            tuple::make_at(&c, p_, len);
            p_ += stored;
            cell_at(n, i) = c;
            return;
        }
        case TYPE_MONEY: {
            const bool negative = compact_ ? s : (fh & MONEY_NEGATIVE) != 0;
            need(MONEY_BYTES);
            Cell c{};
            money::make_at(&c, negative, p_[0], p_ + 1);
            p_ += MONEY_BYTES;
            cell_at(n, i) = c;
            return;
        }
        case TYPE_ISSUE: {
            const int32_t sym = symbol();
            cell_at(n, i) = Cell{t, context::global, static_cast<uint32_t>(sym), static_cast<uint32_t>(-1)};
            return;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION: native_record(n, i, t, rec); return;
        case TYPE_OP: {
            record(n, i);
            Cell c = cell_at(n, i);
            const uint32_t inner = cell::type_of(&c);
            if (inner != TYPE_NATIVE && inner != TYPE_ACTION && inner != TYPE_FUNCTION) bad(rec);
            if (!compact_ && ((fh >> 16) & 0xFF) != inner) bad(rec);
            c.header = TYPE_OP;
            set_op_inner_type(&c, inner);
            cell_at(n, i) = c;
            // The body record keeps the function the op! was made from.
            if (inner == TYPE_FUNCTION) cell_at(function_body(c), 3) = op_function(c);
            return;
        }
        case TYPE_ERROR: {
            const uint8_t* at_code = p_;
            const uint32_t code = num();
            if (code > 999 || !err::message_of(static_cast<int>(code))) bad(at_code);
            const Cell e = err::make(static_cast<int>(code));
            if (!object_context(e)) bad(at_code);
            cell_at(n, i) = e;
            const node_t values = context_values(context::cell_of(object_context(e)));
            for (uint32_t f = err::F_ARG1; f <= err::F_STACK; f++) record(values, f);
            return;
        }
        case TYPE_CONTEXT: context_record(n, i, rec, true, true); return;
        case TYPE_OBJECT:
            if (ref) {
                const Cell c = path(rec, false);
                const uint32_t ct = cell::type_of(&c);
                const node_t ctx = context_of(c);
                if (!(is_word_or_refinement(ct) || ct == TYPE_OBJECT) || !ctx || ctx == context::global) bad(rec);
                const Cell owner = *context::self_of(ctx);
                if (cell::type_of(&owner) != TYPE_OBJECT) bad(rec);
                cell_at(n, i) = owner;
            } else {
                object_payload(n, i, compact_ ? s : (fh & (1u << 24)), rec);
            }
            return;
        case TYPE_FUNCTION:
            if (ref) {
                const Cell c = path(rec, false);
                const uint32_t ct = cell::type_of(&c);
                const node_t ctx = context_of(c);
                if (!(is_word_or_refinement(ct) || ct == TYPE_FUNCTION || ct == TYPE_OP) || !ctx || ctx == context::global)
                    bad(rec);
                Cell owner = ct == TYPE_OP ? c : *context::self_of(ctx);
                const uint32_t ot = cell::type_of(&owner);
                if (ot == TYPE_OP && op_inner_type(owner) == TYPE_FUNCTION) owner = op_function(owner);
                if (cell::type_of(&owner) != TYPE_FUNCTION) bad(rec);
                cell_at(n, i) = owner;
            } else {
                function_payload(n, i, rec);
            }
            return;
        case TYPE_HASH:
        case TYPE_MAP: {
            uint32_t head = 0;
            if (t == TYPE_HASH) head = compact_ ? (s ? varint() : 0) : u32();
            if (ref) {
                const Cell c = path(rec, false);
                const uint32_t ct = cell::type_of(&c);
                // Only the value written first owns an index to share.
                if (ct != t || !hash_index_node(c) || head > series::buffer_length(series_node(c))) bad(rec);
                cell_at(n, i) = Cell{t, head, series_node(c), hash_index_node(c)};
                return;
            }
            const uint32_t cnt = count(p_, num());
            if (head > cnt || (t == TYPE_MAP && cnt % 2)) bad(rec);
            // The index exists before the cells are read, so that a
            // reference met inside them shares it.
            const Cell empty{TYPE_BLOCK, 0, memory::alloc_cells(cnt ? cnt : 1), 0};
            const node_t index = hashtab::make(t == TYPE_MAP ? cnt / 2 : cnt, &empty,
                                               t == TYPE_MAP ? hashtab::Kind::MAP : hashtab::Kind::HASH, 0);
            cell_at(n, i) = Cell{t, head, series_node(empty), index};
            for (uint32_t k = 0; k < cnt; k++) {
                series::reserve_cell(series::buffer_of(series_node(empty)));
                record(series_node(empty), k);
            }
            if (t == TYPE_HASH) {
                hashtab::rebuild(index, cnt);
            } else {
                const Cell m = cell_at(n, i);
                if (!map::index_pairs(&m)) bad(rec);
            }
            return;
        }
        case TYPE_BINARY: {
            uint32_t head = 0;
            if (compact_) {
                if (s) head = varint();
            } else {
                if (((fh >> 8) & 0xFF) != 1) bad(rec);
                head = u32();
            }
            if (ref) {
                series_ref(n, i, t, head, rec);
                return;
            }
            const uint32_t len = num();
            if (len > left() || head > len) bad(rec);
            const node_t b = memory::alloc_bytes(len);
            series::append_bytes(b, p_, len);
            p_ += len;
            if (!compact_) skip_pad();
            cell_at(n, i) = Cell{t, head, b, 0};
            return;
        }
        case TYPE_VECTOR: {
            uint32_t head = 0;
            uint32_t width = 0;
            if (compact_) {
                if (s) head = varint();
            } else {
                width = (fh >> 8) & 0xFF;
                head = u32();
            }
            if (ref) {
                series_ref(n, i, t, head, rec);
                return;
            }
            uint32_t len, type;
            if (compact_) {
                const uint8_t layout = byte();
                type = layout >> 2;
                width = 1u << (layout & 3);
                len = varint();
            } else {
                len = u32();
                type = u32();
            }
            if (!vector::is_valid_width(type, width)) bad(rec);
            const uint64_t size = uint64_t{len} * width;
            if (size > left() || head > len) bad(rec);
            const node_t b = memory::alloc_series(len ? len : 1, width, 0);
            series::append_bytes(b, p_, static_cast<uint32_t>(size));
            const Cell made{t, head, b, type};
            // Characters read back must be code points.
            if (type == TYPE_CHAR)
                for (uint32_t k = 0; k < len; k++)
                    if (char_code(vector::element_value(p_ + size_t{k} * width, width, type)) > 0x10FFFF)
                        bad(p_ + size_t{k} * width);
            p_ += size;
            if (!compact_) skip_pad();
            cell_at(n, i) = made;
            return;
        }
        case TYPE_IMAGE: {
            uint32_t head = 0;
            if (compact_) {
                if (s) head = varint();
            } else {
                head = u32();
            }
            if (ref) {
                // Another position of an image already read: its pixels.
                const Cell c = path(rec, false);
                if (cell::type_of(&c) != TYPE_IMAGE || head > image::pixel_count(&c)) bad(rec);
                cell_at(n, i) = Cell{t, head, series_node(c), image_size(c)};
                return;
            }
            uint32_t w, h;
            if (compact_) {
                w = varint();
                h = varint();
            } else {
                const uint32_t size = u32();
                w = size & 0xFFFF;
                h = size >> 16;
            }
            uint64_t bytes = 0;
            if (!image::pixel_bytes(w, h, bytes) || bytes > left() || head > w * h) bad(rec);
            Cell img{};
            image::make_at(&img, w, h);
            if (bytes) std::memcpy(image::pixels(&img), p_, bytes);
            p_ += bytes;
            series_index(img) = head;
            cell_at(n, i) = img;
            return;
        }
        case TYPE_BITSET: {
            const bool complement = compact_ ? s : (fh & (1u << 23));
            if (ref) {
                series_ref(n, i, t, 0, rec);
                return;
            }
            const uint32_t len = num();
            if (len > left()) bad(rec);
            const node_t b = memory::alloc_bytes_filled(len, complement ? 0xFF : 0x00);
            SeriesBuffer* buf = series::buffer_of(b);
            std::memcpy(series::head_ptr(buf), p_, len);
            buf->tail = buf->head + len;
            if (complement) memory::set_series_flag(b, series_flag::NOT);
            p_ += len;
            if (!compact_) skip_pad();
            cell_at(n, i) = Cell{t, 0, b, 0};
            return;
        }
        default: break;
    }
    if (is_word_or_refinement(t)) {
        word_record(n, i, t, s, ref, fh & (1u << 25), rec);
        return;
    }
    if (is_block_record(t) || is_string_record(t)) {
        uint32_t head = 0;
        if (compact_) {
            if (s) head = varint();
        } else {
            head = u32();
        }
        if (ref) {
            series_ref(n, i, t, head, rec);
        } else if (is_block_record(t)) {
            block_contents(n, i, t, head, rec);
        } else if (compact_) {
            const uint32_t code = varint();
            string_contents(n, i, t, head, code & 3, code >> 2, rec);
        } else {
            const uint32_t width = (fh >> 8) & 0xFF;
            if (width != 1 && width != 2 && width != 4) bad(rec);
            string_contents(n, i, t, head, width == 1 ? 0 : width == 2 ? 1 : 2, u32(), rec);
        }
        return;
    }
    if (t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT) {
        const Cell dt{TYPE_DATATYPE, t, 0, 0};
        err::raise(err::NO_CODEC, &dt);
    }
    // Types whose values do not exist yet, and ids no type has.
    bad(rec);
}

void Reader::fixed_record(node_t n, uint32_t i, const uint8_t* rec) {
    uint32_t h = u32();
    while ((h & 0xFF) == 0) {  // padding before doubles
        rec = p_;
        h = u32();
    }
    const uint32_t t = h & 0xFF;
    if (t == 0xFF) {
        cell_at(n, i) = path(rec, true);
        return;
    }
    payload(n, i, t, false, h & 0x80000, h, rec);
    if (h & 0x80000000u) cell_at(n, i).header |= cell_flag::NEW_LINE;
}

// Decodes one record into cell i of the cell series n (which exists).
void Reader::record(node_t n, uint32_t i) {
    const uint8_t* rec = p_;
    if (++depth_ > MAX_DEPTH) bad(rec);
    if (!compact_) {
        fixed_record(n, i, rec);
        depth_--;
        return;
    }
    bool nl = false, ref = false, assign = false;
    uint8_t b;
    for (;;) {
        rec = p_;
        b = byte();
        if (b == 0xC0) nl = true;
        else if (b == 0xC1) ref = true;
        else if (b == 0xC4 && boot_) assign = true;
        else break;
    }
    if (b >= 0x80) {
        if (ref || assign) bad(rec);
        if (b <= 0xBF) cell_at(n, i) = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(b - 0x80), 0};
        else if (b == 0xC2 || b == 0xC3) cell_at(n, i) = Cell{TYPE_LOGIC, b == 0xC2 ? 1u : 0u, 0, 0};
        else if (b == 0xFF) cell_at(n, i) = path(rec, false);
        else bad(rec);
    } else {
        uint32_t t = b & 63;
        if (t == 63) t = varint();
        if (t == 0 || t > 255) bad(rec);
        if (assign && !(is_word_or_refinement(t) || t == TYPE_ISSUE)) bad(rec);
        payload(n, i, t, b & 64, ref, 0, rec);
        if (assign && is_word_or_refinement(t)) {
            // The value that follows is given to the word; neither stays.
            const uint32_t pos = series::cell_count(n);
            series::reserve_cell(series::buffer_of(n));
            record(n, pos);
            Cell* w = stack::push(&cell_at(n, i));
            word::set(w, &cell_at(n, pos));
            stack::pop_n(1);
        }
    }
    if (nl) cell_at(n, i).header |= cell_flag::NEW_LINE;
    depth_--;
}

void Reader::run() {
    const node_t root = series_node(container_);
    base_ = series::cell_count(root);
    while (p_ < end_) {
        const uint32_t pos = series::cell_count(series_node(container_));
        series::reserve_cell(series::buffer_of(series_node(container_)));
        record(series_node(container_), pos);
        if (series::cell_count(series_node(container_)) > pos + 1) {
            // An assignment: cut the word and its value off again.
            series::set_tail_at(series_node(container_), pos + 1);
        }
    }
}

[[noreturn]] void header_error(bool boot, const char* message) {
    if (boot) {
        std::fputs(message, stdout);
        std::fputs("\n", stdout);
        std::fflush(stdout);
        std::exit(1);
    }
    err::raise(err::INVALID_DATA);
}

}  // namespace

void decode_into(const uint8_t* data, int64_t length, Cell* container, bool boot) {
    const CollectorOff off;
    codec = !boot;
    // Boot images come from the executable and have no stated length.
    std::vector<uint8_t> copy, inflated;
    const uint8_t* start = data;
    const uint8_t* end = nullptr;
    if (length >= 0) {
        copy.assign(data, data + length);
        start = copy.data();
        end = start + length;
    }
    if ((end && end - start < 8) || std::memcmp(start, "QELBIN", 6) != 0)
        header_error(boot, "Error: Not a Qelbin file!");
    const uint8_t flags = start[7];
    const bool compact = flags & 1;
    const uint8_t* p = start + 8;
    if (flags & 2) {
        // Everything after the flags is one LZ stream; the image goes on in
        // its unpacked bytes, whose end is known.
        if (!end) header_error(boot, "Error: Qelbin compressed data corrupted!");
        uint32_t unpacked_len = 0;
        uint8_t* unpacked = lzcomp::decompress(p, static_cast<size_t>(end - p), &unpacked_len);
        if (unpacked && !unpacked_len) heap::free(unpacked);
        if (!unpacked || !unpacked_len) header_error(boot, "Error: Qelbin compressed data corrupted!");
        inflated.assign(unpacked, unpacked + unpacked_len);
        heap::free(unpacked);
        p = inflated.data();
        end = p + unpacked_len;
    }
    // Header reads: with an unknown end they trust the image.
    auto avail = [&](size_t n) { return !end || static_cast<size_t>(end - p) >= n; };
    auto u32 = [&]() -> uint32_t {
        if (!avail(4)) err::raise(err::INVALID_DATA);
        const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        return v;
    };
    auto varint = [&]() -> uint32_t {
        uint32_t v = 0;
        for (int i = 0; i < 5; i++) {
            if (!avail(1)) err::raise(err::INVALID_DATA);
            const uint8_t b = *p++;
            if (i == 4 && b >= 0x10) err::raise(err::INVALID_DATA);
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        err::raise(err::INVALID_DATA);
    };
    auto num = [&]() { return compact ? varint() : u32(); };
    if (!compact && !avail(8)) err::raise(err::INVALID_DATA);
    num();  // root count: records are read until they end
    const uint32_t records = num();
    const uint8_t* offsets = nullptr;
    const uint8_t* area = nullptr;
    uint32_t sym_count = 0, area_size = 0;
    if (flags & 4) {
        sym_count = num();
        area_size = num();
        if (!avail(uint64_t(sym_count) * 4)) err::raise(err::INVALID_DATA);
        offsets = p;
        p += size_t(sym_count) * 4;
        if (!avail(area_size)) err::raise(err::INVALID_DATA);
        area = p;
        if (area_size && area[area_size - 1] != 0) err::raise(err::INVALID_DATA);
        if (!area_size && sym_count) err::raise(err::INVALID_DATA);
        p += area_size;
    }
    if (!avail(records)) err::raise(err::INVALID_DATA);
    Reader r(start, p, p + records, compact, boot, container);
    r.symbols(offsets, sym_count, area, area_size);
    if (boot) literal_base = series::cell_count(series_node(container));
    r.run();
}

Cell decode(const uint8_t* data, size_t length) {
    if (length < 11) err::raise(err::INVALID_DATA);
    if (length > 0x7FFFFFFF) err::raise(err::INVALID_DATA);
    // No guard restores the stack here: an error raised inside must stay
    // on top of it for the catching region to find.
    Cell* container = stack::push_slot();
    *container = Cell{TYPE_BLOCK, 0, memory::alloc_cells(1), 0};
    decode_into(data, static_cast<int64_t>(length), container, false);
    codec = true;
    const node_t roots = series_node(container);
    const Cell result = series::cell_count(roots) == 1 ? cell_at(roots, 0) : *container;
    stack::arg_top = container;
    return result;
}

}  // namespace qel::qelbin
