// The native level's tables: fault codes by signal and the report messages.
#include <csignal>

#include <gtest/gtest.h>

#include "runtime/entry.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/system.hpp"

using namespace qel;

TEST(Entry, FaultCodesBySignal) {
    struct Case {
        int signal, si_code, code;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, 1},   {SIGSEGV, SEGV_ACCERR, 1},  {SIGFPE, FPE_INTDIV, 13},
        {SIGFPE, FPE_INTOVF, 14},    {SIGFPE, FPE_FLTDIV, 7},    {SIGFPE, FPE_FLTOVF, 10},
        {SIGFPE, FPE_FLTUND, 12},    {SIGFPE, FPE_FLTRES, 8},    {SIGFPE, FPE_FLTINV, 9},
        {SIGFPE, SI_USER, 33},       {SIGILL, ILL_ILLOPC, 17},   {SIGILL, ILL_PRVOPC, 15},
        {SIGBUS, BUS_ADRALN, 2},     {SIGBUS, BUS_ADRERR, 27},   {SIGBUS, SI_USER, 34},
        {SIGTRAP, TRAP_BRKPT, 3},    {SIGTRAP, TRAP_TRACE, 4},   {SIGUSR1, 0, 99},
    };
    uintptr_t saved_low = sys.stack_low, saved_high = sys.stack_high;
    rt::set_stack_bounds(0x40000000, 0x40800000);
    for (const Case& c : cases)
        EXPECT_EQ(rt::fault_code(c.signal, c.si_code, 0x10), c.code) << c.signal << "/" << c.si_code;
    // An access just under the stack is an overflow; one far away is not.
    EXPECT_EQ(rt::fault_code(SIGSEGV, SEGV_MAPERR, 0x40000000 - 64), rt::code::STACK_OVERFLOW);
    EXPECT_EQ(rt::fault_code(SIGSEGV, SEGV_ACCERR, 0x40000000 + 8), rt::code::STACK_OVERFLOW);
    EXPECT_EQ(rt::fault_code(SIGSEGV, SEGV_MAPERR, 0x40400000), 1);
    rt::set_stack_bounds(saved_low, saved_high);
}

TEST(Entry, ReportMessages) {
    struct Case {
        int code;
        const char* message;
    } cases[] = {
        {1, "access violation"},        {6, "float denormal operan"},
        {13, "integer divide by zero"}, {19, "stack error or overflow"},
        {34, "Bus error"},              {94, "out of memory"},
        {95, "no CATCH for THROW"},     {101, "no value matched in SWITCH"},
        {0, "unknown error code!"},     {35, "unknown error code!"},
        {102, "unknown error code!"},   {-2, "unknown error code!"},
    };
    for (const Case& c : cases) EXPECT_STREQ(rt::runtime_error_message(c.code), c.message) << c.code;
}

TEST(Entry, RaiseCarriesTheCodeToTheErrorRegion) {
    int seen = 0;
    catch_region(catch_code::ERROR, [] { err::raise(err::TOO_DEEP); },
                 [&](uint32_t code) { seen = static_cast<int>(code); });
    EXPECT_EQ(static_cast<uint32_t>(seen), catch_code::ERROR);
    EXPECT_EQ(sys.pending_error, err::TOO_DEEP);
    EXPECT_STREQ(err::message_of(err::TOO_DEEP), "block or paren series is too deep to process");
}

TEST(Entry, RegionsTakeOnlyCodesAtOrBelowTheirOwn) {
    // A loop region (break) lets an error pass through to the outer region.
    bool outer = false, inner = false;
    catch_region(
        catch_code::ERROR,
        [&] {
            catch_region(catch_code::BREAK, [] { throw_exit(catch_code::ERROR); },
                         [&](uint32_t) { inner = true; });
        },
        [&](uint32_t) { outer = true; });
    EXPECT_FALSE(inner);
    EXPECT_TRUE(outer);
    bool took = false;
    catch_region(catch_code::BREAK, [] { throw_exit(catch_code::THROW); }, [&](uint32_t) { took = true; });
    EXPECT_TRUE(took);
}
