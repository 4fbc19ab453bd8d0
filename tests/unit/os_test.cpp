// Operating-system wrappers: the sleep length, the zone field (from offsets
// and from real local time), the date and clock ranges, the current
// directory and the environment, each put back as it was found.
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

constexpr uint32_t WEST = 0x40;

uint32_t zone(uint32_t hours, uint32_t quarters, bool west = false) {
    return (west ? WEST : 0) | hours << 2 | quarters;
}

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

TEST(Os, ZoneFieldHoldsSignHoursAndQuarters) {
    struct Case {
        int32_t offset;
        uint32_t expected;
    };
    const Case cases[] = {
        {0, 0},
        {(5 * 60 + 45) * 60, zone(5, 3)},
        {-(3 * 60 + 30) * 60, zone(3, 2, true)},
        {-30 * 60, zone(0, 2, true)},           // west of UTC by less than an hour
        {-(5 * 60 + 45) * 60, zone(5, 3, true)},  // quarters counted from the magnitude
        {-15 * 60, zone(0, 1, true)},
        {14 * 3600, zone(14, 0)},
        {-12 * 3600, zone(12, 0, true)},
        {(5 * 60 + 30) * 60 + 59, zone(5, 2)},  // seconds below a minute are dropped
        {-59, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(os::pack_zone(c.offset), c.expected) << c.offset << " s";
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

TEST(Os, LocalDateCarriesTheZoneOfLocalTime) {
    // POSIX zone strings count hours west of UTC, hence the flipped signs.
    struct Case {
        const char* tz;
        uint32_t expected;
    };
    const Case cases[] = {
        {"UTC0", 0},
        {"<+0545>-5:45", zone(5, 3)},
        {"<-0330>3:30", zone(3, 2, true)},
        {"<-0030>0:30", zone(0, 2, true)},
    };
    for (const Case& c : cases) {
        ScopedTz tz(c.tz);
        EXPECT_EQ(os::get_date(false) & 0x7F, c.expected) << c.tz;
    }
}

TEST(Os, UtcDateHasZoneZeroAndTodaysFields) {
    ScopedTz tz("<+0545>-5:45");  // a local zone must not leak into the UTC date
    time_t before = ::time(nullptr);
    uint32_t packed = os::get_date(true);
    time_t after = ::time(nullptr);
    EXPECT_EQ(packed & 0x7F, 0u);
    auto pack = [](time_t t) {
        tm parts{};
        ::gmtime_r(&t, &parts);
        return static_cast<uint32_t>(parts.tm_year + 1900) << 17 | static_cast<uint32_t>(parts.tm_mon + 1) << 12 |
               static_cast<uint32_t>(parts.tm_mday) << 7;
    };
    // Either side of a midnight passing during the call is right.
    EXPECT_TRUE(packed == pack(before) || packed == pack(after)) << std::hex << packed;
}

TEST(Os, TimeOfDayIsWithinOneDay) {
    for (bool precise : {false, true}) {
        double t = os::get_time(precise);
        EXPECT_GE(t, 0.0);
        EXPECT_LT(t, 86400.0);
        if (!precise) {
            EXPECT_EQ(t, std::floor(t));
        }
    }
}

TEST(Os, CurrentDirectoryRoundTrips) {
    const std::string original = os::get_current_dir();
    ASSERT_FALSE(original.empty());
    char temp[] = "/tmp/qel-os-test-XXXXXX";
    ASSERT_NE(::mkdtemp(temp), nullptr);
    char* real = ::realpath(temp, nullptr);
    ASSERT_NE(real, nullptr);
    const std::string expected = real;
    std::free(real);

    EXPECT_TRUE(os::set_current_dir(temp));
    const std::string inside = os::get_current_dir();
    EXPECT_TRUE(os::set_current_dir(original));
    EXPECT_EQ(inside, expected);
    EXPECT_EQ(os::get_current_dir(), original);

    EXPECT_FALSE(os::set_current_dir(std::string(temp) + "/missing"));
    EXPECT_FALSE(os::set_current_dir(std::string("/tmp\0/x", 7)));
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

}  // namespace
