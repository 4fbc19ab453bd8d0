// The word types: the actions make/to, form, mold, compare and index? that
// all word types share.
//
// Text is turned into a word by a small reader of word syntax below; it
// accepts what the lexer reads as a word, set-word, get-word, lit-word,
// refinement or issue, so make and to behave as if the text were loaded.
#include "datatypes/word.hpp"

#include <string>

#include "datatypes/fills.hpp"
#include "runtime/actions.hpp"
#include "datatypes/text.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::word_type {

// ---- reading word syntax ----------------------------------------------------------

namespace {

bool is_blank(uint32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool ends_token(uint32_t c) {
    return is_blank(c) || c == '[' || c == ']' || c == '(' || c == ')' || c == '{' || c == '}' || c == '"';
}
bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }

// Characters that make the lexer read something else than a name (a file,
// an email, a money value, a path...) or that no name may hold.
bool bad_in_name(uint32_t c) {
    switch (c) {
        case ':': case '/': case '\\': case '@': case '%': case '$': case ',': case ';': case '\'':
        case '#': case '^':
            return true;
        default:
            return c < 32;
    }
}

bool valid_name(const uint32_t* p, size_t n) {
    if (n == 0) return false;
    if (is_digit(p[0])) return false;
    if ((p[0] == '+' || p[0] == '-' || p[0] == '.') && n > 1 && is_digit(p[1])) return false;
    // < starts a tag unless the name is an operator made of < > =.
    if (p[0] == '<') {
        for (size_t i = 0; i < n; i++)
            if (p[i] != '<' && p[i] != '>' && p[i] != '=') return false;
        return true;
    }
    for (size_t i = 0; i < n; i++)
        if (bad_in_name(p[i])) return false;
    return true;
}

}  // namespace

Scanned scan(const uint32_t* cps, size_t n) {
    Scanned r{0, 0, 0, 0};
    size_t i = 0;
    while (i < n && is_blank(cps[i])) i++;
    size_t end = i;
    while (end < n && !ends_token(cps[end])) end++;
    r.consumed = end;
    if (end == i) return r;
    const uint32_t* t = cps + i;
    size_t len = end - i;
    // The slash words (divide and its friends) are plain words.
    bool all_slashes = true;
    for (size_t k = 0; k < len; k++) all_slashes = all_slashes && t[k] == '/';
    if (all_slashes && len <= 2) {
        r = Scanned{TYPE_WORD, i, len, end};
        return r;
    }
    uint32_t type = TYPE_WORD;
    size_t start = i;
    switch (t[0]) {
        case '\'': type = TYPE_LIT_WORD; break;
        case ':': type = TYPE_GET_WORD; break;
        case '/': type = TYPE_REFINEMENT; break;
        case '#': type = TYPE_ISSUE; break;
        default: break;
    }
    if (type != TYPE_WORD) {
        start++;
        len--;
    } else if (len > 1 && t[len - 1] == ':') {
        type = TYPE_SET_WORD;
        len--;
    }
    const uint32_t* name = cps + start;
    if (type == TYPE_ISSUE) {
        // Issues take any run of name characters, digits first included.
        if (len == 0) return r;
        for (size_t k = 0; k < len; k++)
            if (name[k] < 32 || name[k] == '/' || name[k] == ';') return r;
    } else if (!valid_name(name, len)) {
        return r;
    }
    r = Scanned{type, start, len, end};
    return r;
}

// ---- make and to ----------------------------------------------------------------

namespace {

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
    const Cell t = datatype_cell(type);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

int32_t intern_cps(const uint32_t* cps, size_t n) {
    std::string utf8;
    for (size_t i = 0; i < n; i++) {
        uint8_t b[4];
        const uint32_t k = unicode::encode_utf8(cps[i], b);
        utf8.append(reinterpret_cast<const char*>(b), k);
    }
    return symbol::intern(utf8.data(), utf8.size());
}

std::u32string codepoints_of(const Cell* string) {
    std::u32string s;
    const node_t n = series_node(string);
    const uint32_t len = series::buffer_length(n);
    for (uint32_t i = series_index(string); i < len; i++) s.push_back(unicode::codepoint_at(n, i));
    return s;
}

std::u32string codepoints_of_symbol(int32_t sym) {
    const Cell s{TYPE_STRING, 0, symbol::get_string(sym), 0};
    return codepoints_of(&s);
}

// A scanned word: bound in the global context, as loaded text is.
Cell* from_text(Cell* result, const std::u32string& text, uint32_t type) {
    const Scanned sc = scan(reinterpret_cast<const uint32_t*>(text.data()), text.size());
    if (sc.type == 0) err::raise(err::INVALID_CHARS);
    const uint32_t* name = reinterpret_cast<const uint32_t*>(text.data()) + sc.name_start;
    const int32_t sym = intern_cps(name, sc.name_len);
    Cell w = word::make_from_symbol(sym);
    w.header = type;
    *result = w;
    return result;
}

}  // namespace

