// email!: an address user@host. It is string! but for its molded form,
// which is the text without quotes, and for path access to its two parts:
// `user` is the text before the first "@" from the index, `host` the text
// after it; both read as new strings and are set in place.
#include <algorithm>

#include "datatypes/fills.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_modify.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"

namespace qel::email {

namespace {

enum class Part { User, Host };

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    return string::form(value, out, options.part, limit);
}

bool names(const Cell* word, int32_t symbol) {
    return symbol::canonical(word_symbol(word)) == symbol::canonical(symbol);
}

// The unit index of the first "@" from the value's index, or the tail.
uint32_t split_point(const Cell* value) {
    const uint32_t total = string::length_whole(value);
    for (uint32_t i = std::min(series_index(value), total); i < total; i++)
        if (string::char_at(value, i) == '@') return i;
    return total;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    const uint32_t et = cell::type_of(step.element);
    if (et == TYPE_INTEGER)
        return string::eval_path(value, step);
    const Cell* where = step.path ? step.path : value;
    if (et != TYPE_WORD || !(names(step.element, words::sym_user) || names(step.element, words::sym_host)))
        err::raise(err::INVALID_PATH, where, step.element);
    const Part which = names(step.element, words::sym_user) ? Part::User : Part::Host;

    const uint32_t total = string::length_whole(value);
    const uint32_t from = std::min(series_index(value), total);
    const uint32_t at = split_point(value);
    const uint32_t start = which == Part::User ? from : std::min(at + 1, total);
    const uint32_t end = which == Part::User ? at : total;
    if (!step.new_value) {
        Cell* r = stack::push(&shared::unset);
        *r = Cell{TYPE_STRING, 0, series::copy_part(series_node(value), start, end - start), 0};
        return r;
    }
    // An address without "@" gets one before a new host.
    if (which == Part::Host && at == total) {
        Cell tail = *value;
        series_index(tail) = total;
        Cell sign{TYPE_CHAR, 0, '@', 0};
        string::append(&tail, &sign, -1, false, 1);
    }
    Cell target = *value;
    series_index(target) = which == Part::User ? from : at + 1;
    // change with an empty part changes nothing: an empty part takes the
    // new text as an insertion.
    if (end == start) string::insert(&target, step.new_value, -1, false, 1);
    else string::change(&target, step.new_value, static_cast<int32_t>(end - start), false, 1);
    return step.new_value;
}

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
}

}  // namespace qel::email
