// The `parse` native: turns /part into an end index of the input and runs
// the engine (evaluator/parse.cpp).
//
// /part counts from the input's own index: a length below 0 counts as 0, a
// position must lie in the input's series and may not lie before the
// input's index (it then also counts as 0), and an end beyond the tail is
// the tail. The engine runs in every case, so a zero-length part behaves
// the same at every index: the rules see an empty input.
#include <cmath>

#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/parse.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"

namespace qel::natives {

namespace {

[[noreturn]] void bad_part(const Cell* value) {
    const Cell word = string::refinement_word(words::ref_part);
    err::raise(err::INVALID_REFINE_ARG, &word, value);
}

// The end index of /part, as units from the head of the input's buffer.
int64_t part_end(const Cell* input, const Cell* part) {
    const int64_t index = series_index(input);
    const int64_t tail = series::buffer_length(series_node(input));
    int64_t length;
    switch (cell::type_of(part)) {
        case TYPE_INTEGER:
            length = integer_value(part);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            const double d = cell::get_double(part);
            if (std::isnan(d)) bad_part(part);
            length = d >= 2147483647.0 ? INT32_MAX : d <= -2147483648.0 ? INT32_MIN : static_cast<int64_t>(d);
            break;
        }
        default:
            if (cell::type_of(part) != cell::type_of(input) || series_node(part) != series_node(input)) bad_part(part);
            length = static_cast<int64_t>(series_index(part)) - index;
            break;
    }
    if (length < 0) length = 0;
    return std::min(index + length, tail);
}

}  // namespace

void native_parse(const int32_t* r) {
    Cell* input = stack::arg_base;
    series_type::clamp_index(input);
    const CompareOp code = r[0] >= 0 ? CompareOp::StrictEqual : CompareOp::Equal;
    const int64_t limit = r[1] >= 0 ? part_end(input, stack::arg_base + r[1]) : -1;
    const Cell callback = r[2] >= 0 ? stack::arg_base[r[2]] : shared::none;
    Cell* result = stack::push(&shared::none);
    if (!parse::run(input, stack::arg_base + 1, code, limit, &callback, result)) return;
    stack::set_last_reset(result);
}

}  // namespace qel::natives
