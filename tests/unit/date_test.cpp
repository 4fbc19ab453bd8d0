// date!: the day-number calendar against a plain day-by-day count (years
// before 0 included), zone packing and the QELBIN records of date! and
// time!. Leap years, weekdays and the seconds since 1970 as a script sees
// them are tested in tests/lang/date/calendar_cases.qel.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/qelbin.hpp"
#include "datatypes/date.hpp"
#include "datatypes/time.hpp"
#include "runtime/errors.hpp"
#include "runtime/series.hpp"
#include "qelbin_support.hpp"
#include "startup_support.hpp"
#include "test_support.hpp"

namespace qel {
namespace {

class Date : public testutil::StartedRuntime {};

using testutil::Bytes;
using testutil::encoded;

// Walks the calendar one day at a time from 1 January of year -1200 to the
// end of 2800 and checks that day numbers follow each other and come back
// to the same date, and that the weekday turns once a day.
TEST(Calendar, DayNumbersFollowTheCalendarDayByDay) {
    int32_t y = -1200, m = 1, d = 1;
    int64_t expected = date::days_of(y, m, d);
    int32_t wd = date::weekday_of(expected);
    while (y <= 2800) {
        ASSERT_EQ(date::days_of(y, m, d), expected) << y << "-" << m << "-" << d;
        int32_t ry, rm, rd;
        date::from_days(expected, ry, rm, rd);
        ASSERT_TRUE(ry == y && rm == m && rd == d) << y << "-" << m << "-" << d << " came back as " << ry << "-"
                                                   << rm << "-" << rd;
        ASSERT_EQ(date::weekday_of(expected), wd);
        expected++;
        wd = wd % 7 + 1;
        if (++d > date::days_in_month(y, m)) {
            d = 1;
            if (++m > 12) {
                m = 1;
                y++;
            }
        }
    }
}

TEST(Calendar, DayNumbersCountFromTheFirstOfMarchOfYearZero) {
    EXPECT_EQ(date::days_of(0, 3, 1), 0);
    EXPECT_EQ(date::days_of(0, 2, 29), -1);  // year 0 is a leap year
}

TEST(Zone, OffsetsPackWithTheirSign) {
    struct Case {
        int32_t seconds;
        uint32_t bits;
        int32_t back;
    } cases[] = {
        {0, 0, 0},
        {-1800, 0x40 | 2, -1800},                 // under an hour, still west
        {5 * 3600 + 45 * 60, 5 << 2 | 3, 20700},  // +05:45
        {-(3 * 3600 + 30 * 60), 0x40 | 3 << 2 | 2, -12600},
        {16 * 3600, 15 << 2 | 3, date::ZONE_LIMIT},  // cut to the widest zone
        {600, 0, 0},                                 // whole quarters only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(date::zone_bits(c.seconds), c.bits);
        EXPECT_EQ(date::zone_seconds(c.bits), c.back);
    }
}

TEST_F(Date, QelbinRecords) {
    Cell with_time{0, 0, 0, 0};
    date::make_at_from_fields(&with_time, 2024, 1, 15, 10 * 3600 + 30 * 60, 5, 30, false, true);
    Cell day_only{0, 0, 0, 0};
    date::make_at_from_fields(&day_only, -44, 3, 15, 0, 0, 0, false, false);
    Cell t{0, 0, 0, 0};
    time_type::make_at(-5415.25, &t);
    Cell whole{0, 0, 0, 0};
    time_type::make_at(3600, &whole);

    // Compact: a date without time has no short-form flag and no seconds;
    // a whole time takes the short form.
    const Bytes day_img = encoded(day_only, true);
    const Bytes day_rec(day_img.begin() + 10, day_img.end());
    ASSERT_EQ(day_rec.size(), 5u);
    EXPECT_EQ(day_rec[0], TYPE_DATE);
    const Bytes time_img = encoded(whole, true);
    const Bytes time_rec(time_img.begin() + 10, time_img.end());
    EXPECT_EQ(time_rec, (Bytes{TYPE_TIME | 0x40, 0xA0, 0x38}));  // varint of zigzag(3600) = 7200

    for (bool compact : {true, false})
        for (const Cell& v : {with_time, day_only, t, whole}) {
            SCOPED_TRACE(testing::Message() << cell::type_of(&v) << (compact ? " compact" : " fixed"));
            const Bytes img = encoded(v, compact);
            const Cell back = qelbin::decode(img.data(), img.size());
            EXPECT_EQ(cell::type_of(&back), cell::type_of(&v));
            EXPECT_EQ(payload_word(back, 0), payload_word(v, 0));
            EXPECT_EQ(cell::get_double(&back), cell::get_double(&v));
        }

    // A date whose time flag and short-form flag disagree is refused.
    Bytes bad = encoded(day_only, true);
    bad[10] |= 0x40;
    EXPECT_NE(testutil::raised([&] { qelbin::decode(bad.data(), bad.size()); }), 0);
}

}  // namespace
}  // namespace qel
