// The words the boot image assigns before its literals: the datatype
// words, the action words with their specs, the natives from the table's
// spec texts. Each spec text is loaded with the lexer like any source.
#include "library/builtin_words.hpp"

#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/native.hpp"
#include "evaluator/natives.hpp"
#include "runtime/stack.hpp"
#include "lexer/scanner.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/words.hpp"

namespace qel::builtin_words {

namespace {

struct ActionSpec {
    uint32_t slot;
    const char* name;
    const char* spec;
};

const ActionSpec action_specs[] = {
    {0, "make", "\"Returns a new value made from a spec for that value's type\" type [any-type!] spec [any-type!]"},
    {1, "random", "\"Returns a random value of the same datatype; or shuffles series\" value [any-type!] /seed /secure /only"},
    {2, "reflect", "\"Returns internal details about a value via reflection\" value [any-type!] field [word!]"},
    {3, "to", "\"Converts to a specified datatype\" type [any-type!] spec [any-type!]"},
    {4, "form", "\"Returns a user-friendly string representation of a value\" value [any-type!] /part limit [integer!]"},
    {5, "mold", "\"Returns a source format string representation of a value\" value [any-type!] /only /all /flat /part limit [integer!]"},
    {9, "absolute", "\"Returns the non-negative value\" value [any-type!]"},
    {10, "add", "\"Returns the sum of the two values\" value1 [any-type!] value2 [any-type!]"},
    {11, "divide", "\"Returns the quotient of two values\" value1 [any-type!] value2 [any-type!]"},
    {12, "multiply", "\"Returns the product of two values\" value1 [any-type!] value2 [any-type!]"},
    {13, "negate", "\"Returns the opposite (additive inverse) value\" number [any-type!]"},
    {14, "power", "\"Returns a number raised to a given power (exponent)\" number [any-type!] exponent [any-type!]"},
    {15, "remainder", "\"Returns what is left over when one value is divided by another\" value1 [any-type!] value2 [any-type!]"},
    {16, "round", "\"Returns the nearest integer. Halves round up (away from zero) by default\" n [any-type!] /to scale [any-type!] /even /down /half-down /floor /ceiling /half-ceiling"},
    {17, "subtract", "\"Returns the difference between two values\" value1 [any-type!] value2 [any-type!]"},
    {18, "even?", "\"Returns TRUE if the number is evenly divisible by 2\" number [any-type!]"},
    {19, "odd?", "\"Returns TRUE if the number has a remainder of 1 when divided by 2\" number [any-type!]"},
    {20, "and~", "\"Returns the first value ANDed with the second\" value1 [any-type!] value2 [any-type!]"},
    {21, "complement", "\"Returns the opposite (complementing) value of the input value\" value [any-type!]"},
    {22, "or~", "\"Returns the first value ORed with the second\" value1 [any-type!] value2 [any-type!]"},
    {23, "xor~", "\"Returns the first value exclusive ORed with the second\" value1 [any-type!] value2 [any-type!]"},
    {24, "append", "\"Inserts value(s) at series tail; returns series head\" series [series! bitset! port!] value [any-type!] /part \"Limit the number of values inserted\" length [number! series!] /only \"Insert block types as single values (overrides /part)\" /dup \"Duplicate the inserted values\" count [integer!] return: [series! port! bitset!]"},
    {25, "at", "\"Returns a series at a given index\" series [any-type!] index [any-type!]"},
    {26, "back", "\"Returns a series at the previous index\" series [any-type!]"},
    {27, "change", "\"Changes a value in a series and returns the series after the change\" series [any-type!] value [any-type!] /part range [any-type!] /only /dup count [any-type!]"},
    {28, "clear", "\"Removes series values from current index to tail; returns new tail\" series [any-type!]"},
    {29, "copy", "\"Returns a copy of a non-scalar value\" value [any-type!] /part length [any-type!] /deep /types kind [any-type!]"},
    {30, "find", "\"Returns the series where a value is found, or NONE\" series [any-type!] value [any-type!] /part length [any-type!] /only /case /same /any /with wild [any-type!] /skip size [any-type!] /last /reverse /tail /match"},
    {31, "head", "\"Returns a series at its first index\" series [any-type!]"},
    {32, "head?", "\"Returns TRUE if a series is at its first index\" series [any-type!]"},
    {33, "index?", "\"Returns the current index of series relative to the head, or of word in a context\" series [any-type!]"},
    {34, "insert", "\"Inserts value(s) at series index; returns series past the insertion\" series [any-type!] value [any-type!] /part length [any-type!] /only /dup count [any-type!]"},
    {35, "length?", "\"Returns the number of values in the series, from the current index to the tail\" series [any-type!]"},
    {36, "move", "\"Moves one or more elements from one series to another position or series\" origin [any-type!] target [any-type!] /part length [any-type!]"},
    {37, "next", "\"Returns a series at the next index\" series [any-type!]"},
    {38, "pick", "\"Returns the series value at a given index\" series [any-type!] index [any-type!]"},
    {39, "poke", "\"Replaces the series value at a given index, and returns the new value\" series [any-type!] index [any-type!] value [any-type!]"},
    {40, "put", "\"Replaces the value following a key, and returns the new value\" series [any-type!] key [any-type!] value [any-type!] /case"},
    {41, "remove", "\"Returns the series at the same index after removing a value\" series [any-type!] /part length [any-type!] /key key-arg [any-type!]"},
    {42, "reverse", "\"Reverses the order of elements; returns at same position\" series [any-type!] /part length [any-type!] /skip size [any-type!]"},
    {43, "select", "\"Find a value in a series and return the next value, or NONE\" series [any-type!] value [any-type!] /part length [any-type!] /only /case /same /any /with wild [any-type!] /skip size [any-type!] /last /reverse"},
    {44, "sort", "\"Sorts a series (modified); default sort order is ascending\" series [any-type!] /case /skip size [any-type!] /compare comparator [any-type!] /part length [any-type!] /all /reverse /stable"},
    {45, "skip", "\"Returns the series relative to the current index\" series [any-type!] offset [any-type!]"},
    {46, "swap", "\"Swaps elements between two series or the same series\" series1 [any-type!] series2 [any-type!]"},
    {47, "tail", "\"Returns a series at the index after its last value\" series [any-type!]"},
    {48, "tail?", "\"Returns TRUE if a series is past its last value\" series [any-type!]"},
    {49, "take", "\"Removes and returns one or more elements\" series [any-type!] /part length [any-type!] /deep /last"},
    {50, "trim", "\"Removes space from a string or NONE from a block\" series [any-type!] /head /tail /auto /lines /all /with str [any-type!]"},
    {51, "create", "\"Send port a create request\" port [any-type!]"},
    {52, "close", "\"Closes a port\" port [any-type!]"},
    {53, "delete", "\"Deletes the specified file or empty folder\" port [any-type!]"},
    {54, "modify", "\"Change mode for target aggregate value\" target [any-type!] field [any-type!] value [any-type!] /case"},
    {55, "open", "\"Opens a port; makes a new port from a spec if necessary\" port [any-type!] /new /read /write /seek /allow access [any-type!]"},
    {56, "open?", "\"Returns TRUE if port is open\" port [any-type!]"},
    {57, "query", "\"Returns information about a file\" target [any-type!]"},
    {58, "read", "\"Reads from a file, URL, or other port\" source [any-type!] /part length [any-type!] /seek index [any-type!] /binary /lines /info /as encoding [any-type!]"},
    {59, "rename", "\"Rename a file\" from [any-type!] to [any-type!]"},
    {60, "update", "\"Updates external and internal states (normally after read/write)\" port [any-type!]"},
    {61, "write", "\"Writes to a file, URL, or other port\" destination [any-type!] data [any-type!] /binary /lines /info /append /part length [any-type!] /seek index [any-type!] /allow access [any-type!] /as encoding [any-type!]"},
};

// Sets the global word of that name and records the pair.
void define(Cell* pairs, const char* name, const Cell* value) {
    const Cell v = *value;
    Cell* w = word::make_from_cstr(name);
    word::set(w, &v);
    const Cell word_cell = *w;
    block::append_copy(pairs, &word_cell);
    block::append_copy(pairs, &v);
}

Cell load_spec(const char* text) {
    Cell* c = stack::push(&shared::none);
    lexer::load_text(text, std::strlen(text), c);
    return *c;
}

}  // namespace

void define_datatypes(Cell* pairs) {
    for (uint32_t t = 1; t <= datatype::highest(); t++) {
        const datatype::NameEntry& e = datatype::entry(t);
        if (!e.name || !e.word) continue;
        const Cell dt{TYPE_DATATYPE, t, 0, 0};
        define(pairs, e.name, &dt);
    }
}

void define_actions(Cell* pairs) {
    const stack::Saved saved;
    for (const ActionSpec& a : action_specs) {
        const Cell spec = load_spec(a.spec);
        const Cell v = *native::push(&spec, TYPE_ACTION, a.slot + 1);
        define(pairs, a.name, &v);
    }
}

void define_natives(Cell* pairs) {
    const stack::Saved saved;
    for (uint32_t i = 0; i < natives::NATIVE_COUNT; i++) {
        const natives::Entry& e = natives::table[i];
        if (!e.fn) continue;
        const Cell spec = load_spec(e.spec);
        const Cell v = *native::push(&spec, TYPE_NATIVE, i + 1);
        define(pairs, e.name, &v);
    }
}

}  // namespace qel::builtin_words
