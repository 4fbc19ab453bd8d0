// QELBIN writer: one value into an image, in either encoding.
//
// The output is built in C++ vectors and copied into a byte series at the
// end, so nothing is allocated in the managed heap while cells are being
// read: no buffer can move under the walk. Values that can be met again
// (series, bitsets, objects, functions, bound words) are remembered by
// their node with the path of indexes that leads to them; a second meeting
// writes that path instead of the contents, which is what keeps cycles
// finite and sharing intact.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/date.hpp"
#include "datatypes/function.hpp"
#include "datatypes/money.hpp"
#include "datatypes/object.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/vector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"

namespace qel::qelbin {

bool codec = true;
uint32_t literal_base = 0;

namespace {


[[noreturn]] void no_codec(uint32_t type) {
    const Cell dt{TYPE_DATATYPE, type, 0, 0};
    err::raise(err::NO_CODEC, &dt);
}

class Writer {
public:
    explicit Writer(bool compact) : compact_(compact) {}

    void value(const Cell& v, bool counts = true);
    // Boot images only: the word (bound to the global context) is given
    // the value when the image is read; neither takes a root index.
    void assignment(const Cell& word, const Cell& v);
    std::vector<uint8_t> assemble(uint32_t roots = 1);

private:
    bool compact_;
    std::vector<uint8_t> out_;
    std::vector<uint32_t> stack_;
    uint32_t counter_ = 0;
    std::unordered_map<node_t, std::vector<uint32_t>> paths_;
    std::vector<int32_t> symbols_;
    std::unordered_map<int32_t, uint32_t> symbol_index_;
    std::vector<uint8_t> names_;
    std::vector<uint32_t> offsets_;

