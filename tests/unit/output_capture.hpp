// Test helper: runs a piece of code with console output going into a pipe
// and answers the bytes that arrived. Outputs stay well below the pipe's
// capacity, so no reader thread is needed.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/console.hpp"

namespace qel::testutil {

template <class F>
std::string capture_output(F&& f) {
    int fds[2];
    if (::pipe(fds) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    console::set_output_fd(fds[1]);
    f();
    console::set_output_fd(1);
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    return out;
}

}  // namespace qel::testutil
