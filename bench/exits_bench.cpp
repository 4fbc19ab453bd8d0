// What break, continue and return cost next to a plain call: each is timed
// as the interpreter performs it (frames pushed, the exit signalled and
// taken, the frames popped), with the same exit taken as a C++ exception for
// comparison. Prints nanoseconds per operation, the median of several runs;
// nothing here passes or fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "library/startup.hpp"
#include "runtime/stack.hpp"
#include "runtime/exits.hpp"

namespace {

using namespace qel;
using namespace qel::stack;

const Cell value{TYPE_INTEGER, 0, 7, 0};

// A native call that answers a value.
void plain_call() {
    mark_native(nullptr);
    push(&value);
    unwind_last();
}

// A function call: the body frame, the body's result, the pop.
void function_call() {
    mark_func_body(nullptr, 0);
    push(&value);
    unwind_last();
}

// `return 7` inside a function body: the return native's frame, the
// signal, the body taking it.
void signalled_return() {
    mark_func_body(nullptr, 0);
    mark_native(nullptr);
    push(&value);
    signal_exit(true, false);
    take_pending(catch_code::RETURN);
    unwind_last();
}

void signalled_break(bool is_continue) {
    mark_loop(nullptr);
    mark_native(nullptr);
    push(&value);
    signal_break(false, is_continue);
    take_pending(catch_code::BREAK);
    unwind();
}

void excepted_return() {
    mark_func_body(nullptr, 0);
    try {
        mark_native(nullptr);
        push(&value);
        signal_exit(true, false);
        raise_pending();
    } catch (const NonLocalExit&) {
    }
    unwind_last();
}

template <class F>
double ns_per_op(F&& f, long n) {
    std::vector<double> runs;
    for (int r = 0; r < 5; r++) {
        arg_base = arg_top = arg_bottom;
        frame_top = frame_bottom;
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < n; i++) {
            f();
            reset();  // the caller's next expression starts on an empty stretch
        }
        const auto end = std::chrono::steady_clock::now();
        runs.push_back(std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(n));
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

long iterations = 5'000'000;

void body() {
    struct Row {
        const char* name;
        void (*op)();
        long n;
    };
    const Row rows[] = {
        {"native call", plain_call, iterations},
        {"function call", function_call, iterations},
        {"return (signalled)", signalled_return, iterations},
        {"break (signalled)", [] { signalled_break(false); }, iterations},
        {"continue (signalled)", [] { signalled_break(true); }, iterations},
        {"return (C++ exception)", excepted_return, iterations / 20},
    };
    const double call = ns_per_op(plain_call, iterations);
    std::printf("%-24s %10s %10s\n", "operation", "ns/op", "x call");
    for (const Row& r : rows) {
        const double t = ns_per_op(r.op, r.n);
        std::printf("%-24s %10.2f %10.2f\n", r.name, t, t / call);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) iterations = std::atol(argv[1]);
    startup::run(argc, argv, body);
}
