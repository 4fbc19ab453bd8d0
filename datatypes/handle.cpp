// handle!: its text and comparison. integer! is its parent, but none of
// integer!'s actions apply to a handle.
#include "datatypes/handle.hpp"

#include <cstring>

#include "datatypes/fills.hpp"
#include "datatypes/text.hpp"
#include "runtime/actions.hpp"

namespace qel::handle {

namespace {

const char* kind_name(uint32_t kind) {
    static const char* const names[] = {nullptr, "fd", "monitor", "window", "font", "rich-text"};
    return kind < sizeof names / sizeof names[0] ? names[kind] : nullptr;
}

// The value as 8 upper-case hexadecimal digits and "h".
size_t hex_text(uint32_t v, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 8; i++) out[i] = digits[(v >> (28 - 4 * i)) & 0xF];
    out[8] = 'h';
    return 9;
}

int32_t form_slot(const Cell* value, node_t out, bool, int32_t limit) {
    char buf[9];
    const size_t n = hex_text(handle_value(value), buf);
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

int32_t mold_slot(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    if (!options.all) {
        text::append_latin1(out, "handle!", 7);
        return limit - 7;
    }
    char buf[40] = "#[handle! ";
    size_t n = 10;
    n += hex_text(handle_value(value), buf + n);
    if (const char* name = kind_name(handle_kind(value))) {
        buf[n++] = ' ';
        const size_t k = std::strlen(name);
        std::memcpy(buf + n, name, k);
        n += k;
    }
    buf[n++] = ']';
    text::append_latin1(out, buf, n);
    return limit - static_cast<int32_t>(n);
}

// Handles compare by value; anything else is simply not equal.
int32_t compare(const Cell* a, const Cell* b, CompareOp) {
    if (cell::type_of(b) != TYPE_HANDLE) return 1;
    const int32_t x = static_cast<int32_t>(handle_value(a)), y = static_cast<int32_t>(handle_value(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::FORM>(r, &form_slot);
    datatype::set_slot<datatype::MOLD>(r, &mold_slot);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
}

}  // namespace qel::handle
