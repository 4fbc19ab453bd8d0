#include "datatypes/system_object.hpp"

#include <string>
#include <unordered_map>

#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "runtime/context.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"

namespace qel::system_object {

namespace {

Cell* system_cell() {
    if (!context::global) return nullptr;  // before start-up
    const int32_t at = context::find_symbol(context::global, words::sym_system, true);
    if (at < 0) return nullptr;
    return context::slot_at(context::global, static_cast<uint32_t>(at));
}

// One step down from value by the field's symbol; nullptr when there is
// none.
Cell* step(Cell* value, int32_t sym) {
    if (!value) return nullptr;
    if (cell::type_of(value) == TYPE_OBJECT) {
        const Cell word{TYPE_WORD, 0, static_cast<uint32_t>(sym), UINT32_MAX};
        const int32_t index = object::field_index(value, &word);
        return index < 0 ? nullptr : object::value_at(value, static_cast<uint32_t>(index));
    }
    if (cell::type_of(value) == TYPE_MAP) {
        // Map keys of the word types are kept as set-words.
        const Cell key{TYPE_SET_WORD, 0, static_cast<uint32_t>(sym), UINT32_MAX};
        Cell* pair = map::find_pair(value, &key, CompareOp::Equal);
        return pair ? pair + 1 : nullptr;
    }
    return nullptr;
}

}  // namespace

Cell* field(std::initializer_list<const char*> path) {
    // The names are string literals of the readers, some of which run for
    // every value formed: each is interned once and known by its address.
    static std::unordered_map<const char*, int32_t> symbols;
    Cell* value = system_cell();
    for (const char* name : path) {
        if (!value) return nullptr;
        auto [at, added] = symbols.try_emplace(name, 0);
        if (added) at->second = symbol::intern_cstr(name);
        value = step(value, at->second);
    }
    return value;
}

Cell* field_at(std::string_view path) {
    constexpr std::string_view root = "system/";
    if (path.substr(0, root.size()) != root) return nullptr;
    path.remove_prefix(root.size());
    Cell* value = system_cell();
    while (value && !path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        value = step(value, symbol::intern(name.data(), name.size()));
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
    return value;
}

}  // namespace qel::system_object
