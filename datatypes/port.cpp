// port!: make, the object! slots a port shares, and the forwarding of
// every other action to the port's actor (see port.hpp).
//
// The actor function of an action receives the port, then the action's
// arguments in this order; a refinement is a logic! flag followed, when it
// takes an argument, by that argument or none:
//   at, pick, skip        the index or offset
//   poke                  index, value
//   append insert change  value, /part length (given when not negative),
//                         /only, /dup count (given when above 1)
//   find                  value, /part /only /case /same /any /with /skip
//                         /last /reverse /tail /match
//   select                as find, without /tail and /match
//   move                  target, /part
//   copy                  /part, /deep, /types
//   modify                field, value, /case
//   open                  /new, /read, /write, /seek, /allow access
//   put                   key, value, /case
//   remove, reverse       /part
//   rename                the new name
//   sort                  /case /skip /compare /part /all /reverse /stable
//   swap                  the second series
//   take                  /part /deep /last
//   trim                  /head /tail /auto /lines /all /with
//   the others            nothing
// The actor's result is the action's result.
#include "datatypes/port.hpp"

#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/object.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"

namespace qel::port {

namespace {

Cell word_named(const char* name) {
    return Cell{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr(name)), UINT32_MAX};
}

// The field's value cell, or the shared none when the object lacks it.
Cell* field(const Cell* obj, const char* name) {
    const Cell w = word_named(name);
    return object::field_by_word(obj, &w);
}

void set_field(const Cell* obj, const char* name, const Cell* value) {
    const Cell v = *value;
    const Cell w = word_named(name);
    const int32_t i = object::field_index(obj, &w);
    if (i >= 0) *object::value_at(obj, static_cast<uint32_t>(i)) = v;
}

Cell flag(bool on) { return on ? shared::true_value : shared::false_value; }
Cell or_none(const Cell* c) { return c ? *c : shared::none; }
Cell integer(int32_t n) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0}; }

// Calls the actor's function named action with the port and the
// arguments; answers its result.
Cell forward(const Cell* port_in, const char* action, std::initializer_list<Cell> args) {
    const Cell port = *port_in;
    const Cell actor = *field(&port, "actor");
    if (cell::type_of(&actor) != TYPE_OBJECT) err::raise(err::INVALID_PORT, &port);
    const Cell name = word_named(action);
    const Cell fn = *object::field_by_word(&actor, &name);
    if (cell::type_of(&fn) != TYPE_FUNCTION) err::raise(err::NO_PORT_ACTION, &name);
    std::vector<Cell> values{port};
    values.insert(values.end(), args.begin(), args.end());
    return object::call_with_values(fn, &name, values.data(), static_cast<uint32_t>(values.size()));
}

Cell* pushed(const Cell& v) { return stack::push(&v); }

// ---- the slots ----------------------------------------------------------------

Cell* make(Cell*, Cell* spec, uint32_t) { return make_from(spec); }

int32_t mold_port(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    if (cycles::find(object_context(value))) {
        text::append_cstr(out, "make port! [...]");
        return limit - 16;
    }
    return object::mold_made(value, out, options, limit, indent, "make port! [");
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    return mold_port(value, out, datatype::MoldOptions{.part = part}, limit, 0);
}

// Direct slots: the arguments lie from the argument base, the result goes
// into it.
template <const char* Name, bool WithIndex>
void direct() {
    const Cell r = WithIndex ? forward(stack::arg_base, Name, {stack::arg_base[1]}) : forward(stack::arg_base, Name, {});
    *stack::arg_base = r;
}
constexpr char AT_NAME[] = "at", SKIP_NAME[] = "skip", BACK_NAME[] = "back", HEAD_NAME[] = "head",
               HEAD_Q_NAME[] = "head?", INDEX_Q_NAME[] = "index?", NEXT_NAME[] = "next", TAIL_NAME[] = "tail",
               TAIL_Q_NAME[] = "tail?";

template <const char* Name>
Cell* insert_like(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return pushed(forward(series, Name,
                          {*value, flag(part >= 0), part >= 0 ? integer(part) : shared::none, flag(only),
                           flag(dup > 1), dup > 1 ? integer(dup) : shared::none}));
}
constexpr char APPEND_NAME[] = "append", INSERT_NAME[] = "insert", CHANGE_NAME[] = "change";

Cell* clear(Cell* series) { return pushed(forward(series, "clear", {})); }

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    *result = forward(value, "copy", {flag(part), or_none(part), flag(deep), flag(types), or_none(types)});
    return result;
}

Cell* find(Cell* series, Cell* value, const datatype::FindOptions& o) {
    return pushed(forward(series, "find",
                          {*value, flag(o.part), or_none(o.part), flag(o.only), flag(o.case_sensitive), flag(o.same),
                           flag(o.any), flag(o.with), or_none(o.with), flag(o.skip), or_none(o.skip), flag(o.last),
                           flag(o.reverse), flag(o.tail), flag(o.match)}));
}

