// Starts the runtime, then forces one way of ending the process, named by
// the first argument. Driven by check_fault.py, which reads the report.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "library/startup.hpp"
#include "runtime/stack.hpp"
#include "runtime/exits.hpp"
#include "runtime/heap.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"

namespace {

const char* mode = "";

#pragma GCC diagnostic ignored "-Winfinite-recursion"

__attribute__((noinline)) int recurse(volatile int* depth) {
    volatile char pad[256];
    pad[0] = static_cast<char>(*depth);
    *depth = *depth + 1;
    return recurse(depth) + pad[0];
}

// The same recursion as the interpreter's: each level checks the depth, so
// the end is the language's stack-overflow error, not a fault.
__attribute__((noinline)) int checked_recurse(volatile int* depth) {
    qel::stack::check_depth();
    volatile char pad[256];
    pad[0] = static_cast<char>(*depth);
    *depth = *depth + 1;
    return checked_recurse(depth) + pad[0];
}

void bus_fault() {
    char path[] = "/tmp/qel-fault-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) std::exit(77);
    unlink(path);
    if (ftruncate(fd, 4096) != 0) std::exit(77);
    auto* p = static_cast<volatile char*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (p == MAP_FAILED) std::exit(77);
    p[4096 + 16] = 1;  // past the end of the file
}

void body() {
    if (!std::strcmp(mode, "segv")) {
        volatile int* p = nullptr;
        *p = 1;
    } else if (!std::strcmp(mode, "fpe")) {
#if defined(__x86_64__) || defined(__i386__)
        volatile int a = 1, b = 0;
        volatile int c = a / b;
        (void)c;
#else
        std::exit(77);  // integer division does not trap on this machine
#endif
    } else if (!std::strcmp(mode, "ill")) {
#if defined(__x86_64__) || defined(__i386__)
        __asm__ volatile("ud2");
#else
        std::exit(77);
#endif
    } else if (!std::strcmp(mode, "bus")) {
        bus_fault();
    } else if (!std::strcmp(mode, "stack")) {
        volatile int depth = 0;
        recurse(&depth);
    } else if (!std::strcmp(mode, "depth")) {
        volatile int depth = 0;
        checked_recurse(&depth);
    } else if (!std::strcmp(mode, "oom")) {
        qel::heap::alloc(~size_t{0} / 2);
    } else if (!std::strcmp(mode, "alloc-fail")) {
        // The system refuses pages for a series frame: a language error,
        // not a crash and not a bare exit code.
        rlimit lim{1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &lim);
        qel::memory::alloc_bytes(1u << 30);
    } else if (!std::strcmp(mode, "nocatch")) {
        qel::throw_exit(qel::catch_code::THROW);
    } else if (!std::strcmp(mode, "normal")) {
        for (int i = 0; i < 10; i++) qel::heap::alloc(100 + i);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) mode = argv[1];
    qel::startup::run(argc, argv, body);
}
