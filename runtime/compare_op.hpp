// The comparison operator codes that every compare slot receives (the slot's
// signature is datatype::CompareFn), and the groups of them that the slots,
// the comparison dispatch and the hash tables test. The numbers are part of
// the slot interface: the comparison natives, sort, find, select, put and
// parse each pass one of them, and the values are kept as the numbering
// every datatype's slot was written against.
//
// A compare slot answers -1, 0, 1, or -2 when it cannot compare the two
// values under the code. What -2 means depends on the group: for an
// equality test it is "not equal"; for an ordering it is an error.
#pragma once
#include <cstdint>

namespace qel {

enum class CompareOp : int32_t {
    Equal = 0,           // equal?
    NotEqual = 1,        // not-equal?
    StrictEqual = 2,     // strict-equal?, and the /case of find, select, put, parse
    Lesser = 3,          // lesser?
    LesserOrEqual = 4,   // lesser-or-equal?
    Greater = 5,         // greater?
    GreaterOrEqual = 6,  // greater-or-equal?
    Sort = 7,            // the order of sort
    SortCase = 8,        // the order of sort/case
    Same = 9,            // same? and find/same: identity
    WordCase = 10,       // parse's lit-word and lit-path rules, with /case
    Word = 11,           // parse's lit-word and lit-path rules
    Find = 12,           // the default equality of find, select and put
};

constexpr int32_t to_code(CompareOp op) { return static_cast<int32_t>(op); }

// The tests whose answer is whether the slot found the values equal (not-equal?
// its negation); a slot that cannot compare the values makes them unequal
// rather than raising. Identity is one of them: same? of two values that
// cannot be compared is false, not an error.
constexpr bool is_equality(CompareOp op) {
    switch (op) {
        case CompareOp::Equal: case CompareOp::NotEqual: case CompareOp::StrictEqual: case CompareOp::Same:
        case CompareOp::WordCase: case CompareOp::Word: case CompareOp::Find:
            return true;
        default:
            return false;
    }
}

// The equality tests of content: neither identity nor parse's word match.
constexpr bool is_content_equality(CompareOp op) {
    return op == CompareOp::Equal || op == CompareOp::NotEqual || op == CompareOp::StrictEqual ||
           op == CompareOp::Find;
}

// lesser?, lesser-or-equal?, greater?, greater-or-equal?.
constexpr bool is_ordering(CompareOp op) { return op >= CompareOp::Lesser && op <= CompareOp::GreaterOrEqual; }

// The answer that makes op false, for two values that have no order between
// them although their type has one (a NaN): every ordering with them is
// false. 0 for the other codes.
constexpr int32_t failing_order(CompareOp op) {
    if (op == CompareOp::Lesser || op == CompareOp::LesserOrEqual) return 1;
    if (op == CompareOp::Greater || op == CompareOp::GreaterOrEqual) return -1;
    return 0;
}

// The codes a type whose values have no order answers (unset!, none!,
// logic!, the function types): the equality tests and sort's orders, which
// for such a type mean equality too. parse's word comparison is not among
// them: it only ever meets words and paths.
constexpr bool answers_without_order(CompareOp op) {
    switch (op) {
        case CompareOp::Equal: case CompareOp::NotEqual: case CompareOp::StrictEqual: case CompareOp::Sort:
        case CompareOp::SortCase: case CompareOp::Same: case CompareOp::Find:
            return true;
        default:
            return false;
    }
}

// The codes under which letter case counts in text and word names.
constexpr bool is_case_sensitive(CompareOp op) {
    return op == CompareOp::StrictEqual || op == CompareOp::SortCase || op == CompareOp::Same ||
           op == CompareOp::WordCase;
}

}  // namespace qel
