// The datatype registry and the datatype! type.
//
// Both tables are static arrays: they are small, live for the whole process
// and are filled before any value exists, so nothing is gained by taking
// them from the heap. Registration problems are faults of the program
// itself, found the first time it starts; they end the process with a
// message rather than raising a language error, because no language exists
// yet when most registrations run.
#include "runtime/datatypes.hpp"

#include <cstring>
#include <type_traits>
#include <unistd.h>

#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "platform/console.hpp"
#include "runtime/entry.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::datatype {

namespace detail {
// Only its address matters: registration replaces every INHERIT entry, so
// reaching this means a record bypassed the registry. The body is not empty
// so that no identical function can be folded onto this address.
void inherit_marker() { rt::runtime_error(rt::code::ASSERTION, rt::here()); }
}  // namespace detail

namespace {

NameEntry names[TYPE_LIMIT];
ActionFn actions[TYPE_LIMIT][ACTION_SLOTS];
uint32_t highest_type = 0;
// Words can be made only once the symbol table and the global context
// exist; until the datatype words are made, registration leaves them out.
bool words_made = false;

// A registration fault: the message, then an exit that tells the caller
// something went wrong (a zero status would read as success).
[[noreturn]] void fail(std::initializer_list<rt::PrintItem> items) {
    rt::print_values(items);
    console::flush();
    _exit(1);
}

bool registered(uint32_t type) { return type < TYPE_LIMIT && names[type].name != nullptr; }

// The entries hold word cells only when they are kept in the root block;
// anywhere else they would move.
Cell* kept_word(const char* name) {
    const uint32_t saved = keep_words;
    keep_words = 1;
    Cell* w = word::make_from_cstr(name);
    keep_words = saved;
    return w;
}

}  // namespace

Record make_record(uint32_t type, uint32_t parent, const char* name, ActionFn fill) {
    Record r{type, parent, name, {}};
    for (ActionFn& a : r.actions) a = fill;
    return r;
}

void init_tables() {
    std::memset(names, 0, sizeof names);
    std::memset(actions, 0, sizeof actions);
    highest_type = 0;
    words_made = false;
}

void register_type(uint32_t count, const Record& record) {
    using I = rt::PrintItem;
    const uint32_t t = record.type;
    const uint32_t p = record.parent;
    // Checked before anything is written: an id past the tables would
    // write outside them, and a parent registered later would silently
    // hand its children empty slots.
    if (t == 0 || t >= TYPE_LIMIT)
        fail({I::cstr("*** Datatype Error: invalid type id: "), I::integer(static_cast<int32_t>(t)), I::byte('\n')});
    const int32_t slots = static_cast<int32_t>(count) - 3;
    if (slots != static_cast<int32_t>(ACTION_SLOTS))
        fail({I::cstr("*** Datatype Error: invalid actions count for type: "), I::integer(static_cast<int32_t>(t)),
              I::byte('\n'), I::cstr("*** Found: "), I::integer(slots), I::byte('\n'), I::cstr("*** Expected: "),
              I::integer(static_cast<int32_t>(ACTION_SLOTS)), I::byte('\n')});
    if (p != 0 && (p == t || !registered(p)))
        fail({I::cstr("*** Datatype Error: parent not registered for type: "), I::integer(static_cast<int32_t>(t)),
              I::byte('\n')});

    if (t > highest_type) highest_type = t;
    NameEntry& e = names[t];
    e.parent = p;
    e.name = record.name;
    const size_t len = record.name ? std::strlen(record.name) : 0;
    e.length = len ? static_cast<uint32_t>(len - 1) : 0;
    e.word = words_made && record.name ? kept_word(record.name) : nullptr;

    // The parent's row is copied as it stands now: a later change to it
    // does not reach this child. Without a parent an inherited slot is
    // simply empty.
    for (uint32_t k = 0; k < ACTION_SLOTS; k++) {
        const ActionFn a = record.actions[k];
        actions[t][k] = a == INHERIT ? (p ? actions[p][k] : nullptr) : a;
    }
}

void make_words() {
    for (uint32_t t = 1; t <= highest_type; t++)
        if (names[t].name) names[t].word = kept_word(names[t].name);
    words_made = true;
}

Cell* append_at(const Cell* block, uint32_t type) {
    Cell* c = block::reserve_cell(block);
    *c = Cell{TYPE_DATATYPE, type, 0, 0};
    return c;
}

uint32_t highest() { return highest_type; }

const NameEntry& entry(uint32_t type) { return names[type < TYPE_LIMIT ? type : 0]; }

ActionFn action(uint32_t type, uint32_t slot) {
    return type < TYPE_LIMIT && slot < ACTION_SLOTS ? actions[type][slot] : nullptr;
}

// ---- datatype! -------------------------------------------------------------

static_assert(std::is_same_v<decltype(form), FormFn>);
static_assert(std::is_same_v<decltype(mold), MoldFn>);
static_assert(std::is_same_v<decltype(compare), CompareFn>);

int32_t form(const Cell* value, node_t out, bool, int32_t limit) {
    const NameEntry& e = entry(datatype_id(value));
    if (e.name) text::append_latin1(out, e.name, e.length);
    return limit - static_cast<int32_t>(e.length);
}

