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

#include "platform/console.hpp"
#include "runtime/entry.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
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
    Cell* c = series::reserve_cell(block);
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
    if (e.name) unicode::append_latin1(out, e.name, e.length);
    return limit - static_cast<int32_t>(e.length);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    const NameEntry& e = entry(datatype_id(value));
    const uint32_t n = e.name ? e.length + 1 : 0;
    if (options.all) unicode::append_latin1(out, "#(", 2);
    if (e.name) unicode::append_latin1(out, e.name, n);
    if (options.all) unicode::append_latin1(out, ")", 1);
    return limit - static_cast<int32_t>(n) - (options.all ? 3 : 0);
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
    set_slot<FORM>(r, &form);
    set_slot<MOLD>(r, &mold);
    set_slot<COMPARE>(r, &compare);
}

}  // namespace qel::datatype
