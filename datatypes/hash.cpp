// hash!: the actions it does not take from block! (see hash.hpp). Each
// runs block!'s own action on the cells and then puts the index right.
#include "datatypes/hash.hpp"

#include <algorithm>

#include "datatypes/block.hpp"
#include "datatypes/block_mold.hpp"
#include "datatypes/block_search.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/series.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"

namespace qel::hash {

namespace {

uint32_t total(const Cell* v) { return series::buffer_length(series_node(v)); }

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    const Cell src = *value;
    Cell* top = stack::arg_top;
    // block!'s copy of the same cells, seen as a block so that it builds
    // no index of its own.
    Cell as_block = src;
    cell::set_type(&as_block, TYPE_BLOCK);
    hash_index_node(as_block) = 0;
    Cell* b = stack::push(&as_block);
    Cell* r = stack::push(&shared::unset);
    block::copy(b, r, part, deep, types);
    cell::set_type(r, TYPE_HASH);
    hash_index_node(r) = 0;
    const bool whole = series_index(src) == 0 && !part && !deep && !types && hash_index_node(src);
    const node_t rec = whole ? hashtab::copy(hash_index_node(src), series_node(r))
                             : hashtab::make(std::max<uint32_t>(total(r), 1), r, hashtab::Kind::HASH, 0);
    hash_index_node(r) = rec;
    const Cell made = *r;
    stack::arg_top = top;
    *result = made;
    return result;
}

Cell* make_or_to(Cell* proto, Cell* spec_in, bool to) {
    const Cell spec = *spec_in;
    const uint32_t st = cell::type_of(&spec);
    if (st == TYPE_HASH) {
        Cell* r = stack::push(&shared::unset);
        return copy(spec_in, r, nullptr, false, nullptr);
    }
    if (!to && (st == TYPE_INTEGER || st == TYPE_FLOAT || st == TYPE_BLOCK))
        return block::make(proto, spec_in, TYPE_HASH);
    return block::to(proto, spec_in, TYPE_HASH);
}

Cell* make(Cell* proto, Cell* spec, uint32_t) { return make_or_to(proto, spec, false); }
Cell* to(Cell* proto, Cell* spec, uint32_t) { return make_or_to(proto, spec, true); }

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    static constexpr char PREFIX[] = "make hash! ";
    text::append_latin1(out, PREFIX, sizeof PREFIX - 1);
    limit = mold::spend(limit, sizeof PREFIX - 1);
    return block::mold(value, out, options.nested(), limit, indent);
}

Cell* sort(Cell* series, const datatype::SortOptions& options) {
    Cell* r = block::sort(series, options);
    reindex_from(series, series_type::clamp_index(series));
    return r;
}

}  // namespace

void reindex_from(const Cell* h, uint32_t position) {
    if (cell::type_of(h) != TYPE_HASH || !hash_index_node(h)) return;
    const Cell v = *h;
    const uint32_t n = total(&v);
    if (position >= n) return;
    // Every stale entry goes first: indexing a cell while others still
    // name positions whose values have changed could chain it to a bucket
    // of another value.
    hashtab::remove_range(hash_index_node(v), position, n - position);
    for (uint32_t p = position; p < total(&v); p++) hashtab::put_at(hash_index_node(v), p);
}

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &to);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::COPY>(r, &copy);
    datatype::set_slot<datatype::SORT>(r, &sort);
}

}  // namespace qel::hash
