// triple!: its text, which is the same for form and mold.
#include "datatypes/triple.hpp"

#include "datatypes/fills.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"

namespace qel::triple {

Cell* make_at(Cell* c, int32_t a, int32_t b, int32_t d) {
    c->header = (c->header & ~cell_flag::TYPE_MASK) | TYPE_TRIPLE;
    c->data1 = static_cast<uint32_t>(a);
    c->data2 = static_cast<uint32_t>(b);
    c->data3 = static_cast<uint32_t>(d);
    return c;
}

namespace {

// make triple! [1 -2 3]
int32_t write(const Cell* value, node_t out, int32_t limit) {
    char buf[64] = "make triple! [";
    uint32_t n = 14;
    const uint32_t words[3] = {value->data1, value->data2, value->data3};
    for (uint32_t i = 0; i < 3; i++) {
        if (i) buf[n++] = ' ';
        n += integer::to_decimal(static_cast<int32_t>(words[i]), buf + n);
    }
    buf[n++] = ']';
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

int32_t form_slot(const Cell* value, node_t out, bool, int32_t limit) { return write(value, out, limit); }

int32_t mold_slot(const Cell* value, node_t out, bool, bool, bool, bool, int32_t limit, int32_t) {
    return write(value, out, limit);
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    r.actions[datatype::FORM] = as_action<slot_fn::Form>(&form_slot);
    r.actions[datatype::MOLD] = as_action<slot_fn::Mold>(&mold_slot);
}

}  // namespace qel::triple
