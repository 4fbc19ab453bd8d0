// Load routines of the value tokens whose values are core types or float!.
// Every routine is called twice when a scan both checks and loads: with
// load clear it only validates, so the checks come first and nothing is
// allocated before the text is known to be good.
#include "lexer/loaders.hpp"

#include <cstring>
#include <limits>
#include <string>

#include "runtime/base_n.hpp"
#include "datatypes/float_text.hpp"
#include "datatypes/map.hpp"
#include "datatypes/number_text.hpp"
#include "lexer/date_time_loaders.hpp"
#include "lexer/tables.hpp"
#include "runtime/context.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::lexer {

BuildFn build_map = nullptr;

namespace {

LoadFn installed[tables::TOKEN_CLASSES] = {};

// The literal of a datatype that has no loader.
void load_missing(State& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    error_invalid(s, s.token_type, start);
}

inline bool ascii_iequal(const uint8_t* p, const uint8_t* end, const char* word) {
    const size_t n = std::strlen(word);
    if (static_cast<size_t>(end - p) < n) return false;
    for (size_t i = 0; i < n; i++) {
        uint8_t b = p[i];
        if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
        if (b != static_cast<uint8_t>(word[i])) return false;
    }
    return true;
}

// Escape names inside "^(...)".
struct EscapeName {
    const char* name;
    uint32_t cp;
};
constexpr EscapeName ESCAPE_NAMES[] = {{"null", 0}, {"back", 8},  {"tab", 9},  {"line", 10},
                                       {"page", 12}, {"esc", 27}, {"del", 127}};

// Hex digits of a "^(...)" code: how many there are before ")", 0 when the
// parenthesis holds something else.
uint32_t hex_code_digits(const uint8_t* p, const uint8_t* end) {
    uint32_t n = 0;
    while (p + n < end && binary::hex_value(p[n]) >= 0) n++;
    return (n >= 1 && n <= 6 && p + n < end && p[n] == ')') ? n : 0;
}

// The next character of a text token, escapes decoded; -1 when the text is
// malformed there.
inline int32_t next_char(const uint8_t*& p, const uint8_t* end, bool escapes) {
    const uint8_t b = *p;
    if (b == '^' && escapes) {
        ++p;
        return loaders::caret_escape(p, end);
    }
    if (b < 0x80) {
        ++p;
        return b;
    }
    return unicode::decode_utf8(p, end);
}

Cell word_cell(uint32_t type, const uint8_t* name, const uint8_t* name_end) {
    const int32_t sym = symbol::intern(reinterpret_cast<const char*>(name), static_cast<size_t>(name_end - name));
    if (type == TYPE_ISSUE || type == TYPE_REFINEMENT) {
        // Never looked up in a context: bound to the global one without
        // making it a field there.
        return Cell{type, context::global, static_cast<uint32_t>(sym), static_cast<uint32_t>(-1)};
    }
    Cell w = word::make_from_symbol(sym);
    cell::set_type(&w, type);
    return w;
}

bool valid_utf8(const uint8_t* start, const uint8_t* end) {
    return unicode::find_invalid_utf8(start, end) == nullptr;
}

// A name token (issue, refinement): at least one character, well-formed.
void load_name(State& s, const uint8_t* start, const uint8_t* end, uint32_t type, bool load) {
    const uint8_t* name = start + 1;
    if (name >= end || !valid_utf8(name, end)) error_invalid(s, type, start);
    if (load) push_value(s, word_cell(type, name, end));
}

// ---- numbers: the one place that calls the number text converters ----------

// A float literal's value; false when the text is no float literal.
bool float_of(const uint8_t* start, const uint8_t* end, double& out, int32_t adjust = 0) {
    const size_t n = static_cast<size_t>(end - start);
    if (n >= number_text::FLOAT_TEXT_LIMIT) return false;
    const char* text = reinterpret_cast<const char*>(start);
    if (!number_text::float_syntax(text, n)) return false;
    char buf[number_text::FLOAT_TEXT_LIMIT];
    size_t k = 0;
    for (size_t i = 0; i < n; i++)
        if (text[i] != '\'') buf[k++] = text[i];
    size_t unparsed = 0;
    out = float_text::parse(buf, buf + k, adjust, &unparsed);
    return unparsed == 0;
}

// A decimal integer literal; false on overflow of the 32-bit range.
bool integer_of(const uint8_t* start, const uint8_t* end, int32_t& out) {
    int32_t status = 0;
    out = number_text::scan_decimal_integer(start, static_cast<uint32_t>(end - start), 1, &status);
    return status == number_text::STATUS_OK;
}

}  // namespace

LoadFn loader_of(uint32_t klass) {
    if (klass >= tables::TOKEN_CLASSES) return load_missing;
    return installed[klass] ? installed[klass] : load_missing;
}

