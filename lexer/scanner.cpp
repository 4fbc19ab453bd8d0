// The scan loop, the structural tokens, nesting, tracing and the syntax
// errors of the lexer.
//
// Errors travel two ways. While loading they are language errors raised at
// once. While only checking (/scan, /prescan) or when a trace callback
// swallows one, they end the token through the lexer's own exit code; each
// routine call is a catch point for it, so a swallowed error drops just
// the token and a checking scan ends with its verdict.
#include "lexer/scanner.hpp"

#include <cstring>
#include <string>

#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "lexer/loaders.hpp"
#include "lexer/tables.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/scan_hook.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::lexer {

State* active = nullptr;

namespace {

using namespace tables;

constexpr uint32_t STACK_CELLS = 1000;
constexpr uint32_t SCRATCH_SIZE = 100000;
// Nesting is iterative here, but whatever walks the values afterwards
// (mold, copy, the collector) recurses: deeper structure is refused.
constexpr uint32_t MAX_DEPTH = 10000;
constexpr uint32_t OFFENDING_MAX = 30;

node_t stack_node = 0;
uint8_t* scratch = nullptr;
uint32_t scratch_used = 0;

// ---- the value stack ----------------------------------------------------------

inline SeriesBuffer* stack_buffer() { return series::buffer_of(stack_node); }

// The series tail follows the top so that growing (and compacting) the
// buffer keeps every live cell.
inline void set_top(State& s, uint32_t top) {
    s.top = top;
    stack_buffer()->tail = stack_buffer()->head + top * static_cast<uint32_t>(sizeof(Cell));
}

uint32_t push_cell(State& s, const Cell& c) {
    SeriesBuffer* b = stack_buffer();
    if ((s.top + 1) * sizeof(Cell) > b->size - b->head) {
        b = memory::expand_series(b, b->size * 2);
        if ((s.top + 1) * sizeof(Cell) > b->size - b->head) err::raise(err::NO_MEMORY);
    }
    series::head_cell(b)[s.top] = c;
    set_top(s, s.top + 1);
    return s.top - 1;
}

inline Cell* at(uint32_t i) { return series::head_cell(stack_buffer()) + i; }

// ---- characters and positions ----------------------------------------------------

inline uint32_t class_of(uint8_t b) { return byte_classes[b] & 0xFF; }

// Character offset of p from the start (bytes for binary input), counted
// on from the last position asked for: trace events ask in text order.
uint32_t offset_of(State& s, const uint8_t* p) {
    const auto byte = static_cast<uint32_t>(p - s.start);
    if (!s.chars) return byte;
    if (byte < s.char_byte) {
        s.char_byte = 0;
        s.char_count = 0;
    }
    s.char_count += static_cast<uint32_t>(unicode::count_utf8(s.start + s.char_byte, p));
    s.char_byte = byte;
    return s.char_count;
}

const uint8_t* pointer_of(State& s, uint32_t offset) {
    if (!s.chars) return offset > static_cast<uint32_t>(s.end - s.start) ? s.end : s.start + offset;
    return unicode::skip_utf8(s.start, offset, s.end);
}

// ---- tracing ---------------------------------------------------------------------

bool wants(const State& s, Event e) { return s.tracer && s.tracer->fn && (s.tracer->mask & e); }

// Calls the tracer; a moved input index moves the scan position.
bool fire(State& s, Event e, uint32_t type, uint32_t klass, const uint8_t* from, const uint8_t* to,
          const Cell* value) {
    TraceInfo info;
    info.event = e;
    info.input = s.input;
    const uint32_t index = s.input_index + offset_of(s, s.pos);
    series_index(info.input) = index;
    info.type = type;
    info.klass = klass;
    info.line = s.line;
    if (value) {
        info.token = *value;
    } else {
        const uint32_t a = s.input_index + offset_of(s, from) + 1;
        const uint32_t b = s.input_index + offset_of(s, to) + 1;
        info.token = Cell{TYPE_PAIR, 0, a, b};
    }
    const bool answer = s.tracer->fn(s.tracer->user, info);
    if (series_index(info.input) != index && series_index(info.input) >= s.input_index) {
        s.pos = pointer_of(s, series_index(info.input) - s.input_index);
        s.moved = true;
    }
    return answer;
}

// ---- errors ----------------------------------------------------------------------

Cell text_cell(const uint8_t* p, const uint8_t* end) {
    const node_t n = text::make_buffer(static_cast<uint32_t>(end - p));
    while (p < end) {
        const int32_t cp = unicode::decode_utf8(p, end);
        text::append_codepoint(n, cp < 0 ? unicode::REPLACEMENT : static_cast<uint32_t>(cp));
    }
    return Cell{TYPE_STRING, 0, n, 0};
}

// Up to 30 bytes from at, ending before a line feed, never splitting a
// character.
Cell offending_text(const State& s, const uint8_t* at) {
    if (at < s.start) at = s.start;
    if (at > s.end) at = s.end;
    const uint8_t* stop = at;
    while (stop < s.end && stop - at < OFFENDING_MAX && *stop != '\n' && *stop != 0) stop++;
    if (stop < s.end && stop - at == OFFENDING_MAX)
        while (stop > at && (*stop & 0xC0) == 0x80) stop--;
    return text_cell(at, stop);
}

[[noreturn]] void syntax_error(State& s, int code, const Cell* arg2, const uint8_t* at, uint32_t type) {
    // The second argument is held on the stack before anything else is
    // made: a text of its own would be collected otherwise.
    Cell* p2 = arg2 ? stack::push(arg2) : nullptr;
    if (wants(s, EV_ERROR)) {
        const uint8_t* to = s.token_end && s.token_end > at ? s.token_end : at;
        if (!fire(s, EV_ERROR, type ? type : TYPE_ERROR, T_ERROR, at, to, nullptr)) {
            // Swallowed: only the token goes.
            throw_exit(catch_code::LEXER);
        }
    }
    if (!s.load) {
        s.failed = true;
        throw_exit(catch_code::LEXER);
    }
    const std::string line = "(line " + std::to_string(s.line) + ")";
    const Cell a1 = text_cell(reinterpret_cast<const uint8_t*>(line.data()),
                              reinterpret_cast<const uint8_t*>(line.data()) + line.size());
    Cell* p1 = stack::push(&a1);
    const Cell a3 = offending_text(s, at);
    if (code == err::MALCONSTRUCT || code == err::BAD_CHAR) err::raise(code, p1, &a3);
    err::raise(code, p1, p2, &a3);
}

// ---- markers -----------------------------------------------------------------------

// A marker (its layout beside MARKER_TYPE) records the previous marker, the
// closing type and the opening's byte offset. Its new-line flag passes to
// the value it becomes.
void open_marker(State& s, uint32_t closing, const uint8_t* at) {
    if (s.depth >= MAX_DEPTH) err::raise(err::STACK_OVERFLOW);
    Cell m{MARKER_TYPE | (s.new_line ? cell_flag::NEW_LINE : 0), s.marker + 1, closing,
           static_cast<uint32_t>(at - s.start)};
    s.new_line = false;
    s.marker = push_cell(s, m);
    s.level = s.top;
    s.depth++;
    if (wants(s, EV_OPEN)) fire(s, EV_OPEN, closing, s.token_type, at, s.token_end, nullptr);
}

inline uint32_t closing_of(const State& s) { return s.marker == UINT32_MAX ? 0 : marker_closing(at(s.marker)); }
inline bool in_path(const State& s) {
    const uint32_t t = closing_of(s);
    return is_any_path(t);
}

void value_completed(State& s, uint32_t type) {
    s.completed_now = true;
    if (s.depth == 0) {
        if (s.completed++ == 0) s.first_type = type;
        if (s.mode & (M_NEXT | M_ONE | M_SCAN)) s.stop = true;
    }
}

// Replaces the innermost marker and the cells above it by the value they
// make.
void close_marker(State& s, uint32_t type) {
    const uint32_t m = s.marker;
    const Cell marker = *at(m);
    const uint32_t first = m + 1;
    const uint32_t count = s.top - first;
    Cell value{type | (marker.header & cell_flag::NEW_LINE), 0, 0, 0};
    const uint8_t* opening = s.start + marker_opening(marker);
    if (s.load) {
        if (type == TYPE_MAP) {
            if (!build_map || !build_map(first, count, &value)) error_invalid(s, TYPE_MAP, opening);
            value.header |= marker.header & cell_flag::NEW_LINE;
        } else {
            const node_t n = memory::alloc_cells(count ? count : 1);
            SeriesBuffer* b = series::buffer_of(n);
            std::memcpy(series::data(b), at(first), count * sizeof(Cell));
            b->tail = b->head + count * static_cast<uint32_t>(sizeof(Cell));
            series_node(value) = n;
        }
    }
    set_top(s, m);
    s.marker = marker_previous(marker) - 1;
    s.level = s.marker == UINT32_MAX ? s.base : s.marker + 1;
    s.depth--;
    if (s.load) {
        push_cell(s, value);
        if (wants(s, EV_CLOSE)) fire(s, EV_CLOSE, type, s.token_type, opening, s.token_end, nullptr);
    } else if (wants(s, EV_CLOSE)) {
        fire(s, EV_CLOSE, type, s.token_type, opening, s.token_end, nullptr);
    }
    s.start_state = in_path(s) ? ScanState::Path : ScanState::Start;
    value_completed(s, type);
}

// After a value inside a path, the byte that follows decides: "/" goes on
// to the next element, ":" makes a set-path, a delimiter ends the path.
void continue_path(State& s) {
    if (s.pos >= s.end) {
        close_marker(s, closing_of(s));
        return;
    }
    const uint8_t b = *s.pos;
    const uint32_t c = class_of(b);
    const uint8_t* opening = s.start + marker_opening(at(s.marker));
    if (c == C_SLASH) {
        s.pos++;
        if (s.pos >= s.end) error_invalid(s, closing_of(s), opening);
        s.start_state = ScanState::Path;
        return;
    }
    if (c == C_COLON) {
        if (s.pos + 1 < s.end && s.pos[1] == '/') error_invalid(s, TYPE_PATH, opening);
        if (closing_of(s) != TYPE_PATH) error_invalid(s, closing_of(s), opening);
        s.pos++;
        close_marker(s, TYPE_SET_PATH);
        return;
    }
    switch (c) {
        case C_BLANK: case C_LF: case C_LBRACKET: case C_RBRACKET: case C_LPAREN: case C_RPAREN: case C_LBRACE:
        case C_QUOTE: case C_LESS: case C_SEMICOLON: case C_LETTER: case C_NEVER: case C_END:
            close_marker(s, closing_of(s));
            return;
        default:
            error_invalid(s, closing_of(s), opening);
    }
}

// The closing delimiter's marker: "]" closes blocks and maps, ")" parens.
void close_delimiter(State& s, uint8_t closer, const uint8_t* at_byte) {
    const uint32_t t = closing_of(s);
    const bool fits = closer == ']' ? (t == TYPE_BLOCK || t == TYPE_MAP) : t == TYPE_PAREN;
    if (!fits) error_missing(s, closer == ']' ? '[' : '(', at_byte);
    if (closer == ')' && marker_commas(at(s.marker)) != 0) {
        // A paren with commas can only be a point literal.
        error_invalid(s, TYPE_POINT2D, s.start + marker_opening(at(s.marker)));
    }
    close_marker(s, t);
}

// Whether a point literal follows "(": numbers and commas up to ")".
bool point_follows(const uint8_t* p, const uint8_t* end) {
    bool comma = false, digit = false;
    for (; p < end; p++) {
        const uint32_t c = class_of(*p);
        if (c == C_RPAREN) return comma && digit;
        if (c == C_COMMA) comma = true;
        else if (c == C_DIGIT || c == C_ZERO) digit = true;
        else if (!(c == C_BLANK || c == C_SHARP || (c >= C_LOWER_E && c <= C_UPPER_HEX) || c == C_DOT ||
                   c == C_PLUS || c == C_MINUS || c == C_LETTER || c == C_RBRACKET))
            return false;
    }
    return false;
}

// ---- structural tokens ----------------------------------------------------------------

// "#(...)": the constant values and the datatypes by name.
void load_construct(State& s, const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start + 2;
    const uint8_t* q = end - 1;
    while (p < q && (*p == ' ' || *p == '\t')) p++;
    while (q > p && (q[-1] == ' ' || q[-1] == '\t')) q--;
    const auto n = static_cast<size_t>(q - p);
    auto is = [&](const char* w) { return std::strlen(w) == n && std::memcmp(p, w, n) == 0; };
    Cell v{};
    if (is("true")) v = Cell{TYPE_LOGIC, 1, 0, 0};
    else if (is("false")) v = Cell{TYPE_LOGIC, 0, 0, 0};
    else if (is("none")) v = Cell{TYPE_NONE, 0, 0, 0};
    else if (is("unset")) v = Cell{TYPE_UNSET, 0, 0, 0};
    else {
        for (uint32_t t = 1; t <= datatype::highest() && t < datatype::TYPE_LIMIT; t++) {
            const char* name = datatype::entry(t).name;
            if (name && is(name)) {
                v = Cell{TYPE_DATATYPE, t, 0, 0};
                break;
            }
        }
        if (v.header == 0) error_malconstruct(s, start);
    }
    s.token_type = cell::type_of(&v);
    if (s.load) push_value(s, v);
    value_completed(s, s.token_type);
}

// "word/": the path opens with its first element.
void open_path(State& s, const uint8_t* start, const uint8_t* end) {
    uint32_t type = TYPE_PATH;
    const uint8_t* name = start;
    if (*name == '\'') type = TYPE_LIT_PATH, name++;
    else if (*name == ':') type = TYPE_GET_PATH, name++;
    if (name >= end || unicode::find_invalid_utf8(name, end)) error_invalid(s, type, start);
    s.token_type = type;
    open_marker(s, type, start);
    if (s.load) {
        const int32_t sym = symbol::intern(reinterpret_cast<const char*>(name), static_cast<size_t>(end - name));
        push_cell(s, word::make_from_symbol(sym));
    }
    s.pos = end + 1;  // past the "/"
    if (s.pos >= s.end) error_invalid(s, type, start);
    s.start_state = ScanState::Path;
}

// ---- the scan loop -----------------------------------------------------------------------

// Token classes whose final byte belongs to the token.
constexpr bool includes_final_byte(uint32_t k) {
    switch (k) {
        case T_BLOCK_OPEN: case T_BLOCK_CLOSE: case T_PAREN_OPEN: case T_PAREN_CLOSE: case T_BRACE_OPEN:
        case T_BRACE_CLOSE: case T_MAP_OPEN: case T_CONSTRUCT: case T_COMMA: case T_STRING: case T_CHAR:
        case T_BINARY: case T_PERCENT: case T_POINT: case T_TAG:
            return true;
        default:
            return false;
    }
}

// The datatype a structural token promises, for /prescan.
uint32_t guessed_type(uint32_t k, uint32_t token_type) {
    switch (k) {
        case T_BLOCK_OPEN: return TYPE_BLOCK;
        case T_PAREN_OPEN: return TYPE_PAREN;
        case T_BRACE_OPEN: return TYPE_STRING;
        case T_MAP_OPEN: return TYPE_MAP;
        case T_PATH: return TYPE_PATH;
        case T_CONSTRUCT: return TYPE_DATATYPE;
        default: return token_type;
    }
}

// Runs one routine inside the lexer's catch point; false when a checking
// scan's error or a swallowed error ended the token.
template <class F>
bool guarded(State& s, F&& routine) {
    bool ok = true;
    catch_region(catch_code::LEXER, routine, [&](uint32_t) { ok = false; });
    return ok;
}

void dispatch(State& s, uint32_t k, const uint8_t* tok, const uint8_t* tend, uint32_t flags) {
    s.pos = tend;
    switch (k) {
        case T_EOF:
            s.pos = s.end;
            return;
        case T_ERROR: {
            if (s.failed_state >= ScanState::RawOpen && s.failed_state <= ScanState::RawClose && *tok == '%') {
                // The automaton closes a raw string at the first "}%"; one
                // opened with more "%" goes on to its own close.
                if (const uint8_t* e = loaders::raw_string_end(tok, s.end)) {
                    s.token_end = e;
                    s.pos = e;
                    s.token_type = TYPE_STRING;
                    loaders::load_raw_string(s, tok, e, flags, s.load);
                    value_completed(s, TYPE_STRING);
                    return;
                }
                error_invalid(s, TYPE_STRING, tok);
            }
            if (s.brace_depth) error_invalid(s, TYPE_STRING, s.brace_start - 1);
            const uint32_t type = rows[row_of(s.failed_state)].type;
            if (type == 0) error_bad_char(s, tok);
            error_invalid(s, type, tok);
        }
        case T_BLOCK_OPEN: open_marker(s, TYPE_BLOCK, tok); s.start_state = ScanState::Start; return;
        case T_MAP_OPEN: open_marker(s, TYPE_MAP, tok); s.start_state = ScanState::Start; return;
        case T_BLOCK_CLOSE: close_delimiter(s, ']', tok); return;
        case T_PAREN_CLOSE: close_delimiter(s, ')', tok); return;
        case T_PAREN_OPEN:
            if (point_follows(tend, s.end)) {
                s.point_line = s.line;
                s.brace_start = tok;  // the point's token starts at its "("
                s.pos = tend;
                s.start_state = ScanState::Point;
                return;
            }
            open_marker(s, TYPE_PAREN, tok);
            s.start_state = ScanState::Start;
            return;
        case T_POINT: {
            const uint8_t* from = s.brace_start;
            s.brace_start = nullptr;
            s.start_state = in_path(s) ? ScanState::Path : ScanState::Start;
            s.token_type = TYPE_POINT2D;
            loader_of(T_POINT)(s, from, tend, flags, s.load);
            value_completed(s, s.token_type);
            return;
        }
        case T_BRACE_OPEN:
            if (s.brace_depth++ == 0) {
                s.brace_start = tend;
                s.brace_flags = 0;
                s.brace_new_line = s.new_line;
                s.new_line = false;
                if (wants(s, EV_OPEN)) fire(s, EV_OPEN, TYPE_STRING, k, tok, tend, nullptr);
            }
            s.brace_flags |= flags;
            s.start_state = ScanState::BraceString;
            return;
        case T_BRACE_CLOSE: {
            s.brace_flags |= flags;
            if (s.brace_depth == 0) error_missing(s, '{', tok);
            if (--s.brace_depth > 0) return;
            s.start_state = in_path(s) ? ScanState::Path : ScanState::Start;
            const uint8_t* text = s.brace_start;
            s.token_start = text - 1;
            s.token_type = TYPE_STRING;
            s.new_line = s.brace_new_line;
            const node_t n = loaders::decode_text(s, text, tend - 1, s.brace_flags, TYPE_STRING, s.load);
            if (s.load) push_value(s, Cell{TYPE_STRING, 0, n, 0});
            if (wants(s, EV_CLOSE)) fire(s, EV_CLOSE, TYPE_STRING, k, text - 1, tend, nullptr);
            value_completed(s, TYPE_STRING);
            return;
        }
        case T_PATH: open_path(s, tok, tend); return;
        case T_CONSTRUCT: load_construct(s, tok, tend); return;
        case T_COMMENT:
            if (wants(s, EV_SCAN)) fire(s, EV_SCAN, 0, k, tok, tend, nullptr);
            return;
        case T_COMMA:
            if (closing_of(s) != TYPE_PAREN) error_bad_char(s, tok);
            add_marker_comma(at(s.marker));
            return;
        default: break;
    }
    // Value tokens: a check first when it is all we do or someone watches,
    // then the load.
    LoadFn fn = loader_of(k);
    if (!s.load || wants(s, EV_SCAN)) {
        const bool load = s.load;
        s.load = false;
        struct Restore {
            State& s;
            bool load;
            ~Restore() { s.load = load; }
        } restore{s, load};
        fn(s, tok, tend, flags, false);
        if (wants(s, EV_SCAN)) fire(s, EV_SCAN, s.token_type, k, tok, tend, nullptr);
    }
    if (s.load) {
        const uint32_t top = s.top;
        fn(s, tok, tend, flags, true);
        if (wants(s, EV_LOAD) && s.top > top) {
            const Cell v = *at(s.top - 1);
            if (!fire(s, EV_LOAD, s.token_type, k, tok, tend, &v)) set_top(s, top);
        }
    }
    value_completed(s, s.token_type);
}

// Scans the state's whole input (or one value when it stops early).
void run(State& s) {
    int32_t carried_lines = 0;  // line feeds before a token that was stepped over
    while (s.pos < s.end && !s.stop) {
        const uint8_t* p = s.pos;
        const uint8_t* const end = s.end;
        uint32_t state = row_of(s.start_state);
        uint32_t prev = state;
        uint32_t flags = 0;
        const int32_t line0 = s.line;
        int32_t token_line = s.line;
        const uint8_t* tok = p;
        for (;;) {
            if (p == end) {
                prev = state;
                state = transitions[state][END_CLASS];
                break;
            }
            const uint32_t entry = byte_classes[*p];
            const uint32_t c = entry & 0xFF;
            const uint32_t next = transitions[state][c];
            if (next >= FINAL) {
                prev = state;
                state = next;
                if (tok == p) flags |= entry & ~0xFFu;
                break;
            }
            p++;
            if (c == C_LF) s.line++;
            if (next == row_of(ScanState::Start) && state == row_of(ScanState::Start)) {
                tok = p;  // leading blanks and line feeds are no part of the token
                token_line = s.line;
            } else {
                flags |= entry & ~0xFFu;
            }
            state = next;
        }
        uint32_t k = state - FINAL;
        // A file name in double quotes ends with its closing quote.
        const bool closed = includes_final_byte(k) || (k == T_FILE && prev == row_of(ScanState::QuotedFile));
        const uint8_t* tend = closed && p < end ? p + 1 : p;
        if (k == T_ERROR && tend == tok && tok < end) tend = tok + 1;
        s.failed_state = static_cast<ScanState>(prev);
        s.last_class = k;
        // Blanks of other scripts separate words: a word that starts with
        // them is stepped over, one that holds them ends there.
        if (k == T_WORD && (flags & (flag::LEAD_2_3 | flag::LEAD_4))) {
            const uint8_t* q = tok;
            uint32_t size = 1;
            while (q < tend) {
                const int32_t cp = unicode::decode_one(q, tend, size);
                if (cp < 0 || !loaders::is_unicode_space(static_cast<uint32_t>(cp))) break;
                q += size;
            }
            if (q > tok) {
                carried_lines += token_line - line0;
                s.pos = q;
                continue;
            }
            for (q = tok; q < tend; q += size) {
                const int32_t cp = unicode::decode_one(q, tend, size);
                if (cp >= 0 && loaders::is_unicode_space(static_cast<uint32_t>(cp))) {
                    tend = q;
                    flags = 0;
                    for (const uint8_t* r = tok; r < tend; r++) flags |= byte_classes[*r] & ~0xFFu;
                    break;
                }
            }
        }
        s.new_line = (token_line - line0) + carried_lines > 0;
        carried_lines = 0;
        s.token_start = tok;
        s.token_end = tend;
        s.token_type = k == T_ERROR ? rows[prev].type : token_types[k];
        s.moved = false;
        if (s.start_state != ScanState::BraceString && wants(s, EV_PRESCAN) && k != T_EOF) {
            const bool keep = fire(s, EV_PRESCAN, s.token_type, k, tok, tend, nullptr);
            if (!keep || s.moved) {
                if (!s.moved) s.pos = tend > s.pos ? tend : s.pos + 1;
                continue;
            }
        }
        if (s.mode & M_PRESCAN) {
            // The structural tokens only: the first real token names the type.
            if (k == T_COMMENT || k == T_EOF) {
                s.pos = k == T_EOF ? s.end : tend;
                continue;
            }
            s.first_type = k == T_ERROR ? TYPE_ERROR : guessed_type(k, s.token_type);
            if (k == T_STRING && !guarded(s, [&] { loaders::decode_text(s, tok + 1, tend - 1, flags, TYPE_STRING, false); }))
                s.first_type = TYPE_ERROR;
            s.pos = tend;
            s.stop = true;
            break;
        }
        const bool ok = guarded(s, [&] {
            s.completed_now = false;
            dispatch(s, k, tok, tend, flags);
            if (s.completed_now && in_path(s)) continue_path(s);
        });
        if (!ok) {
            if (s.failed) return;
            // A swallowed error: the scan goes on after the token.
            if (!s.moved) s.pos = tend > tok ? tend : tok + 1;
            s.start_state = in_path(s) ? ScanState::Path : ScanState::Start;
            if (s.brace_depth) s.brace_depth = 0;
        }
    }
}

// The checks at the end of the input: open brace strings and markers.
void finish(State& s) {
    if (s.stop || s.failed) return;
    if (s.brace_depth) error_invalid(s, TYPE_STRING, s.brace_start - 1);
    while (s.marker != UINT32_MAX && s.depth > 0) {
        const Cell m = *at(s.marker);
        const uint32_t t = marker_closing(m);
        if (is_any_path(t)) {
            close_marker(s, t);
            continue;
        }
        error_missing(s, t == TYPE_PAREN ? ')' : ']', s.start + marker_opening(m));
    }
}

struct ScratchText {
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    uint32_t saved_used = 0;
    bool temporary = false;
    explicit ScratchText(size_t n) {
        saved_used = scratch_used;
        if (n + 1 > SCRATCH_SIZE - scratch_used) {
            // The free part is too small: a block of its own, sized by the
            // real encoded length.
            bytes = static_cast<uint8_t*>(heap::alloc(n + 1));
            temporary = true;
        } else {
            bytes = scratch + scratch_used;
            scratch_used += static_cast<uint32_t>(n + 1);
        }
        length = static_cast<uint32_t>(n);
    }
    ~ScratchText() {
        if (temporary) heap::free(bytes);
        scratch_used = saved_used;
    }
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;
};

}  // namespace

