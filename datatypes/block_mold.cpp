// Form and mold of blocks. Elements are copied out of the block before
// they are formed or molded: the element's own routine appends to the
// output buffer, and any allocation may move the block's buffer, so the
// walk re-reads its block through the node at every step.
#include "datatypes/block_mold.hpp"

#include "datatypes/mold.hpp"
#include "datatypes/text.hpp"
#include "runtime/unicode.hpp"

namespace qel::block {

namespace {

// The element at position i of the buffer, or false past the tail (the
// walk's own output may not change the block, but an element's mold is
// another type's code: never trust a length read earlier).
bool element(node_t n, uint32_t i, Cell* out) {
    SeriesBuffer* s = series::buffer_of(n);
    if (i >= series::buffer_length(n)) return false;
    *out = series::head_cell(s)[i];
    return true;
}

bool ends_in_break(node_t out) {
    const uint32_t n = text::length(out);
    if (n == 0) return false;
    const uint32_t c = unicode::codepoint_at(out, n - 1);
    return c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

int32_t mold_each(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const node_t n = series_node(value);
    const uint32_t from = series_index(value);
    bool close_break = false;
    {
        mold::CycleEntry entry(n);
        Cell c;
        for (uint32_t i = from; element(n, i, &c); i++) {
            if (options.part && limit < 1) return limit;
            const bool first = i == from;
            if (!options.flat && (c.header & cell_flag::NEW_LINE)) {
                // A flag on the first value opens the block onto its own
                // lines: everything inside goes one level deeper and the
                // closing bracket gets a line of its own.
                if (first && !options.only) {
                    indent++;
                    close_break = true;
                }
                if (!(first && options.only)) {
                    text::append_latin1(out, "\n", 1);
                    limit = mold::spend(limit, 1);
                }
                text::indent(out, indent);
                limit = mold::spend(limit, 4 * static_cast<int64_t>(indent));
            } else if (!first) {
                text::append_latin1(out, " ", 1);
                limit = mold::spend(limit, 1);
            }
            limit = actions::mold(&c, out, options.nested(), limit, indent);
        }
    }
    if (close_break) {
        indent--;
        text::append_latin1(out, "\n", 1);
        text::indent(out, indent);
        limit = mold::spend(limit, 4 * static_cast<int64_t>(indent) + 1);
    }
    return limit;
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    const Cell v = *value;
    if (mold::cycle_marker(&v, out, &limit, true)) return limit;
    if (!options.only) {
        text::append_latin1(out, "[", 1);
        limit = mold::spend(limit, 1);
    }
    limit = mold_each(&v, out, options, limit, indent);
    if (!options.only) {
        text::append_latin1(out, "]", 1);
        limit = mold::spend(limit, 1);
    }
    return limit;
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    const Cell v = *value;
    if (mold::cycle_marker(&v, out, &limit, false)) return limit;
    mold::CycleEntry entry(series_node(v));
    Cell c;
    for (uint32_t i = series_index(v); element(series_node(v), i, &c); i++) {
        if (part && limit < 1) break;
        limit = actions::form(&c, out, part, limit);
        if (i + 1 < series::buffer_length(series_node(v)) && !ends_in_break(out)) {
            text::append_latin1(out, " ", 1);
            limit = mold::spend(limit, 1);
        }
    }
    return limit;
}

}  // namespace qel::block