void reset_loaders() {
    for (auto& f : installed) f = nullptr;
    installed[T_STRING] = loaders::load_string;
    installed[T_WORD] = loaders::load_word;
    installed[T_ISSUE] = loaders::load_issue;
    installed[T_INTEGER] = loaders::load_integer;
    installed[T_REFINEMENT] = loaders::load_refinement;
    installed[T_CHAR] = loaders::load_char;
    installed[T_FLOAT] = loaders::load_float;
    installed[T_FLOAT_SPECIAL] = loaders::load_float_special;
    installed[T_PERCENT] = loaders::load_percent;
    installed[T_HEX] = loaders::load_hex;
    installed[T_RAW_STRING] = loaders::load_raw_string;
    installed[T_TUPLE] = loaders::load_tuple;
    installed[T_PAIR] = loaders::load_pair;
    installed[T_POINT] = loaders::load_point;
    installed[T_BINARY] = loaders::load_binary;
    installed[T_TIME] = loaders::load_time;
    installed[T_DATE] = loaders::load_date;
    installed[T_FILE] = loaders::load_file;
    installed[T_URL] = loaders::load_url;
    installed[T_TAG] = loaders::load_tag;
    installed[T_EMAIL] = loaders::load_email;
    installed[T_REF] = loaders::load_ref;
    installed[T_MONEY] = loaders::load_money;
    build_map = map::build_literal;
}

namespace loaders {

bool is_unicode_space(uint32_t cp) {
    switch (cp) {
        case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
        case 0x205F: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200B;
    }
}

int32_t caret_escape(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    const uint8_t b = *p;
    if (b == '(') {
        const uint8_t* q = p + 1;
        if (const uint32_t digits = hex_code_digits(q, end)) {
            uint32_t cp = 0;
            for (uint32_t i = 0; i < digits; i++) cp = cp * 16 + static_cast<uint32_t>(binary::hex_value(q[i]));
            if (cp > unicode::MAX_CODEPOINT) return -1;
            p = q + digits + 1;
            return static_cast<int32_t>(cp);
        }
        for (const EscapeName& e : ESCAPE_NAMES) {
            const size_t n = std::strlen(e.name);
            if (ascii_iequal(q, end, e.name) && q + n < end && q[n] == ')') {
                p = q + n + 1;
                return static_cast<int32_t>(e.cp);
            }
        }
        return -1;
    }
    if (b >= 0x80) return unicode::decode_utf8(p, end);  // any other character: itself
    ++p;
    switch (b) {
        case '"': return '"';
        case '-': return '\t';
        case '/': return '\n';
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        case '@': return 0;
        default:
            if (b >= 'a' && b <= 'z') return b - 96;
            if (b >= 'A' && b <= '_') return b - 64;
            return b;
    }
}

node_t decode_text(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, uint32_t type, bool load) {
    const bool escapes = (flags & tables::flag::CARET) != 0;
    uint32_t width = tables::unit_width(flags);
    // First pass: the count, the validity, and the widths that codes ask
    // for by their number of digits.
    uint32_t count = 0;
    for (const uint8_t* p = start; p < end;) {
        if (escapes && p[0] == '^' && p + 1 < end && p[1] == '(') {
            const uint32_t digits = hex_code_digits(p + 2, end);
            if (digits > 4) width = 4;
            else if (digits > 2 && width < 2) width = 2;
        }
        const int32_t cp = next_char(p, end, escapes);
        if (cp < 0) error_invalid(s, type, s.token_start);
        if (unicode::unit_for(static_cast<uint32_t>(cp)) > width) width = unicode::unit_for(static_cast<uint32_t>(cp));
        count++;
    }
    if (!load) return 0;
    const node_t n = memory::alloc_codepoints(count, width);
    SeriesBuffer* buf = series::buffer_of(n);
    uint8_t* out = series::data(buf);
    if (width == 1 && !escapes) {
        std::memcpy(out, start, count);  // ASCII (or flagged Latin-1 would be wider): byte for byte
    } else {
        uint32_t i = 0;
        for (const uint8_t* p = start; p < end;) {
            const auto cp = static_cast<uint32_t>(next_char(p, end, escapes));
            switch (width) {
                case 1: out[i] = static_cast<uint8_t>(cp); break;
                case 2: reinterpret_cast<uint16_t*>(out)[i] = static_cast<uint16_t>(cp); break;
                default: reinterpret_cast<uint32_t*>(out)[i] = cp; break;
            }
            i++;
        }
    }
    buf->tail = buf->head + count * width;
    return n;
}

void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // The token runs from the opening to the closing double quote.
    const node_t n = decode_text(s, start + 1, end - 1, flags, TYPE_STRING, load);
    if (load) push_value(s, Cell{TYPE_STRING, 0, n, 0});
}

void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* open = start;
    while (*open == '%') open++;
    const auto n = static_cast<size_t>(open - start);
    // open is at "{"; the text ends before "}" and n "%", and is taken as
    // written: no escapes.
    const node_t text = decode_text(s, open + 1, end - 1 - n, flags & ~tables::flag::CARET, TYPE_STRING, load);
    if (load) push_value(s, Cell{TYPE_STRING, 0, text, 0});
}

