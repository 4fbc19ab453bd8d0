// Opening the optional libraries by their version-qualified names (see
// dynlib.hpp).
#include "platform/dynlib.hpp"

#include <dlfcn.h>

#include <mutex>

namespace qel::dynlib {

namespace {

constexpr int LIBRARY_COUNT = 6;

// The names are the ABI versions the headers describe.
const char* soname(Library lib) {
    switch (lib) {
        case Library::Curl: return "libcurl.so.4";
        case Library::Png: return "libpng16.so.16";
        case Library::Jpeg: return "libjpeg.so.62";
        case Library::Gif: return "libgif.so.7";
        case Library::Tiff: return "libtiff.so.6";
        case Library::Crypto: return "libcrypto.so.3";
    }
    return nullptr;
}

}  // namespace

void* handle(Library lib) {
    static std::once_flag opened[LIBRARY_COUNT];
    static void* handles[LIBRARY_COUNT] = {};
    const auto i = static_cast<size_t>(lib);
    std::call_once(opened[i], [lib, i] { handles[i] = dlopen(soname(lib), RTLD_NOW | RTLD_LOCAL); });
    return handles[i];
}

void* symbol(Library lib, const char* name) {
    void* h = handle(lib);
    return h ? dlsym(h, name) : nullptr;
}

}  // namespace qel::dynlib