// ---- for the routines ----------------------------------------------------------------

uint32_t push_value(State& s, const Cell& value) {
    Cell v = value;
    if (s.new_line) v.header |= cell_flag::NEW_LINE;
    s.new_line = false;
    return push_cell(s, v);
}

Cell* stack_cell(uint32_t index) { return at(index); }

void error_invalid(State& s, uint32_t type, const uint8_t* at_byte) {
    const Cell t{TYPE_DATATYPE, type ? type : TYPE_ERROR, 0, 0};
    syntax_error(s, err::INVALID, &t, at_byte, type);
}

void error_missing(State& s, uint32_t closing_char, const uint8_t* at_byte) {
    const char c = static_cast<char>(closing_char);
    const Cell t = text_cell(reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + 1);
    syntax_error(s, err::MISSING, &t, at_byte, TYPE_ERROR);
}

void error_bad_char(State& s, const uint8_t* at_byte) { syntax_error(s, err::BAD_CHAR, nullptr, at_byte, 0); }

void error_malconstruct(State& s, const uint8_t* at_byte) {
    syntax_error(s, err::MALCONSTRUCT, nullptr, at_byte, TYPE_DATATYPE);
}

// ---- start-up ---------------------------------------------------------------------

namespace {

// block!'s conversion of a text: every value of the text, in a new block.
// The scans the datatypes below ask for through scan_hook.
uint32_t scan_for_datatypes(const Cell* text, scan_hook::Scan what, Cell* out) {
    switch (what) {
        case scan_hook::Scan::Check: return scan_string(text, -1, nullptr, 0, false, nullptr, nullptr);
        case scan_hook::Scan::FirstType: return scan_string(text, -1, nullptr, M_SCAN, false, nullptr, nullptr);
        case scan_hook::Scan::Values: return scan_string(text, -1, out, 0, true, nullptr, nullptr);
        case scan_hook::Scan::FirstValue: return scan_string(text, -1, out, M_ONE, true, nullptr, nullptr);
    }
    rt::runtime_error(rt::code::NO_SWITCH, rt::here());
}

}  // namespace

