#include "datatypes/system_object.hpp"

#include "datatypes/object.hpp"
#include "runtime/context.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"

namespace qel::system_object {

Cell* field(std::initializer_list<const char*> path) {
    const int32_t at = context::find_symbol(context::global, words::sym_system, true);
    if (at < 0) return nullptr;
    Cell* value = context::slot_at(context::global, static_cast<uint32_t>(at));
    for (const char* name : path) {
        if (!value || cell::type_of(value) != TYPE_OBJECT) return nullptr;
        const Cell word{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr(name)), UINT32_MAX};
        const int32_t index = object::field_index(value, &word);
        if (index < 0) return nullptr;
        value = object::value_at(value, static_cast<uint32_t>(index));
    }
    return value;
}

}  // namespace qel::system_object