Cell* select(Cell* series, Cell* value, const datatype::FindOptions& o) {
    return pushed(forward(series, "select",
                          {*value, flag(o.part), or_none(o.part), flag(o.only), flag(o.case_sensitive), flag(o.same),
                           flag(o.any), flag(o.with), or_none(o.with), flag(o.skip), or_none(o.skip), flag(o.last),
                           flag(o.reverse)}));
}

// An integer! result is the length; anything else answers none.
int32_t length(Cell* series) {
    const Cell r = forward(series, "length?", {});
    return cell::type_of(&r) == TYPE_INTEGER && integer_value(r) >= 0 ? integer_value(r) : -1;
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    return pushed(forward(origin, "move", {*target, flag(part), or_none(part)}));
}

Cell* pick(Cell* series, int32_t, Cell* index) { return pushed(forward(series, "pick", {*index})); }

Cell* poke(Cell* series, int32_t, Cell* value, Cell* index) {
    return pushed(forward(series, "poke", {*index, *value}));
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_sensitive) {
    return pushed(forward(series, "put", {*key, *value, flag(case_sensitive)}));
}

Cell* remove(Cell* series, Cell* part, Cell*) {
    return pushed(forward(series, "remove", {flag(part), or_none(part)}));
}

Cell* reverse(Cell* series, Cell* part, Cell*) {
    return pushed(forward(series, "reverse", {flag(part), or_none(part)}));
}

Cell* sort(Cell* series, const datatype::SortOptions& o) {
    return pushed(forward(series, "sort",
                          {flag(o.case_sensitive), flag(o.skip), or_none(o.skip), flag(o.comparator),
                           or_none(o.comparator), flag(o.part), or_none(o.part), flag(o.all), flag(o.reverse),
                           flag(o.stable)}));
}

Cell* swap(Cell* series1, Cell* series2) { return pushed(forward(series1, "swap", {*series2})); }

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    return pushed(forward(series, "take", {flag(part), or_none(part), flag(deep), flag(last)}));
}

Cell* trim(Cell* series, const datatype::TrimOptions& o) {
    return pushed(forward(series, "trim",
                          {flag(o.head), flag(o.tail), flag(o.automatic), flag(o.lines), flag(o.all), flag(o.with),
                           or_none(o.with)}));
}

Cell* modify(Cell* target, Cell* field_word, Cell* value, bool case_sensitive) {
    return pushed(forward(target, "modify", {*field_word, *value, flag(case_sensitive)}));
}

// The port actions without arguments of their own.
template <const char* Name>
Cell* plain(Cell* target, Cell*, const int32_t*) {
    return pushed(forward(target, Name, {}));
}
constexpr char CREATE_NAME[] = "create", CLOSE_NAME[] = "close", DELETE_NAME[] = "delete", QUERY_NAME[] = "query",
               UPDATE_NAME[] = "update";

// Refinements of open, read and write, in their spec order.
enum OpenRefinement { O_NEW, O_READ, O_WRITE, O_SEEK, O_ALLOW };
enum ReadRefinement { R_PART, R_SEEK };
enum WriteRefinement { W_PART = 4, W_SEEK = 5 };

const Cell* ref_arg(const int32_t* r, int k) { return r[k] < 0 ? nullptr : stack::arg_base + r[k]; }
bool has(const int32_t* r, int k) { return r[k] >= 0; }

Cell* open_slot(Cell* target, Cell*, const int32_t* r) { return pushed(open(target, open_flags(r))); }

Cell* rename(Cell* target, Cell* to, const int32_t*) { return pushed(forward(target, "rename", {*to})); }

}  // namespace

Cell* make_from(const Cell* spec_in) {
    Cell* result = stack::push(&shared::none);
    Cell* spec = stack::push(spec_in);
    if (cell::type_of(spec) != TYPE_OBJECT) {
        const Cell* url_parts = system_object::field({"standard", "url-parts"});
        if (cell::type_of(spec) != TYPE_BLOCK || !url_parts || cell::type_of(url_parts) != TYPE_OBJECT) {
            const Cell t = datatype_cell(TYPE_PORT);
            err::raise(err::MALCONSTRUCT, &t, spec);
        }
        Cell* proto = stack::push(url_parts);
        *spec = *datatype::action<datatype::MAKE>(TYPE_OBJECT)(proto, spec, TYPE_OBJECT);
    }
    if (object::field_count(spec) == 0 || cell::type_of(object::value_at(spec, 0)) != TYPE_WORD)
        err::raise(err::NO_SCHEME, spec);
    Cell* scheme = stack::push(object::value_at(spec, 0));

    const Cell* standard = system_object::field({"standard", "port"});
    if (!standard || cell::type_of(standard) != TYPE_OBJECT) err::raise(err::INVALID_PORT, spec);
    Cell* proto = stack::push(standard);
    object::copy_into(proto, result, false, nullptr, false);
    cell::set_type(result, TYPE_PORT);
    *context::self_of(object_context(result)) = *result;
    set_field(result, "spec", spec);
    set_field(result, "scheme", scheme);

    const Cell* schemes = system_object::field({"schemes"});
    const Cell* definition =
        schemes && cell::type_of(schemes) == TYPE_BLOCK ? block::find_word_value(schemes, scheme, false) : nullptr;
    if (!definition || cell::type_of(definition) != TYPE_OBJECT) err::raise(err::UNKNOWN_SCHEME, spec);
    Cell* held = stack::push(definition);
    const Cell actor = *field(held, "actor");
    if (cell::type_of(&actor) != TYPE_OBJECT && cell::type_of(&actor) != TYPE_HANDLE)
        err::raise(err::INVALID_ACTOR, spec);
    set_field(result, "actor", &actor);
    stack::arg_top = result + 1;
    return result;
}