void init() {
    scan_hook::scan_text = &scan_for_datatypes;
    scan_hook::value_at = &stack_cell;
    stack_node = memory::alloc_cells(STACK_CELLS);
    *series::reserve_cell(&root_cell) = Cell{TYPE_BLOCK, 0, stack_node, 0};
    heap::free(scratch);
    scratch = static_cast<uint8_t*>(heap::alloc(SCRATCH_SIZE));
    scratch_used = 0;
    active = nullptr;
    reset_loaders();
    collector::add_mark_callback(&mark_gc);
}

// ---- entry points -------------------------------------------------------------------

uint32_t scan(const uint8_t* src, uint32_t length, Cell* out, uint32_t mode, bool load, const Tracer* tracer,
              const Cell* input, uint32_t* consumed) {
    stack::check_depth();
    State s;
    s.start = src;
    s.end = src + length;
    s.pos = src;
    s.mode = mode;
    s.load = load && !(mode & (M_SCAN | M_PRESCAN));
    s.tracer = tracer;
    if (input) {
        s.input = *input;
        s.chars = is_any_string(cell::type_of(input));
        s.input_index = series_index(input);
    }
    // Link in, innermost last; the stack starts above the outer scan's.
    State* outer = active;
    while (outer && outer->next) outer = outer->next;
    s.base = outer ? outer->top : 0;
    s.level = s.base;
    set_top(s, s.base);
    if (outer) outer->next = &s;
    else active = &s;
    struct Unlink {
        State& s;
        State* outer;
        ~Unlink() {
            if (outer) outer->next = nullptr;
            else active = nullptr;
            stack_buffer()->tail = stack_buffer()->head + s.base * static_cast<uint32_t>(sizeof(Cell));
        }
    } unlink{s, outer};

    run(s);
    if (!s.failed) guarded(s, [&] { finish(s); });
    if (consumed) *consumed = offset_of(s, s.pos < s.end ? s.pos : s.end);
    if (s.failed) return TYPE_ERROR;

    if (s.load && out) {
        const uint32_t count = s.top - s.base;
        if (!is_block_like(cell::type_of(out))) block::make_at(out, static_cast<int32_t>(count));
        for (uint32_t i = 0; i < count; i++) {
            const Cell v = *at(s.base + i);
            *series::reserve_cell(out) = v;
        }
    }
    if (mode & (M_SCAN | M_PRESCAN)) return s.first_type;
    return s.token_type;
}

