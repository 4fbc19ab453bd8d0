// Unicode codecs: UTF-8 to and from string buffers, widening
// of string units, and case changes over a buffer.
//
// Loading text takes two passes over the input: the first validates it and
// measures the code points and the widest one, the second decodes straight
// into a buffer of the right unit and size. So a load allocates once, never
// widens or regrows midway, and leaves its target untouched when the input
// is ill-formed. Both passes go through one walker so they cannot disagree
// on what the text holds, and both take ASCII eight bytes at a time.
#include "runtime/unicode.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "platform/utf8.hpp"

namespace qel::unicode {

// ---- the validating automaton ----------------------------------------------

namespace {

// Byte classes: 0 ASCII; 1, 9, 7 the continuation bytes 80-8F, 90-9F, A0-BF
// (split because the second byte after E0, ED, F0 and F4 is restricted);
// 2 the two-byte leads C2-DF; 3 the three-byte leads but E0 and ED; 4 ED;
// 10 E0; 11 F0; 6 F1-F3; 5 F4; 8 bytes that never occur (C0, C1, F5-FF).
constexpr std::array<uint8_t, 256 + 9 * 12> make_dfa() {
    std::array<uint8_t, 256 + 9 * 12> t{};
    auto classes = [&t](int lo, int hi, uint8_t c) {
        for (int b = lo; b <= hi; b++) t[b] = c;
    };
    classes(0x00, 0x7F, 0);
    classes(0x80, 0x8F, 1);
    classes(0x90, 0x9F, 9);
    classes(0xA0, 0xBF, 7);
    classes(0xC0, 0xC1, 8);
    classes(0xC2, 0xDF, 2);
    classes(0xE0, 0xE0, 10);
    classes(0xE1, 0xEC, 3);
    classes(0xED, 0xED, 4);
    classes(0xEE, 0xEF, 3);
    classes(0xF0, 0xF0, 11);
    classes(0xF1, 0xF3, 6);
    classes(0xF4, 0xF4, 5);
    classes(0xF5, 0xFF, 8);
    for (size_t i = 256; i < t.size(); i++) t[i] = detail::REJECT;
    auto go = [&t](int state, int cls, uint8_t next) { t[256 + state + cls] = next; };
    // States: 0 accept, 12 reject, 24 one continuation left, 36 two left,
    // 48 after E0, 60 after ED, 72 after F0, 84 after F1-F3, 96 after F4.
    go(0, 0, 0);
    go(0, 2, 24);
    go(0, 3, 36);
    go(0, 4, 60);
    go(0, 5, 96);
    go(0, 6, 84);
    go(0, 10, 48);
    go(0, 11, 72);
    for (int cls : {1, 7, 9}) {
        go(24, cls, 0);
        go(36, cls, 24);
        go(84, cls, 36);
    }
    go(48, 7, 24);  // E0 A0..BF: shorter forms would be overlong
    go(60, 1, 24);  // ED 80..9F: ED A0..BF would encode surrogates
    go(60, 9, 24);
    go(72, 9, 36);  // F0 90..BF: overlong below
    go(72, 7, 36);
    go(96, 1, 36);  // F4 80..8F: nothing above U+10FFFF
    return t;
}

}  // namespace

namespace detail {
constinit const std::array<uint8_t, 256 + 9 * 12> UTF8_DFA = make_dfa();
}  // namespace detail

namespace {

constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;
constexpr uint64_t ONES = 0x0101010101010101ull;

inline uint64_t load64(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline bool all_ascii(const uint8_t* p) { return (load64(p) & HIGH_BITS) == 0; }

// Whether any byte of w equals b (w holds ASCII only).
inline bool has_byte(uint64_t w, uint8_t b) {
    const uint64_t x = w ^ (ONES * b);
    return ((x - ONES) & ~x & HIGH_BITS) != 0;
}

[[noreturn]] [[gnu::cold]] [[gnu::noinline]] void bad_width() {
    rt::runtime_error(rt::code::NO_SWITCH, rt::here());
}

inline uint32_t checked_width(const SeriesBuffer* s) {
    const uint32_t w = series::unit(s);
    if (w != 1 && w != 2 && w != 4) bad_width();
    return w;
}

// Calls f with the units typed by their width.
template <class F>
decltype(auto) with_units(uint8_t* data, uint32_t width, F&& f) {
    switch (width) {
        case 1: return f(data);
        case 2: return f(reinterpret_cast<uint16_t*>(data));
        case 4: return f(reinterpret_cast<uint32_t*>(data));
    }
    bad_width();
}

template <class F>
decltype(auto) with_units(const uint8_t* data, uint32_t width, F&& f) {
    switch (width) {
        case 1: return f(data);
        case 2: return f(reinterpret_cast<const uint16_t*>(data));
        case 4: return f(reinterpret_cast<const uint32_t*>(data));
    }
    bad_width();
}

// The code points of a string value that an operation takes: n from the
// value's index, or all that are left.
struct Units {
    const uint8_t* data;
    uint32_t count;
    uint32_t width;
};

Units units_of(const Cell* value, int32_t n) {
    SeriesBuffer* s = series::buffer_of(series_node(value));
    const uint32_t width = checked_width(s);
    const uint32_t length = (s->tail - s->head) / width;
    const uint32_t index = series_index(value);
    const uint32_t left = index < length ? length - index : 0;
    const uint32_t count = n >= 0 && static_cast<uint32_t>(n) < left ? static_cast<uint32_t>(n) : left;
    return {series::head_ptr(s) + static_cast<size_t>(std::min(index, length)) * width, count, width};
}

}  // namespace

// ---- UTF-8 decoding ----------------------------------------------------------

size_t count_utf8(const uint8_t* start, const uint8_t* end) {
    size_t n = 0;
    const uint8_t* p = start;
    while (p < end) {
        while (end - p >= 8 && all_ascii(p)) {
            p += 8;
            n += 8;
        }
        if (p == end) break;
        uint32_t size = 1;
        if (*p >= 0x80) decode_one(p, end, size);
        p += size;
        n++;
    }
    return n;
}

const uint8_t* skip_utf8(const uint8_t* p, size_t n, const uint8_t* end) {
    while (n > 0 && p < end) {
        if (n >= 8 && end - p >= 8 && all_ascii(p)) {
            p += 8;
            n -= 8;
            continue;
        }
        uint32_t size = 1;
        if (*p >= 0x80) decode_one(p, end, size);
        p += size;
        n--;
    }
    return p;
}

const uint8_t* find_invalid_utf8(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        while (end - p >= 8 && all_ascii(p)) p += 8;
        if (p == end) break;
        uint32_t size = 1;
        if (*p >= 0x80 && decode_one(p, end, size) < 0) return p;
        p += size;
    }
    return nullptr;
}

// ---- UTF-8 encoding ----------------------------------------------------------

uint32_t utf8_size(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= MAX_CODEPOINT) return 4;
    err::raise(err::INVALID_CHAR);
}

