// ref!: a reference written with a leading "@" (@name). The "@" belongs to
// the notation, not to the text: the cell and the text are string!'s, and
// only mold differs. A ref is a name, not a text to edit or address: it has
// no random, path access, append, sort or trim.
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/string.hpp"

namespace qel::ref {

namespace {

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    string::append_char(out, '@');
    return string::form(value, out, options.part, mold::spend(limit, 1));
}

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::clear_slot<datatype::RANDOM>(r);
    datatype::clear_slot<datatype::EVAL_PATH>(r);
    datatype::clear_slot<datatype::APPEND>(r);
    datatype::clear_slot<datatype::SORT>(r);
    datatype::clear_slot<datatype::TRIM>(r);
}

}  // namespace qel::ref