Cell* make(Cell* result, Cell* spec, uint32_t type) {
    const uint32_t t = cell::type_of(spec);
    switch (t) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: {
            Cell w = *spec;
            w.header = type;
            *result = w;
            return result;
        }
        case TYPE_ISSUE: case TYPE_REFINEMENT: {
            const std::u32string name = codepoints_of_symbol(word_symbol(spec));
            const Scanned sc = scan(reinterpret_cast<const uint32_t*>(name.data()), name.size());
            if (!is_any_word(sc.type) || sc.consumed != name.size()) bad_to(type, spec);
            Cell w = *spec;
            w.header = type;
            *result = w;
            context::bind_word(context::global, result);
            return result;
        }
        case TYPE_STRING:
            return from_text(result, codepoints_of(spec), type);
        case TYPE_CHAR:
            return from_text(result, std::u32string(1, static_cast<char32_t>(char_code(spec))), type);
        case TYPE_DATATYPE: {
            const Cell* name = datatype::entry(datatype_id(spec)).word;
            if (!name) bad_to(type, spec);
            Cell w = *name;
            w.header = type;
            *result = w;
            return result;
        }
        case TYPE_LOGIC: {
            Cell w = word::make_from_symbol(logic_value(spec) ? words::sym_true : words::sym_false);
            w.header = type;
            *result = w;
            return result;
        }
        default:
            bad_to(type, spec);
    }
}

// ---- form, mold, compare ------------------------------------------------------------

int32_t form(const Cell* value, node_t out, bool, int32_t limit) {
    const node_t name = symbol::get_string(word_symbol(value));
    const uint32_t len = series::buffer_length(name);
    text::append_text(out, name, 0, len);
    return limit - static_cast<int32_t>(len);
}

namespace {

int32_t mold_word(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return form(value, out, options.part, limit);
}

int32_t mold_set_word(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    const int32_t left = form(value, out, options.part, limit);
    text::append_latin1(out, ":", 1);
    return left - 1;
}

int32_t mold_prefixed(const char* prefix, const Cell* value, node_t out, bool part, int32_t limit) {
    text::append_latin1(out, prefix, 1);
    return form(value, out, part, limit - 1);
}

int32_t mold_lit_word(const Cell* v, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return mold_prefixed("'", v, out, options.part, limit);
}
int32_t mold_get_word(const Cell* v, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return mold_prefixed(":", v, out, options.part, limit);
}
int32_t mold_refinement(const Cell* v, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return mold_prefixed("/", v, out, options.part, limit);
}

// The names as strings: upper-cased unless case counts, then by length.
// Reads the names' UTF-8 text as it is kept: the string form of a symbol
// is made on first use, and an allocation here could move the cells a sort
// is ordering.
int32_t compare_names(int32_t s1, int32_t s2, bool case_sensitive) {
    const auto* a = reinterpret_cast<const uint8_t*>(symbol::name(s1));
    const auto* b = reinterpret_cast<const uint8_t*>(symbol::name(s2));
    const uint8_t* const a_end = a + symbol::name_length(s1);
    const uint8_t* const b_end = b + symbol::name_length(s2);
    while (a < a_end && b < b_end) {
        auto x = static_cast<uint32_t>(unicode::decode_utf8(a, a_end));
        auto y = static_cast<uint32_t>(unicode::decode_utf8(b, b_end));
        if (!case_sensitive) {
            x = unicode::to_upper(x);
            y = unicode::to_upper(y);
        }
        if (x != y) return x > y ? 1 : -1;
    }
    return (a < a_end) - (b < b_end);
}

int32_t eq(bool same) { return same ? 0 : 1; }

}  // namespace

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    const uint32_t ta = cell::type_of(a), tb = cell::type_of(b);
    if ((tb == TYPE_ISSUE && ta != TYPE_ISSUE) || !is_all_word(tb)) return -2;
    const int32_t sa = word_symbol(a), sb = word_symbol(b);
    switch (op) {
        case CompareOp::Equal: case CompareOp::NotEqual: case CompareOp::Find:
            return eq(symbol::canonical(sa) == symbol::canonical(sb));
        case CompareOp::StrictEqual:
            return eq(ta == tb && sa == sb);
        case CompareOp::Same:
            return eq(sa == sb && word_context(a) == word_context(b) && ta == tb);
        case CompareOp::WordCase: case CompareOp::Word: {
            const bool ids = op == CompareOp::WordCase ? sa == sb : symbol::canonical(sa) == symbol::canonical(sb);
            const bool word_and_lit = (ta == TYPE_WORD && tb == TYPE_LIT_WORD) ||
                                      (ta == TYPE_LIT_WORD && tb == TYPE_WORD);
            return eq(ids && (word_and_lit || ta == tb));
        }
        default:
            return compare_names(sa, sb, op == CompareOp::SortCase);
    }
}

namespace {

void index_q() {
    Cell* w = stack::arg_base;
    const int32_t index = word_index(w);
    if (index < 0) *w = shared::none;
    else *w = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index + 1), 0};
}

void clear_all(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
}

}  // namespace

void fill(datatype::Record& r) {
    clear_all(r);
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold_word);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::INDEX_Q>(r, &index_q);
}

// The children keep make, to, form, compare and index? of word! and bring
// their own mold; refinement! has no index.
namespace {
void fill_child(datatype::Record& r, datatype::MoldFn* mold) {
    for (uint32_t s = 0; s < datatype::ACTION_SLOTS; s++)
        if (s != datatype::MAKE && s != datatype::TO && s != datatype::FORM && s != datatype::COMPARE &&
            s != datatype::INDEX_Q)
            r.actions[s] = nullptr;
    datatype::set_slot<datatype::MOLD>(r, mold);
}
}  // namespace

void fill_set_word(datatype::Record& r) { fill_child(r, &mold_set_word); }
void fill_lit_word(datatype::Record& r) { fill_child(r, &mold_lit_word); }
void fill_get_word(datatype::Record& r) { fill_child(r, &mold_get_word); }
void fill_refinement(datatype::Record& r) {
    fill_child(r, &mold_refinement);
    r.actions[datatype::INDEX_Q] = nullptr;
}

}  // namespace qel::word_type
