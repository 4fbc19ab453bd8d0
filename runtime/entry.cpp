// The native level: what runs before and after the language.
//
// The process starts by recording its stack bounds, installing fault handlers
// on an alternate signal stack, copying the arguments into tracked blocks and
// fixing the floating-point mode. It then runs the start-up sequence it is
// given and the body inside the top-level catch point. The normal end (code 0)
// and every runtime error leave through end_process, which sends what was
// printed and frees the tracked blocks; a runtime error prints its report
// first and exits with its code.
#include "runtime/entry.hpp"

#include <cfenv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include <pthread.h>
#include <sys/ucontext.h>
#include <unistd.h>

#include "platform/console.hpp"
#include "platform/terminal.hpp"
#include "runtime/cycles.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/heap.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/memory.hpp"
#include "runtime/stack.hpp"
#include "runtime/system.hpp"

extern "C" char __executable_start[];
extern "C" char _end[];

namespace qel::rt {

namespace {

constexpr uint32_t ROOT_BLOCK_CELLS = 8880;
constexpr uintptr_t STACK_GUARD_BELOW = 1u << 20;  // faults this far under the stack are overflows
constexpr uintptr_t STACK_GUARD_ABOVE = 64u << 10;

// The alternate signal stack belongs to a thread: the main thread and the
// interpreter thread each get their own.
alignas(16) char signal_stack[1 << 16];
alignas(16) char interp_signal_stack[1 << 16];

// The interpreter runs on a thread of its own with a large stack, which the
// system commits only as deep recursion touches it. Smaller sizes are the
// fallbacks when the system refuses the reservation.
constexpr size_t INTERP_STACK_SIZES[] = {size_t{512} << 20, size_t{64} << 20, size_t{8} << 20};

// Addresses in reports are offsets into the executable when they fall in it,
// which keeps them at eight digits and stable across address randomisation.
uint32_t report_address(uintptr_t address) {
    auto base = reinterpret_cast<uintptr_t>(__executable_start);
    auto end = reinterpret_cast<uintptr_t>(_end);
    if (address >= base && address < end) return static_cast<uint32_t>(address - base);
    return static_cast<uint32_t>(address);
}

// The report is formatted by hand: the fault handler may call only
// async-signal-safe functions.
size_t format_report(char* out, int code, uint32_t address) {
    size_t n = 0;
    auto put = [&](const char* s) {
        while (*s) out[n++] = *s++;
    };
    put("\n*** Runtime Error ");
    char digits[12];
    int d = 0;
    unsigned v = static_cast<unsigned>(code < 0 ? -code : code);
    do {
        digits[d++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (code < 0) out[n++] = '-';
    while (d) out[n++] = digits[--d];
    put(": ");
    put(runtime_error_message(code));
    put("\n*** at: ");
    for (int shift = 28; shift >= 0; shift -= 4) out[n++] = "0123456789ABCDEF"[(address >> shift) & 0xF];
    put("h\n");
    return n;
}

void write_all(int fd, const char* p, size_t n) {
    while (n) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

uintptr_t pc_of(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

uintptr_t sp_of(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.sp);
#else
    (void)uc;
    return 0;
#endif
}

void fault_handler(int signal, siginfo_t* info, void* context) {
    int code = fault_code(signal, info->si_code, reinterpret_cast<uintptr_t>(info->si_addr));
    sys.fault_pc = pc_of(context);
    sys.fault_sp = sp_of(context);
    char report[160];
    size_t n = format_report(report, code, report_address(sys.fault_pc));
    terminal::restore_now();
    write_all(STDOUT_FILENO, report, n);
    // Tracked blocks are not freed here: free() is not safe in a signal
    // handler, and the system takes the whole process back anyway.
    _exit(code & 0xFF);
}

void install_signal_stack(char* area, size_t size, stack_t* previous = nullptr) {
    stack_t alt{};
    alt.ss_sp = area;
    alt.ss_size = size;
    sigaltstack(&alt, previous);
}

void install_fault_handlers() {
    install_signal_stack(signal_stack, sizeof signal_stack);

    struct sigaction sa{};
    sa.sa_sigaction = fault_handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP}) sigaction(s, &sa, nullptr);

    // A closed pipe on standard output must not kill the process: writes
    // then fail and the text is dropped.
    std::signal(SIGPIPE, SIG_IGN);
}

void record_stack_bounds() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        auto l = reinterpret_cast<uintptr_t>(low);
        set_stack_bounds(l, l + size);
    }
    pthread_attr_destroy(&attr);
}

void copy_arguments(int argc, char** argv) {
    // Arguments arrive from the system as bytes; they are kept as they are
    // (UTF-8 on any sane system) in tracked blocks.
    auto** array = static_cast<char**>(heap::alloc(sizeof(char*) * (static_cast<size_t>(argc) + 1)));
    for (int i = 0; i < argc; i++) {
        size_t len = std::strlen(argv[i]);
        array[i] = static_cast<char*>(heap::alloc(len + 1));
        std::memcpy(array[i], argv[i], len + 1);
    }
    array[argc] = nullptr;
    sys.argc = argc;
    sys.argv = array;
}

void set_float_mode() {
    // All exceptions masked, round to nearest: division by zero and overflow
    // give infinities and NaNs instead of faults.
    std::fesetround(FE_TONEAREST);
    std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
}

}  // namespace

void make_root_block() {
    node_t n = memory::alloc_fixed_series(ROOT_BLOCK_CELLS, sizeof(Cell), 0);
    root_cell = Cell{TYPE_BLOCK, 0, n, 0};
}