int32_t mold(const Cell* value, node_t out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    const NameEntry& e = entry(datatype_id(value));
    const uint32_t n = e.name ? e.length + 1 : 0;
    if (all) text::append_latin1(out, "#(", 2);
    if (e.name) text::append_latin1(out, e.name, n);
    if (all) text::append_latin1(out, ")", 1);
    return limit - static_cast<int32_t>(n) - (all ? 3 : 0);
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    switch (op) {
        case CompareOp::Equal: case CompareOp::NotEqual: case CompareOp::StrictEqual: case CompareOp::Same:
        case CompareOp::Find:
            return cell::type_of(b) == TYPE_DATATYPE && datatype_id(b) == datatype_id(a) ? 0 : 1;
        default:
            return -2;  // datatypes have no order
    }
}

void fill(Record& r) {
    r.actions[FORM] = as_action(&form);
    r.actions[MOLD] = as_action(&mold);
    r.actions[COMPARE] = as_action<CompareFn>(&compare);
}

// ---- start-up order --------------------------------------------------------

const StartUpEntry start_up_order[START_UP_TYPES] = {
    {TYPE_DATATYPE, 0, "datatype!", &fill},
    {TYPE_UNSET, 0, "unset!", &unset_type::fill},
    {TYPE_NONE, 0, "none!", &none_type::fill},
    {TYPE_LOGIC, 0, "logic!", &logic_type::fill},
    {TYPE_SERIES, 0, "series!", &series_type::fill},
    {TYPE_BLOCK, TYPE_SERIES, "block!", &block::fill},
    {TYPE_STRING, TYPE_SERIES, "string!", &string::fill},
    {TYPE_BINARY, TYPE_STRING, "binary!", &binary::fill},
    {TYPE_INTEGER, 0, "integer!", &integer::fill},
    {TYPE_SYMBOL, 0, "symbol!", nullptr},
    {TYPE_CONTEXT, 0, "context!", nullptr},
    {TYPE_WORD, TYPE_SYMBOL, "word!", &word_type::fill},
    {TYPE_LIT_WORD, TYPE_WORD, "lit-word!", &word_type::fill_lit_word},
    {TYPE_SET_WORD, TYPE_WORD, "set-word!", &word_type::fill_set_word},
    {TYPE_GET_WORD, TYPE_WORD, "get-word!", &word_type::fill_get_word},
    {TYPE_REFINEMENT, TYPE_WORD, "refinement!", &word_type::fill_refinement},
    {TYPE_CHAR, TYPE_INTEGER, "char!", &char_type::fill},
    {TYPE_NATIVE, 0, "native!", &native::fill_native},
    {TYPE_ACTION, TYPE_NATIVE, "action!", &native::fill_action},
    {TYPE_OP, TYPE_NATIVE, "op!", &native::fill_op},
    {TYPE_PATH, TYPE_BLOCK, "path!", &path::fill},
    {TYPE_LIT_PATH, TYPE_PATH, "lit-path!", &path::fill_lit_path},
    {TYPE_SET_PATH, TYPE_PATH, "set-path!", &path::fill_set_path},
    {TYPE_GET_PATH, TYPE_PATH, "get-path!", &path::fill_get_path},
    {TYPE_FUNCTION, TYPE_CONTEXT, "function!", &function::fill},
    {TYPE_ROUTINE, TYPE_FUNCTION, "routine!", &function::fill_routine},
    {TYPE_PAREN, TYPE_BLOCK, "paren!", &path::fill_paren},
    {TYPE_ISSUE, TYPE_WORD, "issue!", &issue::fill},
    {TYPE_URL, TYPE_STRING, "url!", nullptr},
    {TYPE_FILE, TYPE_URL, "file!", nullptr},
    {TYPE_OBJECT, 0, "object!", &object_type::fill},
    {TYPE_BITSET, 0, "bitset!", &bitset::fill},
    {TYPE_TRIPLE, 0, "triple!", &triple::fill},
    {TYPE_FLOAT, 0, "float!", &float_type::fill},
    {TYPE_TYPESET, 0, "typeset!", &typeset::fill},
    {TYPE_ERROR, TYPE_OBJECT, "error!", &error_type::fill},
    {TYPE_VECTOR, TYPE_STRING, "vector!", nullptr},
    {TYPE_MAP, 0, "map!", &map::fill},
    {TYPE_HASH, TYPE_BLOCK, "hash!", &hash::fill},
    {TYPE_PAIR, 0, "pair!", &pair::fill},
    {TYPE_PERCENT, TYPE_FLOAT, "percent!", &percent_type::fill},
    {TYPE_TUPLE, 0, "tuple!", &tuple::fill},
    {TYPE_TIME, TYPE_FLOAT, "time!", &time_type::fill},
    {TYPE_TAG, TYPE_STRING, "tag!", nullptr},
    {TYPE_EMAIL, TYPE_STRING, "email!", nullptr},
    {TYPE_HANDLE, TYPE_INTEGER, "handle!", &handle::fill},
    {TYPE_DATE, 0, "date!", &date::fill},
    {TYPE_PORT, TYPE_OBJECT, "port!", nullptr},
    {TYPE_MONEY, 0, "money!", nullptr},
    {TYPE_REF, TYPE_STRING, "ref!", nullptr},
    {TYPE_POINT2D, 0, "point2D!", &point::fill},
    {TYPE_POINT3D, 0, "point3D!", &point::fill},
    // The platform's image codec layer, once it exists, is made just before
    // image! registers.
    {TYPE_IMAGE, TYPE_SERIES, "image!", nullptr},
};

void register_all() {
    for (const StartUpEntry& e : start_up_order) {
        Record r = make_record(e.type, e.parent, e.name);
        if (e.fill) e.fill(r);
        register_type(RECORD_WORDS, r);
    }
}

}  // namespace qel::datatype
