// Load routines of the value tokens: strings (with their escapes and the
// raw form), the word kinds, issues, refinements, characters, integers and
// floats. Each checks its token's text and, when loading, pushes the value
// on the scan's value stack; a malformed token raises the lexer's invalid
// error with the token's datatype.
#pragma once
#include <cstdint>

#include "lexer/scanner.hpp"

namespace qel::lexer {

// (state, token start, token end, flags of its bytes, load flag). The token
// includes its delimiters (quotes, braces, a closing ">" and the like).
using LoadFn = void (*)(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// The load routine of a value token class (13-35).
LoadFn loader_of(uint32_t klass);
// Start-up step: fills the table of load routines.
void reset_loaders();

// Closing a map or a point literal needs map! and the point types: they
// build the value from count cells of the value stack starting at first,
// into out, and answer false for parts that do not make one. Until
// installed, or when it answers false, the literal is reported invalid.
using BuildFn = bool (*)(uint32_t first, uint32_t count, Cell* out);
extern BuildFn build_map;

namespace loaders {

// Whether c is a decimal digit (c may be -1 for the end of the text).
inline bool is_digit(int32_t c) { return c >= '0' && c <= '9'; }

// The shared string routine of the string family: the text in [start, end)
// (delimiters excluded) with its escapes decoded, as a new text buffer of
// the unit width the flags ask for. A bad escape or ill-formed UTF-8
// raises invalid with the given datatype; without load it only checks and
// answers 0.
node_t decode_text(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, uint32_t type, bool load);

// The code point of a caret escape at p (just after the "^"), moving p
// past it; -1 when the escape is malformed.
int32_t caret_escape(const uint8_t*& p, const uint8_t* end);

// Whether cp separates words like a blank does.
bool is_unicode_space(uint32_t cp);

// The word kind of a word token, 0 when its colons and quote contradict
// each other; name gets the spelling without them.
uint32_t word_kind(const uint8_t* start, const uint8_t* end, const uint8_t*& name, const uint8_t*& name_end);

// A raw string: any number of "%" then "{", closed by "}" and as many "%".
// Answers the end of the whole literal, or null when it is never closed.
const uint8_t* raw_string_end(const uint8_t* start, const uint8_t* end);

// The built-in loaders.
void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_issue(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float_special(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_hex(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
// tuple!, pair! and point literals (lexer/tuple_loaders.cpp).
void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
// binary! literals (lexer/binary_loader.cpp).
void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
// file!, url!, tag!, email! and ref! literals (lexer/text_loaders.cpp).
void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
// money! literals (lexer/money_loader.cpp).
void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

}  // namespace loaders
}  // namespace qel::lexer
