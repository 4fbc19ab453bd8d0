// percent!: its own text and cell routines; its other slots are inherited
// from float! at registration.
#include "datatypes/percent.hpp"

#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"

namespace qel::percent_type {

Cell* make_at(Cell* c, double d) {
    float_type::make_at(c, d);
    return cell::set_type(c, TYPE_PERCENT);
}

Cell* make_from_words(Cell* c, uint32_t low, uint32_t high) {
    make_at(c, 0);
    c->data2 = low;
    c->data3 = high;
    return c;
}

Cell* push(double d) { return cell::set_type(float_type::push(d), TYPE_PERCENT); }

Cell* append_at(const Cell* block, double d) {
    return cell::set_type(float_type::append_at(block, d), TYPE_PERCENT);
}

double get_top() { return cell::get_double(stack::arg_base); }

namespace {

// Form and mold write the same text: the percentage, so that it reads back
// as the same percent! literal.
int32_t write(const Cell* value, node_t out, int32_t limit) {
    char buf[float_type::FORMAT_MAX];
    const size_t n = float_type::format_number(cell::get_double(value) * 100, float_type::KIND_PERCENT, buf);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

int32_t form_slot(const Cell* value, node_t out, bool, int32_t limit) { return write(value, out, limit); }

int32_t mold_slot(const Cell* value, node_t out, bool, bool, bool, bool, int32_t limit, int32_t) {
    return write(value, out, limit);
}

}  // namespace

void fill(datatype::Record& r) {
    r.actions[datatype::FORM] = as_action<slot_fn::Form>(&form_slot);
    r.actions[datatype::MOLD] = as_action<slot_fn::Mold>(&mold_slot);
}

}  // namespace qel::percent_type
