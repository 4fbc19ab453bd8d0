// now: the date and time from one reading of the system clock, or one of
// its fields.
#include "datatypes/date.hpp"
#include "datatypes/integer.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "platform/os.hpp"
#include "runtime/errors.hpp"

namespace qel::natives {

namespace {

enum NowRefinement { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };

}  // namespace

void native_now(const int32_t* refinements) {
    auto given = [&](int r) { return refinements[r] >= 0; };
    int count = 0;
    for (int r = YEAR; r <= PRECISE; r++) count += given(r);
    if (count > 1 && !(count == 2 && given(TIME) && given(PRECISE))) err::raise(err::BAD_REFINES);

    os::ClockReading clock{};
    if (!os::read_clock(given(UTC), given(PRECISE), clock)) err::raise(err::NOT_DONE);
    Cell result{0, 0, 0, 0};
    if (given(DATE)) {
        date::make_at(&result, date::pack(clock.year, clock.month, clock.day), 0);
        stack::set_last_reset(&result);
        return;
    }
    const uint32_t zone = date::zone_bits(clock.offset);
    date::make_at(&result, date::pack(clock.year, clock.month, clock.day) | zone | date::TIME_FLAG, 0);
    date::normalize(&result, clock.seconds, true);

    int32_t field = 0;
    if (given(YEAR)) field = date::F_YEAR;
    else if (given(MONTH)) field = date::F_MONTH;
    else if (given(DAY)) field = date::F_DAY;
    else if (given(ZONE)) field = date::F_ZONE;
    else if (given(TIME)) field = date::F_TIME;
    else if (given(WEEKDAY)) field = date::F_WEEKDAY;
    else if (given(YEARDAY)) field = date::F_YEARDAY;
    if (field) {
        Cell out{0, 0, 0, 0};
        date::field(&result, field, &out);
        stack::set_last_reset(&out);
        return;
    }
    stack::set_last_reset(&result);
}

}  // namespace qel::natives
