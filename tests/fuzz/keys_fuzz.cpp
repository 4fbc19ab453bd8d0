// Fuzz target of the terminal key decoder: any bytes, in any split, give
// only keys the line editor knows (a code point, a control code or one of
// the named negative codes) and never leave the decoder stuck. The first
// byte chooses after which bytes the wait for more input runs out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/key_decoder.hpp"

namespace {

using namespace qel;

bool known(int key) {
    if (key >= keys::PAGE_DOWN && key <= keys::UP) return true;
    if (key == keys::OTHER) return true;
    return key > 0 && key <= 0x10FFFF && !(key >= 0xD800 && key <= 0xDFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned wait_every = data[0] % 8;
    keys::Decoder d;
    int key;
    for (size_t i = 1; i < size; i++) {
        d.feed(data[i]);
        if (wait_every && i % wait_every == 0) d.flush();
        while (d.next(key))
            if (!known(key)) std::abort();
    }
    d.flush();
    while (d.next(key))
        if (!known(key)) std::abort();
    if (d.pending()) std::abort();
    return 0;
}