const char* runtime_error_message(int code) {
    static const char* const messages[] = {
        nullptr,
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (code >= 1 && code <= 34) return messages[code];
    switch (code) {
        case 94: return "out of memory";
        case 95: return "no CATCH for THROW";
        case 98: return "assertion failed";
        case 99: return "unknown error";
        case 100: return "no value matched in CASE";
        case 101: return "no value matched in SWITCH";
        default: return "unknown error code!";
    }
}

int fault_code(int signal, int si_code, uintptr_t fault_address) {
    switch (signal) {
        case SIGSEGV:
            if (sys.stack_low && fault_address + STACK_GUARD_BELOW >= sys.stack_low &&
                fault_address < sys.stack_low + STACK_GUARD_ABOVE)
                return code::STACK_OVERFLOW;
            return si_code == SEGV_MAPERR || si_code == SEGV_ACCERR ? 1 : 32;
        case SIGFPE:
            switch (si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                case FPE_FLTSUB: return 5;
                default: return 33;
            }
        case SIGILL:
            switch (si_code) {
                case ILL_ILLOPC: return 17;
                case ILL_ILLOPN: return 23;
                case ILL_ILLADR: return 24;
                case ILL_ILLTRP: return 25;
                case ILL_PRVOPC: return 15;
                case ILL_PRVREG: return 31;
                case ILL_COPROC: return 26;
                case ILL_BADSTK: return code::STACK_OVERFLOW;
                default: return 17;
            }
        case SIGBUS:
            switch (si_code) {
                case BUS_ADRALN: return 2;
                case BUS_ADRERR: return 27;
                case BUS_OBJERR: return 28;
#ifdef BUS_MCEERR_AR
                case BUS_MCEERR_AR: return 29;
                case BUS_MCEERR_AO: return 30;
#endif
                default: return 34;
            }
        case SIGTRAP:
            return si_code == TRAP_TRACE ? 4 : 3;
        default:
            return code::UNKNOWN;
    }
}

void set_stack_bounds(uintptr_t low, uintptr_t high) {
    sys.stack_low = low;
    sys.stack_high = high;
}

__attribute__((noinline)) uintptr_t here() {
    return reinterpret_cast<uintptr_t>(__builtin_return_address(0));
}

void runtime_error(int code, uintptr_t address) {
    if (code != 0) {
        using I = PrintItem;
        print_values({I::byte('\n'), I::cstr("*** Runtime Error "), I::integer(code), I::cstr(": "),
                      I::cstr(runtime_error_message(code)), I::byte('\n'), I::cstr("*** at: "),
                      I::hex(report_address(address)), I::byte('h'), I::byte('\n')});
    }
    end_process(code);
}

void end_process(int status) {
    terminal::restore_now();
    console::flush();
    heap::free_all();
    _exit(status & 0xFF);
}

void top_level_catch(uint32_t) {
    runtime_error(code::NO_CATCH, reinterpret_cast<uintptr_t>(&top_level_catch));
}

void start_up(int argc, char** argv) {
    sys.tracked_first = nullptr;
    sys.tracked_last = nullptr;
    record_stack_bounds();
    install_fault_handlers();
    copy_arguments(argc, argv);
    set_float_mode();
    cycles::init();
    sys.stack_at_start = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}

namespace {

// The language's life inside the top-level catch point. Every abnormal end
// leaves the process from here; the normal end returns, so that the thread
// is joined (and its resources released) before the process ends.
void run_language(void (*init)(), void (*body)()) {
    try {
        init();
        if (body) body();
    } catch (const NonLocalExit& e) {
        if (e.code == catch_code::ERROR) {
            // An error that no region took: shown, and the process ends at
            // once, leaving the tracked blocks to the system.
            err::print_pending();
            console::flush();
            _exit(exit_status::UNCAUGHT_ERROR & 0xFF);
        }
        top_level_catch(e.code);
    } catch (const std::bad_alloc&) {
        runtime_error(code::OUT_OF_MEMORY, here());
    } catch (...) {
        runtime_error(code::UNKNOWN, here());
    }
}

void (*language_init)();
void (*language_body)();

void* interpreter_thread(void*) {
    stack_t previous{};
    install_signal_stack(interp_signal_stack, sizeof interp_signal_stack, &previous);
    record_stack_bounds();
    stack::depth_floor = sys.stack_low ? sys.stack_low + stack::DEPTH_MARGIN : 0;
    sys.stack_at_start = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    run_language(language_init, language_body);
    // A thread's end may release the signal stack it had before ours (the
    // sanitizers install one of their own); give that one back.
    sigaltstack(&previous, nullptr);
    return nullptr;
}

}  // namespace

void run(int argc, char** argv, void (*init)(), void (*body)()) {
    start_up(argc, argv);
    language_init = init;
    language_body = body;
    for (size_t size : INTERP_STACK_SIZES) {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) break;
        pthread_t thread;
        const bool made = pthread_attr_setstacksize(&attr, size) == 0 &&
                          pthread_create(&thread, &attr, interpreter_thread, nullptr) == 0;
        pthread_attr_destroy(&attr);
        // The interpreter thread ends the process itself on every abnormal
        // end; it returns only at the normal end.
        if (made) {
            pthread_join(thread, nullptr);
            runtime_error(0, 0);
        }
    }
    // No thread at all: the language runs on the main thread's stack,
    // unchecked for depth beyond what the fault handler reports.
    run_language(init, body);
    runtime_error(0, 0);
}

}  // namespace qel::rt