    void byte(uint8_t b) { out_.push_back(b); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; i++) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            out_.push_back(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        out_.push_back(static_cast<uint8_t>(v));
    }
    void zigzag(int32_t n) {
        varint((static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31));
    }
    // A count or an index: varint in compact mode, u32 in fixed mode.
    void num(uint32_t v) { compact_ ? varint(v) : u32(v); }
    void snum(int32_t v) { compact_ ? zigzag(v) : u32(static_cast<uint32_t>(v)); }
    // A series' head index: compact records carry it only when it is not 0
    // (the record's flag says so), fixed records always.
    void head_index(uint32_t head) {
        if (!compact_) u32(head);
        else if (head) varint(head);
    }
    void bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void pad(size_t align) {
        while (out_.size() % align) out_.push_back(0);
    }
    void symbol(int32_t sym);
    void path_of(const std::vector<uint32_t>& path);
    void record_start(uint32_t type, bool new_line, bool ref, bool short_form, uint32_t fixed_bits);
    void double_payload(double d);
    void contents(const Cell& v, uint32_t t);
    void context_record(node_t ctx);
    void object_payload(const Cell& v, bool fixed_header_written);
    void function_payload(const Cell& v);
    void nested_block(const Cell& b);
    void word_owner(const Cell& owner);
};

void Writer::symbol(int32_t sym) {
    const auto [it, added] = symbol_index_.try_emplace(sym, static_cast<uint32_t>(symbols_.size()));
    const uint32_t index = it->second;
    if (added) {
        symbols_.push_back(sym);
        const char* name = symbol::name(sym);
        if (!compact_) offsets_.push_back(static_cast<uint32_t>(names_.size()));
        names_.insert(names_.end(), name, name + std::strlen(name));
        names_.push_back(0);
        if (!compact_)
            while (names_.size() % 8) names_.push_back(0);
    }
    num(index);
}

void Writer::path_of(const std::vector<uint32_t>& path) {
    if (compact_) {
        varint(static_cast<uint32_t>(path.size()));
    } else {
        u32(0xFF);
        u32(static_cast<uint32_t>(path.size()));
    }
    for (uint32_t i : path) num(i);
}

// Compact: prefixes and the header byte. Fixed: the header word.
void Writer::record_start(uint32_t type, bool new_line, bool ref, bool short_form, uint32_t fixed_bits) {
    if (compact_) {
        if (new_line) byte(0xC0);
        if (ref) byte(0xC1);
        byte(static_cast<uint8_t>(type | (short_form ? 0x40 : 0)));
    } else {
        u32(type | fixed_bits | (new_line ? 0x80000000u : 0) | (ref ? 0x80000u : 0));
    }
}

void Writer::double_payload(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    u32(static_cast<uint32_t>(bits));
    u32(static_cast<uint32_t>(bits >> 32));
}

void Writer::context_record(node_t ctx) {
    const Cell cc = *context::cell_of(ctx);
    const uint32_t kind = (cc.header & context::KIND_MASK) >> context::KIND_SHIFT;
    const bool on_stack = context::has_stack_values(&cc);
    const bool obj_flag = cc.header & context::OBJECT_FLAG;
    const uint32_t n = context::word_count(ctx);
    bool values = false;
    if (!on_stack)
        for (uint32_t i = 0; i < n; i++) {
            const Cell* s = context::slot_at(ctx, i);
            if (s && cell::type_of(s) != TYPE_UNSET) values = true;
        }
    if (compact_) {
        byte(TYPE_CONTEXT);
        byte(static_cast<uint8_t>(kind | (on_stack ? 4 : 0) | (obj_flag ? 8 : 0) | (values ? 16 : 0)));
        varint(n);
    } else {
        u32(TYPE_CONTEXT | (kind << 26) | (obj_flag ? 1u << 28 : 0) | (on_stack ? 1u << 29 : 0) |
            (values ? 1u << 30 : 0));
        u32(n);
    }
    for (uint32_t i = 0; i < n; i++) symbol(word_symbol(context::word_at(ctx, i)));
    if (values)
        for (uint32_t i = 0; i < n; i++) {
            const Cell* s = context::slot_at(ctx, i);
            value(s ? *s : shared::unset);
        }
}

// Class id, handler positions and the context; the header is written.
void Writer::object_payload(const Cell& v, bool with_handlers) {
    snum(object_class(v));
    if (with_handlers) {
        // The handler field's position, in the upper half of each pair's x.
        const Cell* info = series::cells_of(object_on_set(v));
        for (int k = 0; k < 2; k++) snum(static_cast<int16_t>(pair_x(info[k]) >> 16));
    }
    context_record(object_context(v));
}

void Writer::nested_block(const Cell& b) {
    value(b);
}

void Writer::function_payload(const Cell& v) {
    const Cell spec{TYPE_BLOCK, 0, function_spec(v), 0};
    const Cell body = function::body_of(v);
    const bool has_body = is_block_record(cell::type_of(&body));
    num(series::cell_count(function_spec(v)));
    num(has_body ? static_cast<uint32_t>(series::length_of(&body)) : 0);
    context_record(function_context(v));
    nested_block(spec);
    if (has_body) {
        Cell b = body;
        cell::set_type(&b, TYPE_BLOCK);
        nested_block(b);
    } else {
        record_start(TYPE_BLOCK, false, false, false, 0);
        if (!compact_) u32(0);
        num(0);
        counter_++;
    }
}

void Writer::word_owner(const Cell& owner) {
    const uint32_t t = cell::type_of(&owner);
    if (t == TYPE_OBJECT) {
        const bool handlers = object_on_set(owner) != 0;
        record_start(TYPE_OBJECT, false, false, handlers, handlers ? 1u << 24 : 0);
        object_payload(owner, handlers);
    } else {
        record_start(TYPE_FUNCTION, false, false, false, 0);
        function_payload(owner);
    }
}

void Writer::value(const Cell& v, bool counts) {
    if (stack_.size() >= MAX_DEPTH) err::raise(err::TOO_DEEP);
    const uint32_t t = cell::type_of(&v);
    const bool nl = v.header & cell_flag::NEW_LINE;
    // Types that carry no node: written in place.
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE: record_start(t, nl, false, false, 0); break;
        case TYPE_LOGIC:
            if (compact_) {
                if (nl) byte(0xC0);
                byte(logic_value(v) ? 0xC2 : 0xC3);
            } else {
                record_start(t, nl, false, false, 0);
                u32(logic_value(v) ? 1 : 0);
            }
            break;
        case TYPE_DATATYPE: record_start(t, nl, false, false, 0); num(datatype_id(v)); break;
        case TYPE_INTEGER: {
            const int32_t n = integer_value(v);
            if (compact_ && n >= 0 && n <= 63) {
                if (nl) byte(0xC0);
                byte(static_cast<uint8_t>(0x80 + n));
            } else {
                record_start(t, nl, false, false, 0);
                snum(n);
            }
            break;
        }
        case TYPE_CHAR: record_start(t, nl, false, false, 0); num(char_code(v)); break;
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            const double d = cell::get_double(&v);
            bool short_form = false;
            int32_t n = 0;
            if (!(d == 0 && std::signbit(d))) {
                if (t != TYPE_PERCENT) {
                    short_form = d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d);
                    if (short_form) n = static_cast<int32_t>(d);
                } else if (d >= -21474836.0 && d <= 21474836.0) {
                    n = static_cast<int32_t>(std::round(d * 100.0));  // halves away from zero
                    short_form = n / 100.0 == d;
                }
            }
            if (compact_) {
                record_start(t, nl, false, short_form, 0);
                if (short_form) zigzag(n);
                else double_payload(d);
            } else {
                pad(8);
                record_start(t, nl, false, false, 0);
                double_payload(d);
            }
            break;
        }
        case TYPE_DATE: {
            // The short-form flag is the date's time flag.
            const bool with_time = date::has_time(date_packed(v));
            record_start(t, nl, false, compact_ && with_time, 0);
            u32(date_packed(v));
            if (with_time || !compact_) double_payload(cell::get_double(&v));
            break;
        }
        case TYPE_TYPESET: {
            // The payload words as they lie in memory.
            uint8_t bits[12];
            for (uint32_t i = 0; i < 3; i++) {
                const uint32_t word = payload_word(v, i);
                std::memcpy(bits + 4 * i, &word, 4);
            }
            record_start(t, nl, false, false, 0);
            if (compact_) {
                uint8_t n = 12;
                while (n > 0 && bits[n - 1] == 0) n--;
                byte(n);
                bytes(bits, n);
            } else {
                bytes(bits, 12);
            }
            break;
        }
        case TYPE_PAIR:
            record_start(t, nl, false, false, 0);
            snum(pair_x(v));
            snum(pair_y(v));
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            // The float32 bit patterns, fixed-width in both modes.
            record_start(t, nl, false, false, 0);
            u32(payload_word(v, 0));
            u32(payload_word(v, 1));
            if (t == TYPE_POINT3D) u32(payload_word(v, 2));
            break;
        case TYPE_TUPLE: {
            const uint32_t len = tuple_length(&v);
            uint8_t b[tuple::MAX_LENGTH];
            for (uint32_t i = 0; i < tuple::MAX_LENGTH; i++) b[i] = tuple_byte(&v, i);
            if (compact_) {
                record_start(t, nl, false, len != 3, 0);
                if (len != 3) byte(static_cast<uint8_t>(len));
                bytes(b, len);
            } else {
                record_start(t, nl, false, false, len << 8);
                bytes(b, tuple::MAX_LENGTH);
            }
            break;
        }
        case TYPE_MONEY: {
            // The sign is the short-form flag (compact) or header bit 22
            // (fixed); then the currency index and the digit bytes.
            const bool negative = money::sign_bit(&v);
            record_start(t, nl, false, compact_ && negative, negative ? MONEY_NEGATIVE : 0);
            uint8_t b[MONEY_BYTES];
            for (uint32_t i = 0; i < MONEY_BYTES; i++) b[i] = money::payload_byte(&v, i);
            bytes(b, MONEY_BYTES);
            break;
        }
        case TYPE_ISSUE: record_start(t, nl, false, false, 0); symbol(word_symbol(v)); break;
        case TYPE_NATIVE:
        case TYPE_ACTION:
            record_start(t, nl, false, false, 0);
            num(native_index(v));
            // The spec shares the native's number.
            value(Cell{TYPE_BLOCK, 0, native_spec(v), 0}, false);
            break;
        case TYPE_OP: {
            const uint32_t inner = op_inner_type(v);
            if (inner != TYPE_NATIVE && inner != TYPE_ACTION && inner != TYPE_FUNCTION) no_codec(TYPE_ROUTINE);
            record_start(t, nl, false, false, inner << 16);
            value(op_function(v), false);
            break;
        }
        case TYPE_ERROR: {
            record_start(t, nl, false, false, 0);
            num(static_cast<uint32_t>(err::code_of(&v)));
            // Not shared, but numbered like an object so that paths can
            // reach into its fields.
            stack_.push_back(counter_);
            counter_ = 0;
            for (uint32_t f = err::F_ARG1; f <= err::F_STACK; f++) value(err::field(&v, static_cast<err::Field>(f)));
            counter_ = stack_.back();
            stack_.pop_back();
            break;
        }
        default: contents(v, t); break;
    }
    if (counts) counter_++;
}

