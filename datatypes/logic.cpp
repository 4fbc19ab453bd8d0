// unset!, none! and logic!: their cells, the truth tests and their action
// slots. None of the three has a parent; every slot not set here stays
// empty, so other actions on them raise the action-not-supported error.
#include "datatypes/logic.hpp"

#include <cstring>

#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/checks.hpp"
#include "runtime/errors.hpp"

namespace qel {

namespace {

Cell* write(Cell* c, uint32_t type, uint32_t payload = 0) {
    // The whole header: flags such as new-line belong to the old value.
    c->header = type;
    logic_value(c) = payload;
    return c;
}

int32_t put_text(node_t out, int32_t limit, const char* s) {
    text::append_cstr(out, s);
    return limit - static_cast<int32_t>(std::strlen(s));
}

}  // namespace

// ---- unset! -------------------------------------------------------------------

namespace unset_type {

Cell* push() { return write(stack::push_slot(), TYPE_UNSET); }

Cell* make(Cell*, Cell*, uint32_t) { return push(); }

int32_t form(const Cell*, node_t, bool, int32_t limit) { return limit; }

int32_t mold(const Cell*, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return put_text(out, limit, options.all ? "#(unset)" : "unset");
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != cell::type_of(a)) return -2;
    return answers_without_order(op) ? 0 : -2;
}

void fill(datatype::Record& r) {
    shared::unset = Cell{TYPE_UNSET, 0, 0, 0};
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
}

}  // namespace unset_type

// ---- none! --------------------------------------------------------------------

namespace none_type {

Cell* set_top() { return write(stack::arg_base, TYPE_NONE); }
Cell* push() { return write(stack::push_slot(), TYPE_NONE); }

Cell* make(Cell*, Cell*, uint32_t) { return push(); }

int32_t form(const Cell*, node_t out, bool, int32_t limit) { return put_text(out, limit, "none"); }

int32_t mold(const Cell*, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return put_text(out, limit, options.all ? "#(none)" : "none");
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) { return unset_type::compare(a, b, op); }

Cell* clear(Cell*) { return set_top(); }
Cell* find(Cell*, Cell*, const datatype::FindOptions&) { return set_top(); }
int32_t length(Cell*) { return -1; }
Cell* remove(Cell*, Cell*, Cell*) { return set_top(); }
Cell* select(Cell*, Cell*, const datatype::FindOptions&) { return set_top(); }
Cell* take(Cell*, Cell*, bool, bool) { return set_top(); }

void fill(datatype::Record& r) {
    shared::none = Cell{TYPE_NONE, 0, 0, 0};
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &make);
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::CLEAR>(r, &clear);
    datatype::set_slot<datatype::FIND>(r, &find);
    datatype::set_slot<datatype::LENGTH_Q>(r, &length);
    datatype::set_slot<datatype::REMOVE>(r, &remove);
    datatype::set_slot<datatype::SELECT>(r, &select);
    datatype::set_slot<datatype::TAKE>(r, &take);
}

}  // namespace none_type

// ---- logic! -------------------------------------------------------------------

namespace logic {

Cell* to(Cell*, Cell* spec, uint32_t) {
    switch (cell::type_of(spec)) {
        case TYPE_LOGIC: return spec;
        case TYPE_NONE: return &shared::false_value;
        default: return &shared::true_value;
    }
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    switch (cell::type_of(spec)) {
        case TYPE_INTEGER: return write(proto, TYPE_LOGIC, integer_value(spec) != 0);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            // A NaN is unequal to 0.0, so it makes true.
            const double d = cell::get_double(spec);
            return write(proto, TYPE_LOGIC, !(d == 0.0));
        }
        default: return cell::copy(to(proto, spec, type), proto);
    }
}

int32_t form(const Cell* value, node_t out, bool, int32_t limit) {
    return put_text(out, limit, logic_value(value) ? "true" : "false");
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    if (!options.all) return form(value, out, false, limit);
    return put_text(out, limit, logic_value(value) ? "#(true)" : "#(false)");
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_LOGIC) return -2;
    if (!answers_without_order(op)) return -2;
    return static_cast<int32_t>(logic_value(a)) - static_cast<int32_t>(logic_value(b));
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<int32_t>(logic_value(value)));
        return write(value, TYPE_UNSET);
    }
    const int32_t n = secure ? random::secure_next() : random::next();
    return write(value, TYPE_LOGIC, n > 0x3FFFFFFF);
}

namespace {

enum class Op { AND, OR, XOR };

void bitwise(Op op) {
    Cell* a = stack::arg_base;
    const Cell* b = a + 1;
    if (cell::type_of(b) != TYPE_LOGIC) {
        const Cell name = stack::get_call_name();
        const Cell type{TYPE_DATATYPE, cell::type_of(b), 0, 0};
        const Cell arg = err::arg_name_at(1);
        err::raise(err::EXPECT_ARG, &name, &type, &arg);
    }
    switch (op) {
        case Op::AND: logic_value(a) &= logic_value(b); break;
        case Op::OR: logic_value(a) |= logic_value(b); break;
        case Op::XOR: logic_value(a) ^= logic_value(b); break;
    }
}

}  // namespace

void and_t() { bitwise(Op::AND); }
void or_t() { bitwise(Op::OR); }
void xor_t() { bitwise(Op::XOR); }

Cell* complement(Cell* value) {
    logic_value(value) ^= 1;
    return value;
}

}  // namespace logic

namespace logic_type {

void fill(datatype::Record& r) {
    shared::true_value = Cell{TYPE_LOGIC, 1, 0, 0};
    shared::false_value = Cell{TYPE_LOGIC, 0, 0, 0};
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &logic::make);
    datatype::set_slot<datatype::RANDOM>(r, &logic::random);
    datatype::set_slot<datatype::TO>(r, &logic::to);
    datatype::set_slot<datatype::FORM>(r, &logic::form);
    datatype::set_slot<datatype::MOLD>(r, &logic::mold);
    datatype::set_slot<datatype::COMPARE>(r, &logic::compare);
    datatype::set_slot<datatype::AND_T>(r, &logic::and_t);
    datatype::set_slot<datatype::COMPLEMENT>(r, &logic::complement);
    datatype::set_slot<datatype::OR_T>(r, &logic::or_t);
    datatype::set_slot<datatype::XOR_T>(r, &logic::xor_t);
}

}  // namespace logic_type
}  // namespace qel
