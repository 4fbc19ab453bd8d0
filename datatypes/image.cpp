// image!: making, pixel access, the path words, copies of rectangles,
// change, comparison and the molded form (see image.hpp).
//
// Positions: pick, poke and at count from 1 (an integer n is index + n - 1,
// a pair x by y is index + (y - 1) * width + x - 1); skip counts from 0.
// Every position at and skip answer is clamped to the pixels, so an index
// never goes below the first pixel nor past the tail. Buffer addresses are
// re-read through the node after anything that may allocate.
#include "datatypes/image.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/binary.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace qel {

namespace image {

namespace {

constexpr uint32_t OPAQUE = 0xFF000000;
constexpr uint32_t WHITE = 0xFFFFFFFF;
constexpr uint32_t PIXELS_PER_LINE = 10;  // molded pixels to a line

SeriesBuffer* buf(const Cell* v) { return series::buffer_of(series_node(v)); }

Cell* fresh_cell(Cell* cell) {
    if (!cell) {
        cell = stack::push_slot();
        *cell = Cell{TYPE_UNSET, 0, 0, 0};
    }
    return cell;
}

// A new image of the size whose pixels are not yet written.
Cell* make_blank(Cell* cell, uint32_t width, uint32_t height) {
    uint64_t bytes = 0;
    if (!pixel_bytes(width, height, bytes)) {
        Cell size{TYPE_PAIR, 0, 0, 0};
        pair::make_at(&size, static_cast<int32_t>(width), static_cast<int32_t>(height));
        if (width > MAX_SIDE || height > MAX_SIDE) err::raise(err::SIZE_LIMIT, &size);
        err::raise(err::NO_MEMORY);
    }
    cell = fresh_cell(cell);
    const uint32_t count = width * height;
    const node_t n = memory::alloc_series(count ? count : 4, 4, 0);
    SeriesBuffer* s = series::buffer_of(n);
    s->tail = s->head + static_cast<uint32_t>(bytes);
    *cell = Cell{TYPE_IMAGE, 0, n, height << 16 | width};
    return cell;
}

void store(uint8_t* p, uint32_t argb) {
    p[0] = static_cast<uint8_t>(argb);
    p[1] = static_cast<uint8_t>(argb >> 8);
    p[2] = static_cast<uint8_t>(argb >> 16);
    p[3] = static_cast<uint8_t>(argb >> 24);
}

uint32_t fetch(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t opacity_of(uint32_t argb) { return argb >> 24; }
uint32_t with_opacity(uint32_t argb, uint32_t opacity) { return (argb & 0x00FFFFFF) | opacity << 24; }

// The pair's parts with negative ones raised to 0.
uint32_t side_of(int32_t v) { return v < 0 ? 0 : static_cast<uint32_t>(v); }

// ---- make and to ---------------------------------------------------------------------

// The pixels from a colour, RGB bytes and transparency bytes (each may be
// absent): a colour fills every pixel; RGB bytes fill pixel by pixel, white
// once they run out; transparency bytes set 255 minus each byte as the
// opacity, the opacity already there once they run out.
struct Fill {
    const Cell* colour = nullptr;
    const Cell* rgb = nullptr;
    const Cell* alpha = nullptr;
};

void fill_pixels(Cell* img, const Fill& f) {
    const uint32_t count = pixel_count(img);
    uint8_t* p = pixels(img);
    const uint32_t base = f.colour ? pixel_of_tuple(f.colour) : WHITE;
    for (uint32_t i = 0; i < count; i++) store(p + 4 * i, base);
    if (f.rgb) {
        const uint32_t length = binary::length(f.rgb) / 3 * 3;
        const uint8_t* rgb = binary::head_ptr(f.rgb);
        const uint32_t n = std::min(count, length / 3);
        for (uint32_t i = 0; i < n; i++) {
            const uint8_t* c = rgb + 3 * i;
            store(p + 4 * i, OPAQUE | static_cast<uint32_t>(c[0]) << 16 | static_cast<uint32_t>(c[1]) << 8 | c[2]);
        }
    }
    if (f.alpha) {
        const uint8_t* a = binary::head_ptr(f.alpha);
        const uint32_t n = std::min(count, binary::length(f.alpha));
        for (uint32_t i = 0; i < n; i++) p[4 * i + 3] = static_cast<uint8_t>(255 - a[i]);
    }
}

Cell* copy_rect(const Cell* value, Cell* result, uint32_t x, uint32_t y, uint32_t w, uint32_t h);

Cell* make_from_block(Cell* spec) {
    const Cell s = *spec;
    const uint32_t total = series::cell_count(series_node(s));
    const uint32_t at = std::min(series_index(s), total);
    const uint32_t n = total - at;
    Cell parts[3] = {shared::none, shared::none, shared::none};
    for (uint32_t i = 0; i < n && i < 3; i++) parts[i] = series::cells_of(series_node(s))[at + i];
    if (n == 0 || cell::type_of(&parts[0]) != TYPE_PAIR) err::raise(err::INVALID_ARG, n ? &parts[0] : spec);
    Fill f;
    if (n > 1) {
        const uint32_t t = cell::type_of(&parts[1]);
        if (t == TYPE_TUPLE) f.colour = &parts[1];
        else if (t == TYPE_BINARY) f.rgb = &parts[1];
        else err::raise(err::INVALID_ARG, &parts[1]);
    }
    if (n > 2) {
        if (cell::type_of(&parts[2]) != TYPE_BINARY) err::raise(err::INVALID_ARG, &parts[2]);
        f.alpha = &parts[2];
    }
    Cell* img = make_blank(nullptr, side_of(pair_x(parts[0])), side_of(pair_y(parts[0])));
    fill_pixels(img, f);
    return img;
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const uint32_t t = cell::type_of(spec);
    if (t == TYPE_PAIR) return make_at(nullptr, side_of(pair_x(spec)), side_of(pair_y(spec)));
    if (t == TYPE_BLOCK) {
        const bool empty = series_index(spec) >= series::cell_count(series_node(spec));
        if (empty && cell::type_of(proto) == TYPE_IMAGE) {
            return copy_rect(proto, fresh_cell(nullptr), 0, 0, image_width(proto), image_height(proto));
        }
        return make_from_block(spec);
    }
    const Cell dt = datatype_cell(TYPE_IMAGE);
    err::raise(err::BAD_MAKE_ARG, &dt, spec);
}

Cell* to(Cell*, Cell* spec, uint32_t) {
    if (cell::type_of(spec) == TYPE_IMAGE)
        return copy_rect(spec, fresh_cell(nullptr), 0, 0, image_width(spec), image_height(spec));
    const Cell dt = datatype_cell(TYPE_IMAGE);
    err::raise(err::BAD_TO_ARG, &dt, spec);
}

// ---- mold and form ----------------------------------------------------------------

void hex_byte(std::string& s, uint32_t b) { s.append(string::byte_to_hex(static_cast<uint8_t>(b)), 2); }

void line_break(std::string& s, bool flat, int32_t level) {
    if (flat) return;
    s += '\n';
    s.append(4 * static_cast<size_t>(std::max(level, 0)), ' ');
}

// The text of both form and mold: the size, the R, G, B bytes of every
// pixel from the index and, when any of them is not opaque, their
// transparency bytes.
int32_t write(const Cell* value, node_t out, const datatype::MoldOptions& o, int32_t limit, int32_t indent) {
    const Cell v = *value;
    const uint32_t total = pixel_count(&v);
    const uint32_t from = std::min(series_index(v), total);
    const uint32_t n = total - from;
    std::string s;
    if (!o.only) s += "make image! [";
    s += std::to_string(image_width(&v)) + "x" + std::to_string(image_height(&v));
    // With a length limit, text past it is cut anyway: stop building soon after.
    const auto spent = [&] { return o.part && static_cast<int64_t>(s.size()) > static_cast<int64_t>(limit) + 8; };
    const bool lines = !o.flat && 3 * static_cast<uint64_t>(n) >= 31;
    s += " #{";
    if (lines) line_break(s, false, indent + 1);
    bool translucent = false;
    for (uint32_t i = 0; i < n && !spent(); i++) {
        if (lines && i > 0 && i % PIXELS_PER_LINE == 0) line_break(s, false, indent + 1);
        const uint32_t px = get_pixel(&v, from + i);
        hex_byte(s, px >> 16);
        hex_byte(s, px >> 8);
        hex_byte(s, px);
        translucent = translucent || opacity_of(px) != 255;
    }
    if (lines) line_break(s, false, indent);
    s += "}";
    if (translucent && !spent()) {
        s += " #{";
        line_break(s, o.flat, indent + 1);
        for (uint32_t i = 0; i < n && !spent(); i++) {
            if (i > 0 && i % PIXELS_PER_LINE == 0) line_break(s, o.flat, indent + 1);
            hex_byte(s, 255 - opacity_of(get_pixel(&v, from + i)));
        }
        line_break(s, o.flat, indent);
        s += "}";
    }
    if (!o.only) s += "]";
    text::append_latin1(out, s.data(), s.size());
    return mold::spend(limit, static_cast<int64_t>(s.size()));
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    datatype::MoldOptions o;
    o.part = part;
    return write(value, out, o, limit, 0);
}

// ---- compare -------------------------------------------------------------------------

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_IMAGE) return -2;
    const bool same = series_node(a) == series_node(b) && series_index(a) == series_index(b);
    if (op == CompareOp::Same) return same ? 0 : 1;
    if (!is_equality(op) && op != CompareOp::Sort && op != CompareOp::SortCase) return -2;
    if (same) return 0;
    const uint32_t ca = pixel_count(a), cb = pixel_count(b);
    if (ca != cb) return ca < cb ? -1 : 1;
    const int r = std::memcmp(pixels(a), pixels(b), 4 * static_cast<size_t>(ca));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// ---- positions -----------------------------------------------------------------------

// The pixel a 1-based pick or poke selector names from the index; -1
// outside the image (a pair must also lie inside the rectangle).
int64_t selected(const Cell* v, const Cell* sel) {
    const int64_t index = series_index(v);
    const int64_t w = image_width(v), h = image_height(v);
    int64_t p;
    if (cell::type_of(sel) == TYPE_INTEGER) {
        p = index + integer_value(sel) - 1;
    } else if (cell::type_of(sel) == TYPE_PAIR) {
        const int64_t x = pair_x(sel), y = pair_y(sel);
        if (x < 1 || x > w || y < 1 || y > h) return -1;
        p = index + (y - 1) * w + x - 1;
    } else {
        err::raise(err::INVALID_ARG, sel);
    }
    return p < 0 || p >= w * h ? -1 : p;
}

// at (1-based) and skip (0-based): the new index, clamped to the pixels.
void move_index(bool one_based) {
    Cell* v = stack::arg_base;
    const Cell* offset = v + 1;
    const int64_t index = series_index(v), w = image_width(v);
    int64_t to;
    if (cell::type_of(offset) == TYPE_INTEGER) {
        const int64_t n = integer_value(offset);
        to = index + (one_based && n > 0 ? n - 1 : n);
    } else if (cell::type_of(offset) == TYPE_PAIR) {
        const int64_t x = pair_x(offset), y = pair_y(offset);
        to = one_based ? index + (y - 1) * w + x - 1 : index + y * w + x;
    } else {
        err::raise(err::INVALID_ARG, offset);
    }
    series_index(v) = static_cast<uint32_t>(std::clamp<int64_t>(to, 0, pixel_count(v)));
}

void at_slot() { move_index(true); }
void skip_slot() { move_index(false); }

int32_t length_slot(Cell* series) { return static_cast<int32_t>(pixel_count(series)); }

Cell* pick_slot(Cell* series, int32_t, Cell* index_cell) {
    const int64_t p = selected(series, index_cell);
    if (p < 0) return &shared::none;
    static Cell result;
    result = tuple_of_pixel(get_pixel(series, static_cast<uint32_t>(p)));
    return &result;
}

Cell* poke_at(Cell* series, Cell* sel, Cell* value) {
    const int64_t p = selected(series, sel);
    if (p < 0) err::raise(err::OUT_OF_RANGE, sel);
    if (cell::type_of(value) != TYPE_TUPLE) err::raise(err::INVALID_ARG, value);
    const series_type::Report report(series, words::w_poke, value, static_cast<int32_t>(p), 1);
    set_pixel(series, static_cast<uint32_t>(p), pixel_of_tuple(value));
    report.after(words::w_poked, value, static_cast<int32_t>(p), 1);
    return value;
}

Cell* poke_slot(Cell* series, int32_t, Cell* value, Cell* index_cell) { return poke_at(series, index_cell, value); }

// ---- path words ------------------------------------------------------------------------

enum class Channel { Rgb, Alpha, Argb };

Cell* get_channel(const Cell* value, Channel c) {
    const Cell v = *value;
    const uint32_t count = pixel_count(&v);
    const uint32_t per = c == Channel::Rgb ? 3 : c == Channel::Alpha ? 1 : 4;
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * per);
    const uint8_t* p = pixels(&v);
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* px = p + 4 * i;
        uint8_t* o = bytes.data() + static_cast<size_t>(i) * per;
        switch (c) {
            case Channel::Rgb: o[0] = px[2]; o[1] = px[1]; o[2] = px[0]; break;
            case Channel::Alpha: o[0] = static_cast<uint8_t>(255 - px[3]); break;
            case Channel::Argb: std::memcpy(o, px, 4); break;
        }
    }
    return binary::load(bytes.data(), bytes.size());
}

