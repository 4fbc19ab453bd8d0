// The scanner's tables: the class of every byte, the transitions of the
// token automaton and the datatype each scanning state stands for.
//
// The transitions are written as one rule line per state, in the notation
// "classes>target; ...": classes are numbers and ranges of byte classes,
// "*" covers the classes no other rule names, a target "Sn" continues the
// token in state n and "Tn" ends it as token class n. The lines are turned
// into the 66 x 40 byte table at compile time, so the table that the scan
// loop reads is plain data while the source stays reviewable rule by rule.
#pragma once
#include <array>
#include <cstdint>

#include "lexer/scan_state.hpp"
#include "runtime/cell.hpp"

namespace qel::lexer::tables {

constexpr uint32_t CLASSES = 40;
constexpr uint32_t STATES = 66;
constexpr uint32_t TOKEN_CLASSES = 36;
// Transition entries at or above FINAL end the token as class entry - FINAL.
constexpr uint8_t FINAL = 66;
static_assert(STATES <= FINAL, "state numbers stay below the final entries");
constexpr uint32_t END_CLASS = 39;  // byte 0, also taken once at the end of input

// Byte classes.
enum Class : uint8_t {
    C_BLANK = 0, C_LF = 1, C_DIGIT = 2, C_ZERO = 3, C_LBRACKET = 4, C_RBRACKET = 5, C_LPAREN = 6,
    C_RPAREN = 7, C_LBRACE = 8, C_RBRACE = 9, C_QUOTE = 10, C_SHARP = 11, C_APOSTROPHE = 12, C_COLON = 13,
    C_X = 14, C_T = 15, C_H = 16, C_LOWER_E = 17, C_UPPER_E = 18, C_LOWER_HEX = 19, C_UPPER_HEX = 20,
    C_SLASH = 21, C_BACKSLASH = 22, C_LESS = 23, C_GREATER = 24, C_EQUAL = 25, C_PERCENT = 26, C_COMMA = 27,
    C_SEMICOLON = 28, C_AT = 29, C_DOT = 30, C_DOLLAR = 31, C_PLUS = 32, C_MINUS = 33, C_CARET = 34,
    C_CONTROL = 35, C_CONTINUATION = 36, C_LETTER = 37, C_NEVER = 38, C_END = 39,
};

// Flags OR-ed over the bytes of a token. The top two bits give the widest
// character in it: the unit width of a text token is 1 << (flags >> 30),
// capped at 4.
namespace flag {
constexpr uint32_t PERCENT = 0x00040000;
constexpr uint32_t GREATER = 0x00080000;
constexpr uint32_t LESS = 0x00100000;
constexpr uint32_t SIGN = 0x00200000;
constexpr uint32_t NUL = 0x00400000;
constexpr uint32_t SHARP = 0x00800000;
constexpr uint32_t EXPONENT = 0x01000000;
constexpr uint32_t APOSTROPHE = 0x02000000;
constexpr uint32_t COLON = 0x04000000;
constexpr uint32_t COMMA = 0x08000000;
constexpr uint32_t DOT = 0x10000000;
constexpr uint32_t CARET = 0x20000000;
constexpr uint32_t LEAD_2_3 = 0x40000000;
constexpr uint32_t LEAD_4 = 0x80000000;
}  // namespace flag

inline uint32_t unit_width(uint32_t flags) {
    const uint32_t w = 1u << (flags >> 30);
    return w > 4 ? 4 : w;
}

constexpr std::array<uint32_t, 256> make_classes() {
    std::array<uint32_t, 256> t{};
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t c = C_LETTER;
        if (b == 0) c = C_END;
        else if (b == '\t' || b == '\r' || b == ' ') c = C_BLANK;
        else if (b == '\n') c = C_LF;
        else if (b < 32) c = C_CONTROL;
        else if (b >= '1' && b <= '9') c = C_DIGIT;
        else if (b == 127 || (b >= 128 && b <= 191)) c = C_CONTINUATION;
        else if (b == 192 || b == 193 || b >= 248) c = C_NEVER;
        else if (b >= 194) c = C_LETTER;
        else {
            switch (b) {
                case '0': c = C_ZERO; break;
                case '[': c = C_LBRACKET; break;
                case ']': c = C_RBRACKET; break;
                case '(': c = C_LPAREN; break;
                case ')': c = C_RPAREN; break;
                case '{': c = C_LBRACE; break;
                case '}': c = C_RBRACE; break;
                case '"': c = C_QUOTE; break;
                case '#': c = C_SHARP; break;
                case '\'': c = C_APOSTROPHE; break;
                case ':': c = C_COLON; break;
                case 'x': case 'X': c = C_X; break;
                case 'T': c = C_T; break;
                case 'h': c = C_H; break;
                case 'e': c = C_LOWER_E; break;
                case 'E': c = C_UPPER_E; break;
                case 'a': case 'b': case 'c': case 'd': case 'f': c = C_LOWER_HEX; break;
                case 'A': case 'B': case 'C': case 'D': case 'F': c = C_UPPER_HEX; break;
                case '/': c = C_SLASH; break;
                case '\\': c = C_BACKSLASH; break;
                case '<': c = C_LESS; break;
                case '>': c = C_GREATER; break;
                case '=': c = C_EQUAL; break;
                case '%': c = C_PERCENT; break;
                case ',': c = C_COMMA; break;
                case ';': c = C_SEMICOLON; break;
                case '@': c = C_AT; break;
                case '.': c = C_DOT; break;
                case '$': c = C_DOLLAR; break;
                case '+': c = C_PLUS; break;
                case '-': c = C_MINUS; break;
                case '^': c = C_CARET; break;
                default: c = C_LETTER; break;
            }
        }
        uint32_t f = 0;
        switch (b) {
            case '%': f = flag::PERCENT; break;
            case '>': f = flag::GREATER; break;
            case '<': f = flag::LESS; break;
            case '+': case '-': f = flag::SIGN; break;
            case 0: f = flag::NUL; break;
            case '#': f = flag::SHARP; break;
            case 'e': case 'E': f = flag::EXPONENT; break;
            case '\'': f = flag::APOSTROPHE; break;
            case ':': f = flag::COLON; break;
            case ',': f = flag::COMMA; break;
            case '.': f = flag::DOT; break;
            case '^': f = flag::CARET; break;
            default:
                if (b >= 194 && b <= 239) f = flag::LEAD_2_3;
                else if (b >= 240 && b <= 247) f = flag::LEAD_4;
        }
        t[b] = c | f;
    }
    return t;
}

