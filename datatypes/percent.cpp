// percent!: a float! whose text is the value times 100 followed by "%"
// (the value 0.5 is written 50%). Form and mold are its own; its other
// slots are inherited from float! at registration.
#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"

namespace qel::percent_type {

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