const uint8_t* raw_string_end(const uint8_t* start, const uint8_t* end) {
    const uint8_t* open = start;
    while (open < end && *open == '%') open++;
    if (open >= end || *open != '{') return nullptr;
    const auto n = static_cast<size_t>(open - start);
    for (const uint8_t* p = open + 1; p < end; p++) {
        if (*p != '}') continue;
        size_t k = 0;
        while (k < n && p + 1 + k < end && p[1 + k] == '%') k++;
        if (k == n) return p + 1 + n;
    }
    return nullptr;
}

uint32_t word_kind(const uint8_t* start, const uint8_t* end, const uint8_t*& name, const uint8_t*& name_end) {
    name = start;
    name_end = end;
    const bool set = end - start > 1 && end[-1] == ':';
    uint32_t type = TYPE_WORD;
    if (*start == ':') {
        if (set) return 0;
        type = TYPE_GET_WORD;
        name++;
    } else if (*start == '\'') {
        if (set) return 0;
        type = TYPE_LIT_WORD;
        name++;
    } else if (set) {
        type = TYPE_SET_WORD;
        name_end--;
    }
    return name < name_end ? type : 0;
}

void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t *name, *name_end;
    const uint32_t type = word_kind(start, end, name, name_end);
    if (!type) error_invalid(s, TYPE_WORD, start);
    if (!valid_utf8(name, name_end)) error_invalid(s, type, start);
    s.token_type = type;
    if (load) push_value(s, word_cell(type, name, name_end));
}

void load_issue(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    load_name(s, start, end, TYPE_ISSUE, load);
}

void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    load_name(s, start, end, TYPE_REFINEMENT, load);
}

void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // #"x": the text between the quotes is exactly one character or escape.
    const uint8_t* p = start + 2;
    const uint8_t* text_end = end - 1;
    if (p >= text_end) error_invalid(s, TYPE_CHAR, start);
    const int32_t cp = next_char(p, text_end, (flags & tables::flag::CARET) != 0);
    if (cp < 0 || p != text_end) error_invalid(s, TYPE_CHAR, start);
    if (load) push_value(s, Cell{TYPE_CHAR, 0, static_cast<uint32_t>(cp), 0});
}

void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* p = start;
    if (p < end && (*p == '+' || *p == '-')) p++;
    uint32_t digits = 0;
    for (const uint8_t* q = p; q < end; q++) {
        if (*q == '\'') {
            if (q + 1 < end && q[1] == '\'') error_invalid(s, TYPE_INTEGER, start);
        } else if (is_digit(*q)) {
            digits++;
        } else {
            error_invalid(s, TYPE_INTEGER, start);
        }
    }
    if (digits == 0) error_invalid(s, TYPE_INTEGER, start);
    int32_t value = 0;
    if (digits > 10 || !integer_of(start, end, value)) {
        // Beyond 32 bits the literal is a float!.
        s.token_type = TYPE_FLOAT;
        load_float(s, start, end, flags, load);
        return;
    }
    if (load) push_value(s, Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0});
}

void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d = 0;
    if (!float_of(start, end, d)) error_invalid(s, TYPE_FLOAT, start);
    if (load) {
        Cell c{TYPE_FLOAT, 0, 0, 0};
        cell::put_double(&c, d);
        push_value(s, c);
    }
}

// A number followed by "%": the number read with a decimal exponent of -2,
// so 50% is exactly the double nearest 0.5.
void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d = 0;
    if (end - start < 2 || end[-1] != '%' || !float_of(start, end - 1, d, -2)) error_invalid(s, TYPE_PERCENT, start);
    if (load) {
        Cell c{TYPE_PERCENT, 0, 0, 0};
        cell::put_double(&c, d);
        push_value(s, c);
    }
}

void load_float_special(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    // [+-]d.#INF and d.#NaN, letters in either case.
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    double d = 0;
    if (end - p == 6 && is_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        if (ascii_iequal(p + 3, end, "inf")) d = negative ? -std::numeric_limits<double>::infinity()
                                                        : std::numeric_limits<double>::infinity();
        else if (ascii_iequal(p + 3, end, "nan")) d = std::numeric_limits<double>::quiet_NaN();
        else error_invalid(s, TYPE_FLOAT, start);
    } else {
        error_invalid(s, TYPE_FLOAT, start);
    }
    if (load) {
        Cell c{TYPE_FLOAT, 0, 0, 0};
        cell::put_double(&c, d);
        push_value(s, c);
    }
}

void load_hex(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    // 2 to 8 hex digits and "h"; the value wraps into 32 bits.
    const auto digits = end - start - 1;
    if (digits < 2 || digits > 8 || end[-1] != 'h') error_invalid(s, TYPE_INTEGER, start);
    uint32_t v = 0;
    for (const uint8_t* p = start; p < end - 1; p++) {
        const int h = binary::hex_value(*p);
        if (h < 0) error_invalid(s, TYPE_INTEGER, start);
        v = v << 4 | static_cast<uint32_t>(h);
    }
    s.token_type = TYPE_INTEGER;
    if (load) push_value(s, Cell{TYPE_INTEGER, 0, v, 0});
}

}  // namespace loaders


}  // namespace qel::lexer