uint32_t encode_utf8(uint32_t cp, uint8_t* out) {
    if (cp > MAX_CODEPOINT) err::raise(err::INVALID_CHAR);
    return static_cast<uint32_t>(utf8::encode(cp, out));
}

size_t utf8_size_of_units(const void* units, size_t count, uint32_t width) {
    return with_units(static_cast<const uint8_t*>(units), width, [count](const auto* u) {
        size_t size = count;
        for (size_t i = 0; i < count; i++) {
            const uint32_t c = u[i];
            if (c >= 0x80) size += utf8_size(c) - 1;
        }
        return size;
    });
}

namespace {

template <class Unit>
uint8_t* put_utf8(const Unit* u, size_t count, uint8_t* out) {
    size_t i = 0;
    while (i < count) {
        if constexpr (sizeof(Unit) == 1) {
            while (count - i >= 8 && all_ascii(u + i)) {
                std::memcpy(out, u + i, 8);
                out += 8;
                i += 8;
            }
            if (i == count) break;
        }
        const uint32_t c = u[i++];
        if (c < 0x80) *out++ = static_cast<uint8_t>(c);
        else out += encode_utf8(c, out);
    }
    return out;
}

}  // namespace

size_t utf8_length(const Cell* value, int32_t n) {
    const Units u = units_of(value, n);
    return utf8_size_of_units(u.data, u.count, u.width);
}

node_t to_utf8(const Cell* value, int32_t n) {
    const size_t size = utf8_length(value, n);
    if (size > UINT32_MAX - 64) err::raise(err::NO_MEMORY);
    const node_t out = memory::alloc_bytes(static_cast<uint32_t>(size));
    // The allocation may have moved the source.
    const Units u = units_of(value, n);
    SeriesBuffer* b = series::buffer_of(out);
    with_units(u.data, u.width, [&](const auto* units) { put_utf8(units, u.count, series::head_ptr(b)); });
    b->tail = b->head + static_cast<uint32_t>(size);
    return out;
}

size_t write_utf8(const Cell* value, int32_t n, uint8_t* out, bool terminate) {
    const Units u = units_of(value, n);
    uint8_t* end = with_units(u.data, u.width, [&](const auto* units) { return put_utf8(units, u.count, out); });
    if (terminate) *end = 0;
    return static_cast<size_t>(end - out);
}

// ---- units and widening -------------------------------------------------------