void set_channel(Cell* value, Channel c, const Cell* from) {
    const uint32_t ft = cell::type_of(from);
    if (ft != TYPE_BINARY && ft != TYPE_TUPLE && ft != TYPE_INTEGER)
        err::raise_with_type(err::INVALID_TYPE, ft);
    const series_type::Report report(value, words::w_poke, from, 0, static_cast<int32_t>(pixel_count(value)));
    const uint32_t count = pixel_count(value);
    uint8_t* p = pixels(value);
    if (ft == TYPE_BINARY) {
        const uint8_t* b = binary::head_ptr(from);
        const uint32_t length = binary::length(from);
        switch (c) {
            case Channel::Rgb:
                for (uint32_t i = 0; i < count && 3 * static_cast<uint64_t>(i) + 3 <= length; i++) {
                    p[4 * i] = b[3 * i + 2];
                    p[4 * i + 1] = b[3 * i + 1];
                    p[4 * i + 2] = b[3 * i];
                }
                break;
            case Channel::Alpha:
                for (uint32_t i = 0; i < count && i < length; i++) p[4 * i + 3] = static_cast<uint8_t>(255 - b[i]);
                break;
            case Channel::Argb: std::memcpy(p, b, std::min<size_t>(length, 4 * static_cast<size_t>(count))); break;
        }
    } else {
        const uint32_t colour = ft == TYPE_TUPLE ? pixel_of_tuple(from) : static_cast<uint32_t>(integer_value(from));
        for (uint32_t i = 0; i < count; i++) {
            const uint32_t old = fetch(p + 4 * i);
            switch (c) {
                case Channel::Rgb: store(p + 4 * i, with_opacity(colour, opacity_of(old))); break;
                case Channel::Alpha: {
                    const uint32_t a = ft == TYPE_TUPLE ? tuple_byte(from, 0) : colour & 0xFF;
                    store(p + 4 * i, with_opacity(old, 255 - a));
                    break;
                }
                case Channel::Argb: store(p + 4 * i, colour); break;
            }
        }
    }
    report.after(words::w_poked, from, 0, static_cast<int32_t>(count));
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const Cell path_cell = step.path ? *step.path : shared::none;
    Cell* sel = step.element;
    const uint32_t t = cell::type_of(sel);
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        if (step.new_value) return poke_at(value, sel, step.new_value);
        return pick_slot(value, 0, sel);
    }
    if (!is_all_word(t)) err::raise(err::INVALID_PATH, &path_cell, sel);
    const int32_t sym = symbol::canonical(word_symbol(sel));
    if (sym == symbol::canonical(words::sym_size)) {
        if (step.new_value) err::raise(err::INVALID_PATH, &path_cell, sel);
        static Cell size;
        size = Cell{TYPE_PAIR, 0, 0, 0};
        return pair::make_at(&size, static_cast<int32_t>(image_width(value)), static_cast<int32_t>(image_height(value)));
    }
    Channel c;
    if (sym == symbol::canonical(words::sym_rgb)) c = Channel::Rgb;
    else if (sym == symbol::canonical(words::sym_alpha)) c = Channel::Alpha;
    else if (sym == symbol::canonical(words::sym_argb)) c = Channel::Argb;
    else err::raise(err::INVALID_PATH, &path_cell, sel);
    if (!step.new_value) return get_channel(value, c);
    set_channel(value, c, step.new_value);
    return step.new_value;
}

