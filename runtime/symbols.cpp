// The symbol table: the block of symbol! cells and its name index.
//
// The block is reached through the index record (its indexed series), so
// the one node the collector rewrites on node compaction is the only copy
// kept; the root-block cell that holds the block keeps it alive.
#include "runtime/symbols.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"

namespace qel::symbol {

node_t index = 0;
const int32_t* canonical_ids = nullptr;
uint32_t canonical_limit = 0;

namespace {

Cell* cells() { return series::head_cell(series::buffer_of(block())); }

// The storage behind canonical_ids; entry 0 stands for no symbol.
std::vector<int32_t> canonical_table;

void note_canonical(int32_t id) {
    canonical_table.push_back(id);
    canonical_ids = canonical_table.data();
    canonical_limit = static_cast<uint32_t>(canonical_table.size());
}

}  // namespace

void init() {
    index = 0;
    canonical_table.assign(1, 0);
    canonical_ids = canonical_table.data();
    canonical_limit = 1;
    // The root-block cell is reserved before the block is made, so that the
    // block is held from the moment it exists.
    Cell* slot = series::reserve_cell(&root_cell);
    const auto at = static_cast<uint32_t>(slot - series::head_cell(series::buffer_of(series_node(root_cell))));
    const node_t b = memory::alloc_cells(INITIAL_SYMBOLS);
    Cell* holder = series::head_cell(series::buffer_of(series_node(root_cell))) + at;
    *holder = Cell{TYPE_BLOCK, 0, b, 0};
    index = hashtab::make(INITIAL_SYMBOLS, holder, hashtab::Kind::WORDS, 0);
}

node_t block() { return hashtab::record(index)->series; }

uint32_t count() { return series::buffer_length(block()); }

int32_t intern(const char* utf8, size_t length) {
    return hashtab::lookup_symbol(index, reinterpret_cast<const uint8_t*>(utf8), static_cast<uint32_t>(length), 0);
}

int32_t intern_cstr(const char* utf8) { return intern(utf8, std::strlen(utf8)); }

int32_t intern_any_case(const char* utf8) {
    return hashtab::lookup_symbol(index, reinterpret_cast<const uint8_t*>(utf8),
                                  static_cast<uint32_t>(std::strlen(utf8)), 1);
}

int32_t intern_string(const Cell* string) {
    // Encoded outside the series frames: interning may allocate.
    std::string bytes(unicode::utf8_length(string, -1), '\0');
    unicode::write_utf8(string, -1, reinterpret_cast<uint8_t*>(bytes.data()), false);
    return intern(bytes.data(), bytes.size());
}

int32_t find(const char* utf8, size_t length) {
    return hashtab::find_symbol(index, reinterpret_cast<const uint8_t*>(utf8), static_cast<uint32_t>(length));
}

Cell* cell(int32_t id) { return cells() + (id - 1); }

int32_t alias(int32_t id) { return symbol_alias(cell(id)); }

node_t get_string(int32_t id) {
    if (const node_t cached = symbol_form_node(cell(id))) return cached;
    const node_t name_node = symbol_name_node(cell(id));
    const SeriesBuffer* s = series::buffer_of(name_node);
    const unicode::Loaded text = unicode::load_utf8_series(name_node, s->head, s->tail - s->head, 0, false);
    symbol_form_node(cell(id)) = text.node;
    return text.node;
}

const char* name(int32_t id) {
    return reinterpret_cast<const char*>(series::head_ptr(series::buffer_of(symbol_name_node(cell(id)))));
}

uint32_t name_length(int32_t id) { return series::buffer_length(symbol_name_node(cell(id))); }

uint32_t append(const uint8_t* name, uint32_t length, int32_t alias_id) {
    // The cell first, as unset!, so the name series made next is held by a
    // symbol as soon as it is filled in.
    Cell* slot = series::reserve_cell(series::buffer_of(block()));
    const auto position = static_cast<uint32_t>(slot - cells());
    const node_t n = memory::alloc_bytes(length + 1);
    SeriesBuffer* s = series::buffer_of(n);
    std::memcpy(series::data(s), name, length);
    series::data(s)[length] = 0;
    s->tail = s->head + length;
    cells()[position] = Cell{TYPE_SYMBOL, static_cast<uint32_t>(alias_id), 0, n};
    note_canonical(alias_id > 0 ? alias_id : static_cast<int32_t>(position) + 1);
    return position;
}

}  // namespace qel::symbol