uint32_t codepoint_at(node_t n, uint32_t i) {
    SeriesBuffer* s = series::buffer_of(n);
    return unit_at(series::head_ptr(s), i, checked_width(s));
}

namespace {

// Moves used units from src to their wider places at dst (dst >= src),
// last first, so that no unit is overwritten before it is read. Units are
// moved through memcpy: the two widths alias the same bytes.
template <class From, class To>
void spread(const uint8_t* src, uint8_t* dst, uint32_t used) {
    for (uint32_t i = used; i-- > 0;) {
        From narrow;
        std::memcpy(&narrow, src + static_cast<size_t>(i) * sizeof(From), sizeof narrow);
        const To wide = narrow;
        std::memcpy(dst + static_cast<size_t>(i) * sizeof(To), &wide, sizeof wide);
    }
}

}  // namespace

SeriesBuffer* widen(node_t n, uint32_t unit) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint32_t from = checked_width(s);
    if (unit != 2 && unit != 4) bad_width();
    if (unit <= from) return s;
    const uint32_t used = (s->tail - s->head) / from;
    // The head keeps its unit index, so it stays aligned to the new unit.
    uint64_t head = static_cast<uint64_t>(s->head / from) * unit;
    // One spare unit: a widening is nearly always made to store one more.
    const uint64_t need = (static_cast<uint64_t>(used) + 1) * unit;
    if (head + need > s->size) {
        if (need > UINT32_MAX - 64) err::raise(err::NO_MEMORY);
        s = memory::expand_series(s, static_cast<uint32_t>(need));
        head = 0;
    }
    const uint8_t* src = series::head_ptr(s);
    uint8_t* dst = series::data(s) + head;
    if (from == 1 && unit == 2) spread<uint8_t, uint16_t>(src, dst, used);
    else if (from == 1) spread<uint8_t, uint32_t>(src, dst, used);
    else spread<uint16_t, uint32_t>(src, dst, used);
    s->head = static_cast<uint32_t>(head);
    s->tail = s->head + used * unit;
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | unit;
    return s;
}

SeriesBuffer* ensure_width(node_t n, uint32_t cp) {
    SeriesBuffer* s = series::buffer_of(n);
    const uint32_t need = unit_for(cp);
    return need > checked_width(s) ? widen(n, need) : s;
}

void append_codepoint(node_t n, uint32_t cp) {
    if (cp > MAX_CODEPOINT) err::raise(err::INVALID_CHAR);
    SeriesBuffer* s = ensure_width(n, cp);
    const uint32_t unit = series::unit(s);
    if (static_cast<uint64_t>(s->tail) + unit > s->size) {
        const uint64_t want = std::max<uint64_t>(2 * static_cast<uint64_t>(s->tail - s->head) + unit, 16);
        if (want > UINT32_MAX - 64) err::raise(err::NO_MEMORY);
        s = memory::expand_series(s, static_cast<uint32_t>(want));
    }
    uint8_t* at = series::tail_ptr(s);
    switch (unit) {
        case 1: *at = static_cast<uint8_t>(cp); break;
        case 2: *reinterpret_cast<uint16_t*>(at) = static_cast<uint16_t>(cp); break;
        default: *reinterpret_cast<uint32_t*>(at) = cp; break;
    }
    s->tail += unit;
}

void append_latin1(node_t out, const char* s, size_t n) {
    if (n == 0) return;
    const uint32_t width = series::unit(series::buffer_of(out));
    uint8_t* p = series::reserve_bytes(series::buffer_of(out), static_cast<uint32_t>(n * width));
    if (width == 1) {
        std::memcpy(p, s, n);
        return;
    }
    for (size_t i = 0; i < n; i++) {
        const uint32_t cp = static_cast<uint8_t>(s[i]);
        if (width == 2) {
            const uint16_t u = static_cast<uint16_t>(cp);
            std::memcpy(p + 2 * i, &u, 2);
        } else {
            std::memcpy(p + 4 * i, &cp, 4);
        }
    }
}

void change_case(node_t n, uint32_t index, uint32_t count, bool upper) {
    SeriesBuffer* s = series::buffer_of(n);
    uint32_t width = checked_width(s);
    const uint32_t length = (s->tail - s->head) / width;
    if (index >= length) return;
    count = std::min(count, length - index);
    // Widen first, for the whole range at once, rather than at the first
    // code point that needs it.
    const uint32_t widest = with_units(series::head_ptr(s) + static_cast<size_t>(index) * width, width,
                                       [&](const auto* u) {
                                           uint32_t m = 0;
                                           for (uint32_t i = 0; i < count; i++) m = std::max(m, case_of(u[i], upper));
                                           return m;
                                       });
    if (unit_for(widest) > width) {
        s = widen(n, unit_for(widest));
        width = series::unit(s);
    }
    with_units(series::head_ptr(s) + static_cast<size_t>(index) * width, width, [&](auto* u) {
        using Unit = std::remove_reference_t<decltype(*u)>;
        for (uint32_t i = 0; i < count; i++) u[i] = static_cast<Unit>(case_of(u[i], upper));
    });
}

