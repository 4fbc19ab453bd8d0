// triple!: three signed 32-bit integers that can only be carried and shown
// (no make, comparison, arithmetic or path access). Its text is the same
// for form and mold.
//
// Cell: words 1, 2 and 3 hold the integers in order. No word holds a node
// id.
#include "datatypes/fills.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"

namespace qel::triple {

namespace {

// make triple! [1 -2 3]
int32_t write(const Cell* value, node_t out, int32_t limit) {
    char buf[64] = "make triple! [";
    uint32_t n = 14;
    for (uint32_t i = 0; i < 3; i++) {
        if (i) buf[n++] = ' ';
        n += integer::to_decimal(static_cast<int32_t>(payload_word(value, i)), buf + n);
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