// ---- copy and change ---------------------------------------------------------------------

Cell* copy_rect(const Cell* value, Cell* result, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    const Cell v = *value;
    if (w == 0 || h == 0) w = h = 0;
    make_blank(result, w, h);
    const uint32_t vw = image_width(&v);
    const uint8_t* from = pixels(&v);
    uint8_t* to = pixels(result);
    for (uint32_t row = 0; row < h; row++)
        std::memcpy(to + 4 * static_cast<size_t>(row) * w, from + 4 * (static_cast<size_t>(y + row) * vw + x),
                    4 * static_cast<size_t>(w));
    return result;
}

[[noreturn]] void bad_part(const Cell* part) {
    const Cell w = *word::make_from_cstr("part");
    err::raise(err::INVALID_REFINE_ARG, &w, part);
}

Cell* copy_slot(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    const int64_t w = image_width(value), h = image_height(value);
    const int64_t index = std::min<int64_t>(series_index(value), w * h);
    if (w == 0 || h == 0) return copy_rect(value, result, 0, 0, 0, 0);
    const int64_t col = index % w, row = index / w;
    int64_t x0 = col, y0 = row, cw = w - col, ch = h - row;
    if (part) {
        const uint32_t pt = cell::type_of(part);
        if (pt == TYPE_PAIR) {
            const int64_t px = pair_x(part), py = pair_y(part);
            if (px < 0 && py < 0) {
                x0 = std::max<int64_t>(col + px, 0);
                y0 = std::max<int64_t>(row + py, 0);
                cw = col - x0;
                ch = row - y0;
            } else {
                cw = std::min(px, w - col);
                ch = std::min(py, h - row);
            }
        } else if (pt == TYPE_IMAGE && series_node(part) == series_node(value)) {
            const int64_t other = std::min<int64_t>(series_index(part), w * h);
            const int64_t a = std::min(index, other), b = std::max(index, other);
            x0 = a % w;
            y0 = a / w;
            cw = b % w - x0;
            ch = b / w - y0;
        } else if (pt == TYPE_INTEGER) {
            err::raise(err::NOT_DONE);
        } else {
            bad_part(part);
        }
    }
    if (cw < 1 || ch < 1) return copy_rect(value, result, 0, 0, 0, 0);
    return copy_rect(value, result, static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), static_cast<uint32_t>(cw),
                     static_cast<uint32_t>(ch));
}

