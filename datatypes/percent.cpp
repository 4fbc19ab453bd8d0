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


}  // namespace

void fill(datatype::Record& r) {
    fill_same_text<&write>(r);
}

}  // namespace qel::percent_type
