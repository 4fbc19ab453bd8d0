// Action entries that normalise their refinements before calling a slot
// (see action_entries.hpp).
#include "evaluator/action_entries.hpp"

#include <algorithm>

#include "datatypes/series.hpp"
#include "evaluator/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/words.hpp"

namespace qel::actions {

namespace {

struct Counts {
    bool nothing = false;  // the action leaves the series as it is
    int32_t part = -1;
    int32_t dup = 1;
};

// The /part count measured on `measured` (the value for append and insert,
// the series for change), whose index this brings back to its tail and
// moves back for a negative count.
Counts normalise(Cell* series, Cell* value, Cell* part, Cell* dup, bool change) {
    Counts c;
    if (dup) {
        c.dup = cell::type_of(dup) == TYPE_INTEGER ? static_cast<int32_t>(dup->data2) : 1;
        if (c.dup < 1) {
            c.nothing = true;
            return c;
        }
    }
    if (!part) return c;
    Cell* measured = change ? series : value;
    const bool positional = series_type::is_series(cell::type_of(measured));
    int64_t n;
    if (cell::type_of(part) == TYPE_INTEGER) {
        n = static_cast<int32_t>(part->data2);
    } else {
        if (!change && !positional && cell::type_of(value) != TYPE_MAP) err::raise(err::INVALID_PART, part);
        if (cell::type_of(part) != cell::type_of(measured) || part->data2 != measured->data2 || !positional) {
            const Cell w = *word::make_from_cstr("part");
            err::raise(err::INVALID_REFINE_ARG, &w, part);
        }
        n = static_cast<int64_t>(part->data1) - measured->data1;
    }
    const bool backwards = n < 0;
    if (positional) {
        const uint32_t index = series_type::clamp_index(measured);
        if (n < 0) {
            const uint32_t start = static_cast<uint32_t>(std::max<int64_t>(0, index + n));
            n = index - start;
            measured->data1 = start;
        }
    }
    // change with a count of 0 replaces nothing and still writes the values.
    if (n < 0 || (n == 0 && (backwards || !change))) {
        c.nothing = true;
        return c;
    }
    c.part = static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
    return c;
}

Cell* dispatch(uint32_t slot_number, Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    const Counts c = normalise(series, value, part, dup, slot_number == datatype::CHANGE);
    if (c.nothing) return series;
    return slot<slot_fn::Insert>(series, slot_number)(series, value, c.part, only, c.dup);
}

}  // namespace

Cell* append(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return dispatch(datatype::APPEND, series, value, part, only, dup);
}

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return dispatch(datatype::INSERT, series, value, part, only, dup);
}

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    return dispatch(datatype::CHANGE, series, value, part, only, dup);
}

int32_t index_argument(const Cell* index) {
    switch (cell::type_of(index)) {
        case TYPE_LOGIC: return index->data1 ? 1 : 2;
        case TYPE_CHAR:
        case TYPE_INTEGER: return static_cast<int32_t>(index->data2);
        default: return 0;
    }
}

Cell* pick(Cell* series, Cell* index) {
    return slot<slot_fn::Pick>(series, datatype::PICK)(series, index_argument(index), index);
}

Cell* poke(Cell* series, Cell* index, Cell* value) {
    return slot<slot_fn::Poke>(series, datatype::POKE)(series, index_argument(index), value, index);
}

Cell length(Cell* series) {
    const int32_t n = slot<slot_fn::Length>(series, datatype::LENGTH_Q)(series);
    return n < 0 ? shared::none : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0};
}

}  // namespace qel::actions