Cell* change_slot(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    if (part != -1 || dup != 1) err::raise(err::NOT_DONE);
    const uint32_t vt = cell::type_of(value);
    if (vt != TYPE_TUPLE && vt != TYPE_IMAGE) err::raise_with_type(err::INVALID_TYPE, vt);
    const uint32_t index = series_index(series), total = pixel_count(series);
    if (index >= total) return series;
    if (vt == TYPE_TUPLE) {
        const series_type::Report report(series, words::w_change, value, static_cast<int32_t>(index), 1);
        set_pixel(series, index, pixel_of_tuple(value));
        report.after(words::w_changed, value, static_cast<int32_t>(index), 1);
        series_index(series) = index + 1;
        return series;
    }
    // The source may be this very image: take its pixels first.
    const Bitmap src = to_bitmap(value);
    const uint32_t w = image_width(series), h = image_height(series);
    const uint32_t col = index % w, row = index / w;
    const uint32_t cw = std::min(src.width, w - col), ch = std::min(src.height, h - row);
    if (cw == 0 || ch == 0) return series;
    const series_type::Report report(series, words::w_change, value, static_cast<int32_t>(index),
                                     static_cast<int32_t>(cw * ch));
    uint8_t* p = pixels(series);
    for (uint32_t r = 0; r < ch; r++)
        std::memcpy(p + 4 * (static_cast<size_t>(row + r) * w + col), src.bgra.data() + 4 * static_cast<size_t>(r) * src.width,
                    4 * static_cast<size_t>(cw));
    report.after(words::w_changed, value, static_cast<int32_t>(index), static_cast<int32_t>(cw * ch));
    series_index(series) = (row + ch - 1) * w + col + cw;
    return series;
}

}  // namespace