// Values that can be met again: first meeting in full, later ones by path.
void Writer::contents(const Cell& v, uint32_t t) {
    const bool nl = v.header & cell_flag::NEW_LINE;
    node_t key = 0;
    const bool is_word = is_word_or_refinement(t);
    if (is_word) {
        node_t ctx = word_context(v);
        bool global = ctx == 0 || ctx == context::global;
        Cell owner{};
        if (!global) {
            owner = *context::self_of(ctx);
            const uint32_t ot = cell::type_of(&owner);
            if (ot == TYPE_NONE || ot == TYPE_UNSET || ot == TYPE_BLOCK) global = true;
            else if (ot != TYPE_OBJECT && ot != TYPE_FUNCTION) no_codec(t);
        }
        if (global) {
            record_start(t, nl, false, false, compact_ ? 0 : 1u << 25);
            symbol(word_symbol(v));
            if (!compact_) u32(static_cast<uint32_t>(word_index(v)));
            return;
        }
        key = ctx;
    } else if (t == TYPE_OBJECT || t == TYPE_FUNCTION) {
        key = t == TYPE_OBJECT ? object_context(v) : function_context(v);
    } else if (is_block_like(t) || is_string_record(t) || t == TYPE_BITSET || t == TYPE_MAP || t == TYPE_BINARY ||
               t == TYPE_VECTOR) {
        key = series_node(v);
    } else {
        no_codec(t);
    }
    auto found = paths_.find(key);
    const bool ref = found != paths_.end();
    const uint32_t head = is_block_like(t) || is_string_record(t) || t == TYPE_BINARY || t == TYPE_VECTOR
                              ? std::min<uint32_t>(series_index(v), series::buffer_length(series_node(v)))
                              : 0;
    if (!ref) {
        stack_.push_back(counter_);
        counter_ = 0;
        paths_[key] = stack_;
    }
    if (is_word) {
        record_start(t, nl, ref, true, 0);
        symbol(word_symbol(v));
        if (compact_) zigzag(word_index(v));
        else u32(static_cast<uint32_t>(word_index(v)));
        if (ref) path_of(found->second);
        else word_owner(*context::self_of(word_context(v)));
    } else if (t == TYPE_OBJECT) {
        const bool handlers = !ref && object_on_set(v) != 0;
        record_start(t, nl, ref, handlers, handlers ? 1u << 24 : 0);
        if (ref) path_of(found->second);
        else object_payload(v, handlers);
    } else if (t == TYPE_FUNCTION) {
        record_start(t, nl, ref, false, 0);
        if (ref) path_of(found->second);
        else function_payload(v);
    } else if (t == TYPE_BITSET) {
        const bool complement = series::flags_of(series_node(v)) & series_flag::NOT;
        record_start(t, nl, ref, complement, complement ? 1u << 23 : 0);
        if (ref) {
            path_of(found->second);
        } else {
            SeriesBuffer* s = series::buffer_of(series_node(v));
            const uint32_t n = s->tail - s->head;
            num(n);
            bytes(series::head_ptr(s), n);
            if (!compact_) pad(4);
        }
    } else if (t == TYPE_MAP) {
        // Only the active pairs: a removed pair has a value header of 0.
        record_start(t, nl, ref, false, 0);
        if (ref) {
            path_of(found->second);
        } else {
            const uint32_t n = series::cell_count(series_node(v));
            uint32_t live = 0;
            for (uint32_t i = 0; i + 1 < n; i += 2) live += series::cells_of(series_node(v))[i + 1].header != 0;
            num(2 * live);
            for (uint32_t i = 0; i + 1 < n; i += 2) {
                if (series::cells_of(series_node(v))[i + 1].header == 0) continue;
                value(series::cells_of(series_node(v))[i]);
                value(series::cells_of(series_node(v))[i + 1]);
            }
        }
    } else if (is_block_like(t)) {
        record_start(t, nl, ref, head != 0, 0);
        head_index(head);
        if (ref) {
            path_of(found->second);
        } else {
            const uint32_t n = series::cell_count(series_node(v));
            num(n);
            for (uint32_t i = 0; i < n; i++) value(series::cells_of(series_node(v))[i]);
        }
    } else if (t == TYPE_BINARY) {
        // Fixed records name the unit width (1) like strings; compact ones
        // carry the plain byte count.
        record_start(t, nl, ref, head != 0, 1u << 8);
        head_index(head);
        if (ref) {
            path_of(found->second);
        } else {
            const uint32_t n = series::buffer_length(series_node(v));
            num(n);
            bytes(series::head_ptr(series::buffer_of(series_node(v))), n);
            if (!compact_) pad(4);
        }
    } else if (t == TYPE_VECTOR) {
        // The element layout: type id and width, packed into one byte in
        // compact records.
        SeriesBuffer* s = series::buffer_of(series_node(v));
        const uint32_t width = series::unit(s);
        record_start(t, nl, ref, head != 0, width << 8);
        head_index(head);
        if (ref) {
            path_of(found->second);
        } else {
            const uint32_t n = series::buffer_length(series_node(v));
            if (compact_) {
                byte(static_cast<uint8_t>((vector::element_type(v) << 2) | series::log2_unit(s)));
                varint(n);
            } else {
                u32(n);
                u32(vector::element_type(v));
            }
            bytes(series::head_ptr(s), size_t(n) * width);
            if (!compact_) pad(4);
        }
    } else {  // strings
        SeriesBuffer* s = series::buffer_of(series_node(v));
        const uint32_t width = series::unit(s);
        record_start(t, nl, ref, head != 0, width << 8);
        head_index(head);
        if (ref) {
            path_of(found->second);
        } else {
            const uint32_t n = series::buffer_length(series_node(v));
            if (compact_) varint((n << 2) | series::log2_unit(s));
            else u32(n);
            bytes(series::head_ptr(series::buffer_of(series_node(v))), size_t(n) * width);
            if (!compact_) pad(4);
        }
    }
    if (!ref) {
        counter_ = stack_.back();
        stack_.pop_back();
    }
}

