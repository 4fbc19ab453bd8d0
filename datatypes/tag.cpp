// tag!: a string written between "<" and ">". Everything but its text form
// is string!'s: the text form is the string's text inside the two marks,
// for form and mold alike.
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/string.hpp"

namespace qel::tag {

namespace {

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    string::append_char(out, '<');
    const int32_t left = string::form(value, out, part, mold::spend(limit, 1));
    string::append_char(out, '>');
    return mold::spend(left, 1);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return form(value, out, options.part, limit);
}

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
}

}  // namespace qel::tag