bool pixel_bytes(uint64_t width, uint64_t height, uint64_t& bytes) {
    if (width > MAX_SIDE || height > MAX_SIDE) return false;
    bytes = width * height * 4;  // below 2^34: no overflow in 64 bits
    return bytes <= MAX_BYTES;
}

Cell* make_at(Cell* cell, uint32_t width, uint32_t height) {
    cell = make_blank(cell, width, height);
    fill_pixels(cell, {});
    return cell;
}

Cell* load(const Bitmap& bitmap, Cell* cell) {
    cell = make_blank(cell, bitmap.width, bitmap.height);
    const size_t bytes = 4 * static_cast<size_t>(bitmap.width) * bitmap.height;
    if (bitmap.bgra.size() < bytes) err::raise(err::BAD_MEDIA);
    if (bytes) std::memcpy(pixels(cell), bitmap.bgra.data(), bytes);
    return cell;
}

Bitmap to_bitmap(const Cell* value) {
    Bitmap b;
    b.width = image_width(value);
    b.height = image_height(value);
    const uint8_t* p = pixels(value);
    b.bgra.assign(p, p + 4 * static_cast<size_t>(b.width) * b.height);
    return b;
}

uint8_t* pixels(const Cell* value) { return series::head_ptr(buf(value)); }

