// The error catalogue: codes, id words, message templates and category texts.
#pragma once
#include <cstdint>

#include "runtime/error_codes.hpp"

namespace qel::err {

constexpr int CATEGORIES = 10;

struct CatalogEntry {
    int code;
    const char* id;        // the id word
    const char* message;   // template; @1..@3 stand for arg1..arg3
};

extern const char* const category_texts[CATEGORIES];
extern const CatalogEntry catalog[];
extern const uint32_t catalog_size;

// The entry of an error code, nullptr when the catalogue has none.
const CatalogEntry* entry_of(int code);

}  // namespace qel::err