void Writer::assignment(const Cell& word, const Cell& v) {
    byte(0xC4);
    value(word, false);
    value(v, false);
    // What the pair met cannot be named by a path: the reader drops both
    // cells once the word is set.
    paths_.clear();
}

std::vector<uint8_t> Writer::assemble(uint32_t roots) {
    std::vector<uint8_t> img = {'Q', 'E', 'L', 'B', 'I', 'N', 2};
    const bool syms = !symbols_.empty();
    auto put_u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++) img.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto put_varint = [&](uint32_t v) {
        while (v >= 0x80) {
            img.push_back(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        img.push_back(static_cast<uint8_t>(v));
    };
    if (compact_) {
        img.push_back(syms ? 5 : 1);
        put_varint(roots);
        put_varint(static_cast<uint32_t>(out_.size()));
        if (syms) {
            put_varint(static_cast<uint32_t>(symbols_.size()));
            put_varint(static_cast<uint32_t>(names_.size()));
            uint32_t at = 0;
            for (size_t i = 0; i < symbols_.size(); i++) {
                put_u32(at);
                while (names_[at] != 0) at++;
                at++;
            }
        }
    } else {
        img.push_back(syms ? 4 : 0);
        put_u32(roots);
        put_u32(static_cast<uint32_t>(out_.size()));
        if (syms) {
            put_u32(static_cast<uint32_t>(symbols_.size()));
            put_u32(static_cast<uint32_t>(names_.size()));
            for (uint32_t o : offsets_) put_u32(o);
        }
    }
    img.insert(img.end(), names_.begin(), names_.end());
    img.insert(img.end(), out_.begin(), out_.end());
    return img;
}

}  // namespace

node_t encode(const Cell* value, bool compact) {
    const Cell v = *value;
    codec = true;
    Writer w(compact);
    w.value(v);
    const std::vector<uint8_t> img = w.assemble();
    const node_t n = memory::alloc_bytes(static_cast<uint32_t>(img.size()));
    series::append_bytes(n, img.data(), static_cast<uint32_t>(img.size()));
    return n;
}

std::vector<uint8_t> encode_boot(const Cell* assignments, const Cell* literals) {
    codec = false;
    Writer w(true);
    const Cell pairs = *assignments, roots = *literals;
    const uint32_t n = series::cell_count(series_node(pairs));
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        const Cell word = series::cells_of(series_node(pairs))[i];
        w.assignment(word, series::cells_of(series_node(pairs))[i + 1]);
    }
    const uint32_t count = series::cell_count(series_node(roots));
    for (uint32_t i = 0; i < count; i++) w.value(series::cells_of(series_node(roots))[i]);
    codec = true;
    return w.assemble(count);
}

}  // namespace qel::qelbin