uint32_t get_pixel(const Cell* value, uint32_t i) { return fetch(pixels(value) + 4 * static_cast<size_t>(i)); }

void set_pixel(const Cell* value, uint32_t i, uint32_t argb) { store(pixels(value) + 4 * static_cast<size_t>(i), argb); }

uint32_t pixel_of_tuple(const Cell* tuple) {
    const uint32_t opacity = tuple_length(tuple) > 3 ? 255u - tuple_byte(tuple, 3) : 255u;
    return opacity << 24 | static_cast<uint32_t>(tuple_byte(tuple, 0)) << 16 |
           static_cast<uint32_t>(tuple_byte(tuple, 1)) << 8 | tuple_byte(tuple, 2);
}

Cell tuple_of_pixel(uint32_t argb) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(argb >> 16), static_cast<uint8_t>(argb >> 8),
                              static_cast<uint8_t>(argb), static_cast<uint8_t>(255 - (argb >> 24))};
    Cell c{TYPE_TUPLE, 0, 0, 0};
    tuple::make_at(&c, bytes, 4);
    return c;
}

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    fill_value_slots(r, {&make, &to, &form, &write, &compare});
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::AT>(r, &at_slot);
    datatype::set_slot<datatype::SKIP>(r, &skip_slot);
    datatype::set_slot<datatype::LENGTH_Q>(r, &length_slot);
    datatype::set_slot<datatype::PICK>(r, &pick_slot);
    datatype::set_slot<datatype::POKE>(r, &poke_slot);
    datatype::set_slot<datatype::COPY>(r, &copy_slot);
    datatype::set_slot<datatype::CHANGE>(r, &change_slot);
    datatype::inherit_slot<datatype::BACK>(r);
    datatype::inherit_slot<datatype::HEAD>(r);
    datatype::inherit_slot<datatype::HEAD_Q>(r);
    datatype::inherit_slot<datatype::INDEX_Q>(r);
    datatype::inherit_slot<datatype::NEXT>(r);
    datatype::inherit_slot<datatype::TAIL>(r);
    datatype::inherit_slot<datatype::TAIL_Q>(r);
    datatype::inherit_slot<datatype::MODIFY>(r);
}

}  // namespace image
}  // namespace qel
