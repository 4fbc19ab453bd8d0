// Shared pieces of the unit tests: catching raised errors and starting a
// test from an empty memory record.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "runtime/context.hpp"
#include "runtime/stack.hpp"
#include "runtime/exits.hpp"
#include "runtime/memory.hpp"
#include "runtime/system.hpp"

namespace qel::testutil {

// Error code raised by f, 0 when it returns normally. Once the stacks
// exist, an error needs a try frame to be caught at all.
inline int raised(const std::function<void()>& f) {
    sys.pending_error = 0;
    stack::Saved saved;
    if (stack::ready()) stack::mark_try(nullptr);
    try {
        f();
    } catch (const NonLocalExit& e) {
        EXPECT_EQ(e.code, catch_code::ERROR);
        return sys.pending_error;
    }
    return 0;
}

// Runs a shell command (independent tools serve as oracles) and answers its
// exit status; its standard output goes into out.
inline int run_command(const std::string& command, std::string& out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buf[4096];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, got);
    return pclose(pipe);
}

// Each test starts and ends with an empty memory record and the collector
// off, so nodes that no root holds survive the test and no test sees the
// frames of another.
class FreshMemory : public ::testing::Test {
protected:
    void SetUp() override {
        saved_collector_ = collector_enabled;
        collector_enabled = 0;
        memory::free_all_frames();
        memory::init();
    }
    void TearDown() override {
        memory::free_all_frames();
        memory::init();
        // The global context went with the frames: readers that look for
        // the system object find none until the next start-up.
        context::global = 0;
        collector_enabled = saved_collector_;
    }

private:
    uint32_t saved_collector_ = 0;
};

}  // namespace qel::testutil
