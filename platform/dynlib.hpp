// Shared libraries opened on first use. The optional libraries (the HTTP
// client, the image formats and the message digests) are not linked into
// the executable: a start that never needs them does not pay for loading
// and relocating them and their dependencies. Each user keeps a table of
// the functions it calls, filled once by symbol name; a library or function
// that cannot be found leaves the table absent, and the caller answers as
// for any failure.
#pragma once
#include <cstdint>

namespace qel::dynlib {

enum class Library : uint8_t { Curl, Png, Jpeg, Gif, Tiff, Crypto };

// The library's handle, opened on the first call and kept; null when the
// library cannot be loaded (then every later call answers null too).
void* handle(Library lib);

// The address of a symbol of the library; null when either is missing.
void* symbol(Library lib, const char* name);

// Fills the function pointers of one table from one library and remembers
// whether every one was found.
class Binder {
public:
    explicit Binder(Library lib) : lib_(lib) {}
    template <typename Fn>
    void bind(Fn*& slot, const char* name) {
        slot = reinterpret_cast<Fn*>(symbol(lib_, name));
        complete_ = complete_ && slot != nullptr;
    }
    bool complete() const { return complete_; }

private:
    Library lib_;
    bool complete_ = true;
};

// The table T of a library's functions, built once by T's constructor
// (which binds every member through the Binder it is given); null when the
// library or any of the functions is missing.
template <typename T>
const T* load(Library lib) {
    static const T* const table = [lib]() -> const T* {
        Binder binder(lib);
        static const T filled(binder);
        return binder.complete() ? &filled : nullptr;
    }();
    return table;
}

}  // namespace qel::dynlib
