// enbase and debase: bytes to base-2, 16, 58 or 64 text and back, through
// the codecs of runtime/base_n.hpp. The base is 64 unless /base names
// another.
#include <string>
#include <vector>

#include "runtime/base_n.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/string.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace qel::natives {

namespace {

// Longest text the encoders may produce: what a 32-bit process could hold.
constexpr uint64_t MAX_TEXT = 0x7FFFFF00;

int32_t base_argument(const int32_t* r) {
    if (r[0] < 0) return 64;
    const Cell* base = stack::arg_base + r[0];
    const int32_t b = integer_value(base);
    if (!binary::supported_base(b)) err::raise(err::INVALID_ARG, base);
    return b;
}

}  // namespace

void native_debase(const int32_t* r) {
    const int32_t base = base_argument(r);
    Cell* result = stack::push(&shared::none);
    if (!binary::decode_text(base, stack::arg_base, result)) *result = shared::none;
    const Cell v = *result;
    stack::set_last_reset(&v);
}

void native_enbase(const int32_t* r) {
    const int32_t base = base_argument(r);
    const Cell value = *stack::arg_base;
    // The input bytes, copied out so that making the result cannot move
    // them: a text's UTF-8 form, a binary from its index.
    std::vector<uint8_t> bytes;
    if (cell::type_of(&value) == TYPE_BINARY) {
        bytes = binary::copy_bytes(&value);
    } else {
        bytes.resize(unicode::utf8_length(&value, -1));
        unicode::write_utf8(&value, -1, bytes.data(), false);
    }
    if (binary::encoded_size(base, bytes.size()) > MAX_TEXT) err::raise(err::TOO_LONG);
    std::string text;
    binary::encode_base(base, bytes.data(), bytes.size(), text);
    const node_t n = memory::alloc_codepoints(static_cast<uint32_t>(text.size()), 1);
    series::append_bytes(n, text.data(), static_cast<uint32_t>(text.size()));
    const Cell result{TYPE_STRING, 0, n, 0};
    stack::set_last_reset(&result);
}

}  // namespace qel::natives