inline constexpr std::array<uint32_t, 256> byte_classes = make_classes();

struct Row {
    uint32_t type;      // datatype of the token while in this state, 0 for none
    const char* rules;
};

// clang-format off
inline constexpr Row rows[STATES] = {
    /* S0  */ {0, "0-1,35>S0;2-3>S23;4>T2;5>T3;6>T4;7>T5;8>T6;9,22,36,38>T1;10>S2;11>S16;12-13>S51;18,20>S40;21>S13;23>S43;25>S58;26>S6;27>T12;28>S1;29>S57;30>S49;31>S36;32-33>S47;39>T0;*>S52"},
    /* S1  */ {0, "1,39>T11;38>T1;*>S1"},
    /* S2  */ {TYPE_STRING, "1,38-39>T1;10>T13;34>S3;*>S2"},
    /* S3  */ {TYPE_STRING, "38-39>T1;*>S2"},
    /* S4  */ {TYPE_STRING, "8>T6;9>T7;34>S5;38-39>T1;*>S4"},
    /* S5  */ {TYPE_STRING, "38-39>T1;*>S4"},
    /* S6  */ {TYPE_FILE, "0-1,4-7,9,28-29,35,39>T14;8>S10;10>S8;13>S54;26>S9;38>T1;*>S7"},
    /* S7  */ {TYPE_FILE, "0-1,4-9,13,28-29,39>T19;10,38>T1;*>S7"},
    /* S8  */ {TYPE_FILE, "1,38-39>T1;10>T19;34>S65;*>S8"},
    /* S9  */ {TYPE_FILE, "0-1,4-7,9-10,22,28,35,39>T14;8>S10;26>S9;38>T1;*>S7"},
    /* S10 */ {TYPE_STRING, "9>S11;38-39>T1;*>S10"},
    /* S11 */ {TYPE_STRING, "9>S11;26>S12;38-39>T1;*>S10"},
    /* S12 */ {TYPE_STRING, "0-1,4-8,10,23,28,35,39>T34;26>S12;*>T1"},
    /* S13 */ {TYPE_WORD, "0-1,4-11,28-29,35,39>T14;13>S53;21>S15;27,38>T1;*>S14"},
    /* S14 */ {TYPE_REFINEMENT, "0-1,4-10,21,28-29,35,39>T17;13,27,38>T1;*>S14"},
    /* S15 */ {TYPE_WORD, "0-1,4-11,28-29,35,39>T14;21>S15;26-27,31,38>T1;*>S52"},
    /* S16 */ {TYPE_ISSUE, "0-1,5,7,9,13,23-24,27,38>T1;4>T8;6>S21;8>S17;10>S19;28-29,35,39>T15;*>S22"},
    /* S17 */ {TYPE_BINARY, "0-3,14-21,25,32,37>S17;9>T20;28>S18;*>T1"},
    /* S18 */ {0, "1>S17;38-39>T1;*>S18"},
    /* S19 */ {TYPE_CHAR, "10>T18;34>S20;38-39>T1;*>S19"},
    /* S20 */ {TYPE_CHAR, "38-39>T1;*>S19"},
    /* S21 */ {0, "7>T10;38-39>T1;*>S21"},
    /* S22 */ {TYPE_ISSUE, "0-1,4-10,28-29,35,39>T15;13,21,38>T1;*>S22"},
    /* S23 */ {TYPE_INTEGER, "2-3,12>S23;11>S16;13>S31;14>S33;15,21,33>S30;16>S42;17>S26;18>S27;19,22,24-25,31-32,34,36-38>T1;20>S39;26>T21;29>S56;30>S24;*>T16"},
    /* S24 */ {TYPE_FLOAT, "0-1,4-10,21,23,27-28,35,39>T22;2-3,12>S25;11>S28;14>S33;17-18>S26;26>T21;*>T1"},
    /* S25 */ {TYPE_FLOAT, "2-3,12>S25;11,15-16,19-20,22,24-25,31-34,36-38>T1;14>S33;17-18>S26;26>T21;29>S56;30>S29;*>T22"},
    /* S26 */ {TYPE_FLOAT, "0-1,4-10,13,21,23,27-28,35,39>T22;2-3,32-33>S26;29>S56;*>T1"},
    /* S27 */ {TYPE_FLOAT, "0-1,4-10,13,21,23,27,35,39>T22;2-3>S27;16>S42;18,20>S40;26>T21;29>S56;30>S29;32-33>S26;*>T1"},
    /* S28 */ {TYPE_FLOAT, "2>T22;11-13,26,29,31,34,38>T1;14-20,24-25,30,32-33,36-37>S28;*>T23"},
    /* S29 */ {TYPE_TUPLE, "0-1,4-10,13,21,23,28,35,39>T24;2-3,30>S29;*>T1"},
    /* S30 */ {TYPE_DATE, "0-1,4-10,23,28,31,35,39>T25;26-27,29,34,36,38>T1;*>S30"},
    /* S31 */ {TYPE_TIME, "2-3>S32;*>T1"},
    /* S32 */ {TYPE_TIME, "0-1,4-10,21,23,28,35,39>T28;2-3,13,30>S32;*>T1"},
    /* S33 */ {TYPE_PAIR, "2-3,32-33>S34;29>S56;*>T1"},
    /* S34 */ {TYPE_PAIR, "0-1,4-10,13,21,23,28,35,39>T26;2-3,17-18,30>S34;29>S56;*>T1"},
    /* S35 */ {TYPE_POINT2D, "0,2-3,5,11,17-20,27,30,32-33,37>S35;7>T27;*>T1"},
    /* S36 */ {TYPE_MONEY, "2-3>S37;*>T1"},
    /* S37 */ {TYPE_MONEY, "0-1,4-11,13,21,23,28,35,39>T29;2-3,12>S37;30>S38;*>T1"},
    /* S38 */ {TYPE_MONEY, "0-1,4-11,13,21,23,28,35,39>T29;2-3,12>S38;*>T1"},
    /* S39 */ {0, "2-3,18,20>S39;16>S41;29>S56;*>T1"},
    /* S40 */ {TYPE_INTEGER, "0-1,4-11,22,28,35,39>T14;2-3,18,20>S40;13>S53;16>S41;21>T9;26-27,38>T1;29>S56;31>S37;*>S52"},
    /* S41 */ {TYPE_WORD, "0-1,4-10,22,28,35,39>T33;11,26-27,38>T1;13>S53;21>T9;29>S56;31>S37;*>S52"},
    /* S42 */ {TYPE_INTEGER, "0-1,4-10,22-23,28,35,39>T33;21>T9;29>S56;31>S37;*>T1"},
    /* S43 */ {TYPE_TAG, "0-1,4-10,28,35,39>T14;12>S46;13>S53;23>S43;24-25,33>S52;38>T1;*>S44"},
    /* S44 */ {TYPE_TAG, "10>S45;12>S46;24>T30;38-39>T1;*>S44"},
    /* S45 */ {TYPE_TAG, "10>S44;38-39>T1;*>S45"},
    /* S46 */ {TYPE_TAG, "12>S44;38-39>T1;*>S46"},
    /* S47 */ {TYPE_WORD, "0-1,4-11,22,28,35,39>T14;2-3>S23;12,26,34,38>T1;21>T9;30>S49;31>S37;*>S52"},
    /* S48 */ {TYPE_WORD, "0-1,4-11,22,28,35,39>T14;12,26,31,34,38>T1;21>T9;*>S52"},
    /* S49 */ {TYPE_WORD, "0-1,4-11,22,28,35,39>T14;2-3,32-33>S50;13>S53;21>T9;26-27,31,38>T1;29>S56;*>S52"},
    /* S50 */ {TYPE_FLOAT, "0-1,4-10,13,21,23,35,39>T22;2-3,17-18,32-33>S50;14>S33;26>T21;29>S56;*>T1"},
    /* S51 */ {TYPE_WORD, "14-20,24,30,34,36-37>S52;21>S13;23>S43;25>S58;26>S54;32-33>S48;*>T1"},
    /* S52 */ {TYPE_WORD, "0-1,4-11,22-23,28,35,39>T14;13>S53;21>T9;26-27,38>T1;29>S56;31>S36;*>S52"},
    /* S53 */ {TYPE_SET_WORD, "0-1,4-10,22,28,35,39>T14;23,38>T1;*>S55"},
    /* S54 */ {TYPE_WORD, "0-1,4-9,22,28,35,39>T14;26>S54;*>T1"},
    /* S55 */ {TYPE_URL, "0-1,4-10,22-23,28,35,39>T31;24,34,38>T1;*>S55"},
    /* S56 */ {TYPE_EMAIL, "0-1,4-10,21-23,28,35,39>T32;11-13,24-25,27,29,31,34,38>T1;*>S56"},
    /* S57 */ {TYPE_REF, "0-1,4-10,23,28,35,39>T35;11-12,22,24-25,27,29,31,34,38>T1;*>S57"},
    /* S58 */ {TYPE_WORD, "0-1,4-10,13,22,28,35,39>T14;11,26-27,29,31,38>T1;21>T9;*>S52"},
    /* S59 */ {TYPE_PATH, "2-3>S60;6>T4;7>T5;10>S2;11>S63;12-13>S61;14-20,24-25,30,36-37>S62;23>S43;29>S57;31>S36;32-33>S64;*>T1"},
    /* S60 */ {TYPE_INTEGER, "0-1,4-10,13,21,23,28,35,39>T16;2-3,12>S60;14>S33;17-18>S26;26>T21;29>S56;30>S24;*>T1"},
    /* S61 */ {TYPE_WORD, "14-20,23-25,30,32-33,36-37>S62;*>T1"},
    /* S62 */ {TYPE_WORD, "0-1,4-10,13,21-22,28,35,39>T14;11,26-27,38>T1;29>S56;31>S36;*>S62"},
    /* S63 */ {TYPE_ISSUE, "0-1,5-9,13,21,23-25,27-29,35,38-39>T1;4>S21;10>S19;*>S22"},
    /* S64 */ {TYPE_WORD, "2-3>S60;11-12,23,26-27,34,38>T1;14-20,24-25,30,36-37>S62;29>S56;31>S36;32-33>S64;*>T14"},
    /* S65 */ {TYPE_FILE, "38-39>T1;*>S8"},
};
// clang-format on