// ---- loading text -------------------------------------------------------------

namespace {

// Passes of the loaders: one measures, the other stores.
struct Measure {
    uint32_t count = 0;
    uint32_t widest = 0;
    void ascii8(const uint8_t*) { count += 8; }
    void put(uint32_t cp) {
        count++;
        widest = std::max(widest, cp);
    }
};

template <class Unit>
struct Store {
    Unit* out;
    void ascii8(const uint8_t* p) {
        if constexpr (sizeof(Unit) == 1) {
            std::memcpy(out, p, 8);
        } else {
            for (int i = 0; i < 8; i++) out[i] = p[i];
        }
        out += 8;
    }
    void put(uint32_t cp) { *out++ = static_cast<Unit>(cp); }
};

// Hands every code point of the UTF-8 text to the sink, with CR LF and lone
// CR made LF when crlf is set. False at the first ill-formed or truncated
// sequence.
template <class Sink>
bool walk_utf8(const uint8_t* p, const uint8_t* end, bool crlf, Sink& sink) {
    while (p < end) {
        while (end - p >= 8) {
            const uint64_t w = load64(p);
            if ((w & HIGH_BITS) || (crlf && has_byte(w, '\r'))) break;
            sink.ascii8(p);
            p += 8;
        }
        if (p == end) break;
        const uint32_t byte = *p;
        if (byte < 0x80) {
            ++p;
            if (byte == '\r' && crlf) {
                if (p < end && *p == '\n') continue;  // the LF comes next
                sink.put('\n');
            } else {
                sink.put(byte);
            }
            continue;
        }
        uint32_t size;
        const int32_t cp = decode_one(p, end, size);
        if (cp < 0) return false;
        sink.put(static_cast<uint32_t>(cp));
        p += size;
    }
    return true;
}

// Readies the buffer that receives count code points: the target's, its
// content dropped and its unit widened when needed, or a new one.
SeriesBuffer* prepare_target(node_t target, uint32_t count, uint32_t width) {
    if (!target) return series::buffer_of(memory::alloc_codepoints(count ? count : 1, width));
    SeriesBuffer* s = series::buffer_of(target);
    const uint32_t unit = std::max(checked_width(s), width);
    const uint64_t need = static_cast<uint64_t>(count) * unit;
    if (need > UINT32_MAX - 64) err::raise(err::NO_MEMORY);
    s->flags = (s->flags & ~series_flag::UNIT_MASK) | unit;
    if (s->head % unit != 0 || s->head + need > s->size) s->head = 0;
    s->tail = s->head;
    if (need > s->size) s = memory::replace_series_buffer(s, static_cast<uint32_t>(need));
    return s;
}

// Runs the storing pass into the buffer's units and sets its tail.
template <class Walk>
void store_into(SeriesBuffer* s, uint32_t count, Walk&& walk) {
    uint8_t* head = series::head_ptr(s);
    const uint32_t unit = series::unit(s);
    with_units(head, unit, [&](auto* u) {
        Store<std::remove_reference_t<decltype(*u)>> store{u};
        walk(store);
    });
    s->tail = s->head + count * unit;
}

template <class Source>
Loaded load_utf8_from(Source source, uint32_t length, node_t target, bool crlf) {
    const uint8_t* bytes = source();
    const uint32_t skip = starts_with_bom(bytes, length) ? 3 : 0;
    Measure measure;
    if (!walk_utf8(bytes + skip, bytes + length, crlf, measure)) err::raise(err::INVALID_UTF8);
    SeriesBuffer* s = prepare_target(target, measure.count, unit_for(measure.widest));
    bytes = source();  // the allocation may have moved a source series
    store_into(s, measure.count, [&](auto& store) { walk_utf8(bytes + skip, bytes + length, crlf, store); });
    return {s->node, measure.count};
}

}  // namespace

Loaded load_utf8(const uint8_t* bytes, uint32_t length, node_t target, bool crlf) {
    return load_utf8_from([bytes] { return bytes; }, length, target, crlf);
}

Loaded load_utf8_new(const uint8_t* bytes, uint32_t length) { return load_utf8(bytes, length, 0, false); }

Loaded load_utf8_series(node_t source, uint32_t offset, uint32_t length, node_t target, bool crlf) {
    return load_utf8_from([source, offset] { return series::data(series::buffer_of(source)) + offset; }, length,
                          target, crlf);
}

}  // namespace qel::unicode