OpenFlags open_flags(const int32_t* r) {
    return OpenFlags{.new_port = has(r, O_NEW),
                     .read = has(r, O_READ),
                     .write = has(r, O_WRITE),
                     .seek = has(r, O_SEEK),
                     .allow = ref_arg(r, O_ALLOW)};
}

Cell open(const Cell* port, const OpenFlags& f) {
    return forward(port, "open",
                   {flag(f.new_port), flag(f.read), flag(f.write), flag(f.seek), flag(f.allow), or_none(f.allow)});
}

// open (with /seek when read has it), copy with read's /part, close.
Cell* read(Cell* port_in, Cell*, const int32_t* r) {
    const Cell port = *port_in;
    const Cell* part = ref_arg(r, R_PART);
    const Cell part_value = or_none(part);
    open(&port, OpenFlags{.seek = has(r, R_SEEK)});
    Cell* result = pushed(forward(&port, "copy", {flag(part), part_value, flag(false), flag(false), shared::none}));
    forward(&port, "close", {});
    return result;
}

// open /write (with /seek as read), insert the data (with /part when its
// length is an integer), copy with the /part length, close.
Cell* write(Cell* port_in, Cell* data_in, const int32_t* r) {
    const Cell port = *port_in;
    const Cell data = *data_in;
    const Cell* part = ref_arg(r, W_PART);
    const Cell part_value = or_none(part);
    const bool counted = part && cell::type_of(part) == TYPE_INTEGER;
    open(&port, OpenFlags{.write = true, .seek = has(r, W_SEEK)});
    forward(&port, "insert",
            {data, flag(counted), counted ? part_value : shared::none, flag(false), flag(false), shared::none});
    Cell* result = pushed(forward(&port, "copy", {flag(part), part_value, flag(false), flag(false), shared::none}));
    forward(&port, "close", {});
    return result;
}

void fill(datatype::Record& r) {
    using namespace datatype;
    for (auto& a : r.actions) a = nullptr;
    set_slot<MAKE>(r, &make);
    set_slot<REFLECT>(r, &object::reflect);
    set_slot<FORM>(r, &form);
    set_slot<MOLD>(r, &mold_port);
    set_slot<EVAL_PATH>(r, &object::eval_path);
    set_slot<COMPARE>(r, &object::compare);
    set_slot<APPEND>(r, &insert_like<APPEND_NAME>);
    set_slot<AT>(r, &direct<AT_NAME, true>);
    set_slot<BACK>(r, &direct<BACK_NAME, false>);
    set_slot<CHANGE>(r, &insert_like<CHANGE_NAME>);
    set_slot<CLEAR>(r, &clear);
    set_slot<COPY>(r, &copy);
    set_slot<FIND>(r, &find);
    set_slot<HEAD>(r, &direct<HEAD_NAME, false>);
    set_slot<HEAD_Q>(r, &direct<HEAD_Q_NAME, false>);
    set_slot<INDEX_Q>(r, &direct<INDEX_Q_NAME, false>);
    set_slot<INSERT>(r, &insert_like<INSERT_NAME>);
    set_slot<LENGTH_Q>(r, &length);
    set_slot<MOVE>(r, &move);
    set_slot<NEXT>(r, &direct<NEXT_NAME, false>);
    set_slot<PICK>(r, &pick);
    set_slot<POKE>(r, &poke);
    set_slot<PUT>(r, &put);
    set_slot<REMOVE>(r, &remove);
    set_slot<REVERSE>(r, &reverse);
    set_slot<SELECT>(r, &select);
    set_slot<SORT>(r, &sort);
    set_slot<SKIP>(r, &direct<SKIP_NAME, true>);
    set_slot<SWAP>(r, &swap);
    set_slot<TAIL>(r, &direct<TAIL_NAME, false>);
    set_slot<TAIL_Q>(r, &direct<TAIL_Q_NAME, false>);
    set_slot<TAKE>(r, &take);
    set_slot<TRIM>(r, &trim);
    set_slot<CREATE>(r, &plain<CREATE_NAME>);
    set_slot<CLOSE>(r, &plain<CLOSE_NAME>);
    set_slot<DELETE>(r, &plain<DELETE_NAME>);
    set_slot<MODIFY>(r, &modify);
    set_slot<OPEN>(r, &open_slot);
    set_slot<QUERY>(r, &plain<QUERY_NAME>);
    set_slot<READ>(r, &read);
    set_slot<RENAME>(r, &rename);
    set_slot<UPDATE>(r, &plain<UPDATE_NAME>);
    set_slot<WRITE>(r, &write);
}

}  // namespace qel::port
