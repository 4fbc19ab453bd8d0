// Test helper: block-like values written in a tiny notation (there is no
// lexer yet) and their mold and form as UTF-8.
//
// Notation: tokens separated by blanks; [ ] and ( ) nest; an integer is
// digits with an optional leading "-"; "integer!", "word!", "block!" and
// "none!" are datatype! values; "#none", "#true" and "#false" the constant
// values; anything else a word!. A leading "~" gives the value the
// new-line flag.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block_mold.hpp"
#include "datatypes/block_search.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"
#include "startup_support.hpp"

namespace qel::testutil {

inline Cell integer_value(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
inline Cell word_value(const char* name) { return *word::make_from_cstr(name); }
inline Cell datatype_value(uint32_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }
inline Cell with_new_line(Cell c) {
    c.header |= cell_flag::NEW_LINE;
    return c;
}

inline Cell new_series(uint32_t type, uint32_t capacity = 4) {
    return Cell{type, 0, memory::alloc_cells(capacity ? capacity : 1), 0};
}

inline void append_cell(const Cell& series, const Cell& value) {
    const Cell v = value;
    *series::reserve_cell(&series) = v;
}

inline Cell at_index(Cell series, uint32_t index) {
    series_index(series) = index;
    return series;
}

namespace detail {

inline Cell read_token(const std::string& t) {
    Cell c;
    std::string s = t;
    const bool nl = !s.empty() && s[0] == '~';
    if (nl) s.erase(0, 1);
    const bool digits = !s.empty() && s.find_first_not_of("-0123456789") == std::string::npos && s != "-";
    if (digits) c = integer_value(std::stoi(s));
    else if (s == "integer!") c = datatype_value(TYPE_INTEGER);
    else if (s == "word!") c = datatype_value(TYPE_WORD);
    else if (s == "block!") c = datatype_value(TYPE_BLOCK);
    else if (s == "none!") c = datatype_value(TYPE_NONE);
    else if (s == "#none") c = shared::none;
    else if (s == "#true") c = Cell{TYPE_LOGIC, 1, 0, 0};
    else if (s == "#false") c = Cell{TYPE_LOGIC, 0, 0, 0};
    else c = word_value(s.c_str());
    return nl ? with_new_line(c) : c;
}

inline std::vector<std::string> tokens(const char* source) {
    std::vector<std::string> out;
    std::string cur;
    auto flush = [&] {
        if (!cur.empty()) out.push_back(cur);
        cur.clear();
    };
    for (const char* p = source; *p; p++) {
        if (*p == ' ' || *p == '\n') {
            flush();
        } else if (std::strchr("[]()", *p)) {
            // A "~" right before an opening bracket flags the block itself.
            if (cur == "~" && (*p == '[' || *p == '(')) {
                out.push_back(std::string("~") + *p);
                cur.clear();
                continue;
            }
            flush();
            out.push_back(std::string(1, *p));
        } else {
            cur += *p;
        }
    }
    flush();
    return out;
}

inline Cell read_into(const std::vector<std::string>& toks, size_t& i, uint32_t type) {
    const Cell b = new_series(type);
    while (i < toks.size()) {
        const std::string& t = toks[i++];
        if (t == "]" || t == ")") break;
        if (t == "[" || t == "(" || t == "~[" || t == "~(") {
            const bool nl = t[0] == '~';
            const char open = t.back();
            Cell inner = read_into(toks, i, open == '[' ? TYPE_BLOCK : TYPE_PAREN);
            append_cell(b, nl ? with_new_line(inner) : inner);
        } else {
            append_cell(b, read_token(t));
        }
    }
    return b;
}

}  // namespace detail

// The values of the source as a new series of the type.
inline Cell read_values(const char* source, uint32_t type = TYPE_BLOCK) {
    const auto toks = detail::tokens(source);
    size_t i = 0;
    return detail::read_into(toks, i, type);
}

// The text and what the budget said about it.
struct Text {
    std::string text;
    int32_t used;  // limit less the budget answered
};

inline Text mold_text(const Cell& v, bool only = false, bool all = false, bool flat = false, int32_t part = -1) {
    const node_t out = text::make_buffer(16);
    const int32_t limit = part < 0 ? 0x7FFFFFFF : part;
    const datatype::MoldOptions options{.only = only, .all = all, .flat = flat, .part = part >= 0};
    const int32_t left = actions::mold(&v, out, options, limit, 0);
    return {text::to_utf8(out), limit - left};
}

inline std::string molded(const Cell& v, bool only = false, bool all = false, bool flat = false) {
    return mold_text(v, only, all, flat).text;
}

inline Text form_text(const Cell& v, int32_t part = -1) {
    const node_t out = text::make_buffer(16);
    const int32_t limit = part < 0 ? 0x7FFFFFFF : part;
    const int32_t left = actions::form(&v, out, part >= 0, limit);
    return {text::to_utf8(out), limit - left};
}

// Every test starts on a runtime of its own.
using BlockValues = StartedRuntime;

}  // namespace qel::testutil