uint32_t scan_string(const Cell* text, int32_t count, Cell* out, uint32_t mode, bool load, const Tracer* tracer,
                     uint32_t* consumed) {
    // Sized by the real UTF-8 length: units wider than one byte may each
    // need up to four bytes.
    const size_t n = unicode::utf8_length(text, count);
    ScratchText staged(n);
    unicode::write_utf8(text, count, staged.bytes, true);
    return scan(staged.bytes, staged.length, out, mode, load, tracer, text, consumed);
}

void transcode(const Cell* input, const Options& o, Cell* result, Cell* rest) {
    const Cell in = *input;
    uint32_t mode = 0;
    if (o.next) mode |= M_NEXT;
    if (o.one) mode |= M_ONE;
    if (o.prescan) mode |= M_PRESCAN;
    if (o.scan) mode |= M_SCAN;
    const bool checking = o.scan || o.prescan;
    Cell* out = stack::push_slot();
    *out = o.into ? *o.into : Cell{TYPE_NONE, 0, 0, 0};
    const uint32_t into_length = o.into ? static_cast<uint32_t>(series::length_of(o.into)) : 0;
    uint32_t consumed = 0;
    uint32_t type = 0;
    if (is_any_string(cell::type_of(&in))) {
        type = scan_string(&in, o.part, out, mode, !checking, o.trace, &consumed);
    } else {
        // binary!: staged in the scratch area, so that the bytes stay put
        // while loading allocates.
        SeriesBuffer* b = series::buffer_of(series_node(in));
        const uint32_t total = series::buffer_length(series_node(in));
        uint32_t n = series_index(in) < total ? total - series_index(in) : 0;
        if (o.part >= 0 && static_cast<uint32_t>(o.part) < n) n = static_cast<uint32_t>(o.part);
        ScratchText staged(n);
        std::memcpy(staged.bytes, series::head_ptr(b) + series_index(in), n);
        staged.bytes[n] = 0;
        type = scan(staged.bytes, n, out, mode, !checking, o.trace, &in, &consumed);
    }
    if (checking) {
        *result = type ? Cell{TYPE_DATATYPE, type, 0, 0} : Cell{TYPE_NONE, 0, 0, 0};
    } else if (o.next || o.one) {
        if (cell::type_of(out) == TYPE_BLOCK && static_cast<uint32_t>(series::length_of(out)) > into_length) {
            *result = *block::cell_at(out, series_index(out) + into_length);
            cell::clear_new_line(result);
        } else {
            *result = Cell{TYPE_NONE, 0, 0, 0};
        }
    } else {
        *result = *out;
    }
    if (rest) {
        *rest = in;
        series_index(rest) = series_index(in) + consumed;
    }
    stack::pop_n(1);
}

void load_text(const char* utf8, size_t length, Cell* result) {
    Cell* out = stack::push_slot();
    *out = Cell{TYPE_NONE, 0, 0, 0};
    // The text may lie anywhere: staged like a binary input.
    ScratchText staged(length);
    std::memcpy(staged.bytes, utf8, length);
    staged.bytes[length] = 0;
    scan(staged.bytes, static_cast<uint32_t>(length), out, 0, true, nullptr, nullptr, nullptr);
    *result = *out;
    stack::pop_n(1);
}

void mark_gc(const stack::Marker& m) {
    if (!stack_node) return;
    m.series(&stack_node);
    for (State* s = active; s; s = s->next) {
        SeriesBuffer* b = stack_buffer();
        m.cells(series::head_cell(b) + s->base, series::head_cell(b) + s->top);
        m.cells(&s->input, &s->input + 1);
        if (s->tracer) {
            Cell* callback = const_cast<Cell*>(&s->tracer->callback);
            m.cells(callback, callback + 1);
        }
    }
}

}  // namespace qel::lexer