// The named states are the rows they say they are.
static_assert(rows[row_of(ScanState::BraceString)].type == TYPE_STRING);
static_assert(rows[row_of(ScanState::QuotedFile)].type == TYPE_FILE);
static_assert(rows[row_of(ScanState::RawOpen)].type == TYPE_STRING);
static_assert(rows[row_of(ScanState::RawClose)].type == TYPE_STRING);
static_assert(rows[row_of(ScanState::Point)].type == TYPE_POINT2D);
static_assert(rows[row_of(ScanState::Path)].type == TYPE_PATH);

namespace detail {

constexpr uint32_t number(const char*& p) {
    uint32_t n = 0;
    while (*p >= '0' && *p <= '9') n = n * 10 + static_cast<uint32_t>(*p++ - '0');
    return n;
}

// One row from its rule line; a malformed line fails constant evaluation.
constexpr std::array<uint8_t, CLASSES> parse_row(const char* p) {
    std::array<uint8_t, CLASSES> row{};
    std::array<bool, CLASSES> named{};
    int fallback = -1;
    while (*p) {
        uint32_t classes[CLASSES]{};
        uint32_t count = 0;
        bool others = false;
        if (*p == '*') {
            others = true;
            p++;
        } else {
            for (;;) {
                const uint32_t lo = number(p);
                uint32_t hi = lo;
                if (*p == '-') {
                    p++;
                    hi = number(p);
                }
                for (uint32_t c = lo; c <= hi; c++) classes[count++] = c;
                if (*p != ',') break;
                p++;
            }
        }
        if (*p++ != '>') throw "rule without a target";
        const char kind = *p++;
        const uint32_t target = number(p);
        const uint32_t entry = kind == 'S' ? target : kind == 'T' ? FINAL + target : throw "bad target";
        if (others) {
            fallback = static_cast<int>(entry);
        } else {
            for (uint32_t i = 0; i < count; i++) {
                if (classes[i] >= CLASSES || named[classes[i]]) throw "class out of range or named twice";
                named[classes[i]] = true;
                row[classes[i]] = static_cast<uint8_t>(entry);
            }
        }
        if (*p == ';') p++;
        else if (*p) throw "rules not separated";
    }
    for (uint32_t c = 0; c < CLASSES; c++) {
        if (!named[c]) {
            if (fallback < 0) throw "class without a transition";
            row[c] = static_cast<uint8_t>(fallback);
        }
    }
    return row;
}

constexpr std::array<std::array<uint8_t, CLASSES>, STATES> make_transitions() {
    std::array<std::array<uint8_t, CLASSES>, STATES> t{};
    for (uint32_t s = 0; s < STATES; s++) t[s] = parse_row(rows[s].rules);
    return t;
}

}  // namespace detail

inline constexpr std::array<std::array<uint8_t, CLASSES>, STATES> transitions = detail::make_transitions();

// Datatype of each token class once its token has ended: none for the
// delimiters and other structural tokens, error! for the error token.
inline constexpr uint32_t token_types[TOKEN_CLASSES] = {
    0, TYPE_ERROR, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    TYPE_STRING, TYPE_WORD, TYPE_ISSUE, TYPE_INTEGER, TYPE_REFINEMENT, TYPE_CHAR, TYPE_FILE, TYPE_BINARY,
    TYPE_PERCENT, TYPE_FLOAT, TYPE_FLOAT, TYPE_TUPLE, TYPE_DATE, TYPE_PAIR, TYPE_POINT2D, TYPE_TIME,
    TYPE_MONEY, TYPE_TAG, TYPE_URL, TYPE_EMAIL, TYPE_INTEGER, TYPE_STRING, TYPE_REF,
};

}  // namespace qel::lexer::tables
