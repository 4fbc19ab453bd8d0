// The start-up words: natives from the table's spec texts, the action
// words with their specs, the operators made from them, the typesets that
// specs name. Each spec text is loaded with the lexer like any source.
#include "evaluator/global_words.hpp"

#include <cstring>

#include "datatypes/native.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "lexer/scanner.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/words.hpp"

namespace qel::global_words {

namespace {

struct ActionSpec {
    uint32_t slot;
    const char* name;
    const char* spec;
};

const ActionSpec action_specs[] = {
    {0, "make", "type [any-type!] spec [any-type!]"},
    {1, "random", "value [any-type!] /seed /secure /only"},
    {2, "reflect", "value [any-type!] field [word!]"},
    {3, "to", "type [any-type!] spec [any-type!]"},
    {4, "form", "value [any-type!] /part limit [integer!]"},
    {5, "mold", "value [any-type!] /only /all /flat /part limit [integer!]"},
    {9, "absolute", "value [any-type!]"},
    {10, "add", "value1 [any-type!] value2 [any-type!]"},
    {11, "divide", "value1 [any-type!] value2 [any-type!]"},
    {12, "multiply", "value1 [any-type!] value2 [any-type!]"},
    {13, "negate", "number [any-type!]"},
    {14, "power", "number [any-type!] exponent [any-type!]"},
    {15, "remainder", "value1 [any-type!] value2 [any-type!]"},
    {16, "round", "n [any-type!] /to scale [any-type!] /even /down /half-down /floor /ceiling /half-ceiling"},
    {17, "subtract", "value1 [any-type!] value2 [any-type!]"},
    {18, "even?", "number [any-type!]"},
    {19, "odd?", "number [any-type!]"},
    {20, "and~", "value1 [any-type!] value2 [any-type!]"},
    {21, "complement", "value [any-type!]"},
    {22, "or~", "value1 [any-type!] value2 [any-type!]"},
    {23, "xor~", "value1 [any-type!] value2 [any-type!]"},
    {24, "append", "series [any-type!] value [any-type!] /part length [any-type!] /only /dup count [any-type!]"},
    {25, "at", "series [any-type!] index [any-type!]"},
    {26, "back", "series [any-type!]"},
    {27, "change", "series [any-type!] value [any-type!] /part range [any-type!] /only /dup count [any-type!]"},
    {28, "clear", "series [any-type!]"},
    {29, "copy", "value [any-type!] /part length [any-type!] /deep /types kind [any-type!]"},
    {30, "find", "series [any-type!] value [any-type!] /part length [any-type!] /only /case /same /any /with wild [any-type!] /skip size [any-type!] /last /reverse /tail /match"},
    {31, "head", "series [any-type!]"},
    {32, "head?", "series [any-type!]"},
    {33, "index?", "series [any-type!]"},
    {34, "insert", "series [any-type!] value [any-type!] /part length [any-type!] /only /dup count [any-type!]"},
    {35, "length?", "series [any-type!]"},
    {36, "move", "origin [any-type!] target [any-type!] /part length [any-type!]"},
    {37, "next", "series [any-type!]"},
    {38, "pick", "series [any-type!] index [any-type!]"},
    {39, "poke", "series [any-type!] index [any-type!] value [any-type!]"},
    {40, "put", "series [any-type!] key [any-type!] value [any-type!] /case"},
    {41, "remove", "series [any-type!] /part length [any-type!] /key key-arg [any-type!]"},
    {42, "reverse", "series [any-type!] /part length [any-type!] /skip size [any-type!]"},
    {43, "select", "series [any-type!] value [any-type!] /part length [any-type!] /only /case /same /any /with wild [any-type!] /skip size [any-type!] /last /reverse"},
    {44, "sort", "series [any-type!] /case /skip size [any-type!] /compare comparator [any-type!] /part length [any-type!] /all /reverse /stable"},
    {45, "skip", "series [any-type!] offset [any-type!]"},
    {46, "swap", "series1 [any-type!] series2 [any-type!]"},
    {47, "tail", "series [any-type!]"},
    {48, "tail?", "series [any-type!]"},
    {49, "take", "series [any-type!] /part length [any-type!] /deep /last"},
    {50, "trim", "series [any-type!] /head /tail /auto /lines /all /with str [any-type!]"},
    {51, "create", "port [any-type!]"},
    {52, "close", "port [any-type!]"},
    {53, "delete", "port [any-type!]"},
    {54, "modify", "target [any-type!] field [any-type!] value [any-type!] /case"},
    {55, "open", "port [any-type!] /new /read /write /seek /allow access [any-type!]"},
    {56, "open?", "port [any-type!]"},
    {57, "query", "target [any-type!]"},
    {58, "read", "source [any-type!] /part length [any-type!] /seek index [any-type!] /binary /lines /info /as encoding [any-type!]"},
    {59, "rename", "from [any-type!] to [any-type!]"},
    {60, "update", "port [any-type!]"},
    {61, "write", "destination [any-type!] data [any-type!] /binary /lines /info /append /part length [any-type!] /seek index [any-type!] /allow access [any-type!] /as encoding [any-type!]"},
};

struct OpSpec {
    const char* op;
    const char* source;
};

const OpSpec ops[] = {
    {"+", "add"}, {"-", "subtract"}, {"*", "multiply"}, {"/", "divide"}, {"//", "remainder"},
    {"**", "power"}, {"=", "equal?"}, {"<>", "not-equal?"}, {"==", "strict-equal?"},
    {"<", "lesser?"}, {">", "greater?"}, {"<=", "lesser-or-equal?"}, {">=", "greater-or-equal?"},
    {"=?", "same?"}, {"and", "and~"}, {"or", "or~"}, {"xor", "xor~"},
};

void set_global(const char* name, const Cell* value) {
    const Cell v = *value;
    Cell* w = word::make_from_cstr(name);
    word::set(w, &v);
}

const Cell* get_global(const char* name) { return word::get(word::make_from_cstr(name)); }

// A typeset of every type but the excluded ones.
void set_typeset(const char* name, std::initializer_list<uint32_t> types) {
    Cell ts{TYPE_TYPESET, 0, 0, 0};
    for (uint32_t t : types) typeset::set_bit(&ts, t);
    set_global(name, &ts);
}

Cell load_spec(const char* text) {
    Cell* c = stack::push(&shared::none);
    lexer::load_text(text, std::strlen(text), c);
    return *c;
}

}  // namespace

void init() {
    const stack::Saved saved;
    for (uint32_t t = 1; t <= datatype::highest(); t++) {
        const datatype::NameEntry& e = datatype::entry(t);
        if (!e.name || !e.word) continue;
        const Cell dt{TYPE_DATATYPE, t, 0, 0};
        Cell w = *e.word;
        word::set(&w, &dt);
    }
    {
        Cell any{TYPE_TYPESET, 0, 0, 0};
        for (uint32_t t = 1; t < TYPE_EVENT + 1; t++) typeset::set_bit(&any, t);
        set_global("any-type!", &any);
    }
    // series! names a typeset in specs: the datatype of that name only
    // stands for the slots its children inherit.
    set_typeset("series!", {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH,
                            TYPE_HASH, TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF,
                            TYPE_BINARY, TYPE_VECTOR, TYPE_IMAGE});
    set_typeset("number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    set_typeset("any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE});
    set_typeset("any-block!", {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_HASH});
    set_typeset("any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    set_typeset("any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    set_typeset("any-string!", {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    set_typeset("any-function!", {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
    set_typeset("any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
    set_typeset("any-point!", {TYPE_PAIR, TYPE_POINT2D, TYPE_POINT3D});
    set_typeset("scalar!", {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE, TYPE_TIME,
                            TYPE_DATE, TYPE_MONEY, TYPE_POINT2D, TYPE_POINT3D});
    for (uint32_t i = 0; i < natives::NATIVE_COUNT; i++) {
        const natives::Entry& e = natives::table[i];
        if (!e.fn) continue;
        const Cell spec = load_spec(e.spec);
        const Cell v = *native::push(&spec, TYPE_NATIVE, i + 1);
        set_global(e.name, &v);
    }
    for (const ActionSpec& a : action_specs) {
        const Cell spec = load_spec(a.spec);
        const Cell v = *native::push(&spec, TYPE_ACTION, a.slot + 1);
        set_global(a.name, &v);
    }
    routines::init();
    for (const OpSpec& o : ops) {
        const Cell src = *get_global(o.source);
        const Cell v = *native::push_op(&src);
        set_global(o.op, &v);
    }
    const Cell t = shared::true_value, f = shared::false_value, n = shared::none;
    set_global("true", &t);
    set_global("false", &f);
    set_global("none", &n);
    set_global("yes", &t);
    set_global("no", &f);
    set_global("on", &t);
    set_global("off", &f);
}

}  // namespace qel::global_words
