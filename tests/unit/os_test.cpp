// Operating-system wrappers: the sleep length, the clock in local time and
// in UTC, the current directory and the environment, each put back as it
// was found.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <unistd.h>

#include "platform/os.hpp"

namespace {

using namespace qel;

TEST(Os, SleepLengthIsAtLeastOneMillisecondAndNeverOverflows) {
    struct Case {
        double seconds;
        int32_t millis;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0, 1},         {0.0001, 1},        {1.5, 1500},         {0.0025, 2},
        {-3, 1},        {-inf, 1},          {std::nan(""), 1},   {1e300, INT32_MAX},
        {inf, INT32_MAX},
    };
    for (const Case& c : cases) EXPECT_EQ(os::sleep_millis(c.seconds), c.millis) << c.seconds;
}

// Sets TZ for the life of the object and puts the old one back.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTz() {
        if (had_)
            ::setenv("TZ", saved_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string saved_;
    bool had_ = false;
};

TEST(Os, LocalClockCarriesTheOffsetOfLocalTime) {
    // POSIX zone strings count hours west of UTC, hence the flipped signs.
    struct Case {
        const char* tz;
        int32_t offset;
    };
    const Case cases[] = {
        {"UTC0", 0},
        {"<+0545>-5:45", (5 * 60 + 45) * 60},
        {"<-0330>3:30", -(3 * 60 + 30) * 60},
        {"<-0030>0:30", -30 * 60},
    };
    for (const Case& c : cases) {
        ScopedTz tz(c.tz);
        os::ClockReading r{};
        ASSERT_TRUE(os::read_clock(false, false, r)) << c.tz;
        EXPECT_EQ(r.offset, c.offset) << c.tz;
    }
}

TEST(Os, UtcClockHasOffsetZeroAndTodaysFields) {
    ScopedTz tz("<+0545>-5:45");  // a local zone must not leak into the UTC reading
    const time_t before = ::time(nullptr);
    os::ClockReading r{};
    ASSERT_TRUE(os::read_clock(true, false, r));
    const time_t after = ::time(nullptr);
    EXPECT_EQ(r.offset, 0);
    auto same_day = [&](time_t t) {
        tm parts{};
        ::gmtime_r(&t, &parts);
        return r.year == parts.tm_year + 1900 && r.month == parts.tm_mon + 1 && r.day == parts.tm_mday;
    };
    // Either side of a midnight passing during the call is right.
    EXPECT_TRUE(same_day(before) || same_day(after)) << r.year << "-" << r.month << "-" << r.day;
}

TEST(Os, ClockTimeIsWithinOneDayAndWholeUnlessPrecise) {
    for (bool precise : {false, true}) {
        os::ClockReading r{};
        ASSERT_TRUE(os::read_clock(true, precise, r));
        EXPECT_GE(r.seconds, 0.0);
        EXPECT_LT(r.seconds, 86400.0);
        if (!precise) {
            EXPECT_EQ(r.seconds, std::floor(r.seconds));
        }
    }
}

TEST(Os, CurrentDirectoryFollowsTheProcess) {
    const std::string original = os::get_current_dir();
    ASSERT_FALSE(original.empty());
    char temp[] = "/tmp/qel-os-test-XXXXXX";
    ASSERT_NE(::mkdtemp(temp), nullptr);
    char* real = ::realpath(temp, nullptr);
    ASSERT_NE(real, nullptr);
    const std::string expected = real;
    std::free(real);

    ASSERT_EQ(::chdir(temp), 0);
    const std::string inside = os::get_current_dir();
    ASSERT_EQ(::chdir(original.c_str()), 0);
    EXPECT_EQ(inside, expected);
    EXPECT_EQ(os::get_current_dir(), original);
    ::rmdir(temp);
}

TEST(Os, EnvironmentSetGetAndRemove) {
    const std::string name = "QEL_OS_TEST_VARIABLE";
    const std::string value = "a b=c";
    const std::string empty;
    EXPECT_TRUE(os::set_env(name, &value));
    EXPECT_EQ(os::get_env(name), value);
    EXPECT_TRUE(os::set_env(name, &empty));
    EXPECT_EQ(os::get_env(name), empty) << "an empty value is still a value";
    EXPECT_TRUE(os::set_env(name, nullptr));
    EXPECT_EQ(os::get_env(name), std::nullopt);

    const std::string with_nul("x\0y", 3);
    EXPECT_FALSE(os::set_env("BAD=NAME", &value));
    EXPECT_FALSE(os::set_env(name, &with_nul));
    EXPECT_FALSE(os::set_env(name + std::string(1, '\0') + "PATH", &value));
    EXPECT_EQ(os::get_env(name), std::nullopt);
}

TEST(Os, RegionsAreWritableAndReleased) {
    const size_t size = 1 << 16;
    auto* p = static_cast<unsigned char*>(os::virtual_alloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0) << "fresh pages are zero";
    p[0] = 1;
    p[size - 1] = 1;
    EXPECT_TRUE(os::virtual_free(p, size));
    EXPECT_EQ(os::virtual_alloc(0), nullptr);
}

TEST(Os, HugeRegionsStartOnAHugePageBoundaryAndGrow) {
    for (const size_t size : {os::HUGE_PAGE, os::HUGE_PAGE + 4096, 3 * os::HUGE_PAGE}) {
        SCOPED_TRACE(size);
        auto* p = static_cast<unsigned char*>(os::virtual_alloc(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % os::HUGE_PAGE, 0u);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[size - 1], 0);
        p[0] = 7;
        p[size - 1] = 9;
        auto* q = static_cast<unsigned char*>(os::virtual_grow(p, size, 2 * size));
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(q[0], 7) << "the contents move with the region";
        EXPECT_EQ(q[size - 1], 9);
        EXPECT_EQ(q[2 * size - 1], 0) << "the grown part is fresh";
        EXPECT_TRUE(os::virtual_free(q, 2 * size));
    }
}

}  // namespace
