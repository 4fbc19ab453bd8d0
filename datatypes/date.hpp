// date!: a day of the proleptic Gregorian calendar, optionally with a time
// of day and a zone offset.
//
// Cell: word 1 the packed date, words 2-3 a double of seconds; no word
// holds a node id. The packed date has the year in bits 17-31 (signed),
// the month in bits 12-15, the day in bits 7-11, the time flag in bit 16
// and the zone in bits 0-6 (bit 6 set west of UTC, bits 2-5 whole hours,
// bits 0-1 quarter hours). The packed day is the local day; the seconds
// are the UTC time belonging to it, so the local clock reads seconds plus
// the zone offset, and that sum always lies in [0, 86400).
//
// The calendar works on day numbers counted from 1 March of year 0, with
// floor division throughout so that years before 0 are right too.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::date {

constexpr uint32_t TIME_FLAG = 1u << 16;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_WEST = 0x40;
constexpr int32_t YEAR_MIN = -16384;
constexpr int32_t YEAR_MAX = 16383;
constexpr int32_t ZONE_LIMIT = 15 * 3600 + 45 * 60;  // the widest offset a zone can hold

// Field numbers of path access and pick.
enum Field : int32_t {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND, F_WEEKDAY, F_YEARDAY,
    F_TIMEZONE, F_WEEK, F_ISOWEEK,
};

// ---- packed words ----
inline int32_t year_of(uint32_t p) { return static_cast<int32_t>(p) >> 17; }
inline int32_t month_of(uint32_t p) { return static_cast<int32_t>((p >> 12) & 15); }
inline int32_t day_of(uint32_t p) { return static_cast<int32_t>((p >> 7) & 31); }
inline bool has_time(uint32_t p) { return p & TIME_FLAG; }
inline uint32_t pack(int32_t y, int32_t m, int32_t d) {
    return static_cast<uint32_t>(y) << 17 | static_cast<uint32_t>(m & 15) << 12 | static_cast<uint32_t>(d & 31) << 7;
}
// Offset in seconds of the zone bits.
int32_t zone_seconds(uint32_t zone);
// Zone bits of an offset in seconds, cut to whole quarter hours toward
// zero; the sign is kept for offsets under an hour. |seconds| must not
// exceed ZONE_LIMIT.
uint32_t zone_bits(int32_t seconds);

// ---- calendar ----
int64_t days_of(int64_t year, int32_t month, int32_t day);
void from_days(int64_t days, int32_t& year, int32_t& month, int32_t& day);
bool leap_year(int64_t year);
int32_t days_in_month(int64_t year, int32_t month);
int32_t weekday_of(int64_t days);  // 1 Monday .. 7 Sunday
int32_t year_day(uint32_t packed);
int32_t week_of(uint32_t packed);     // weeks starting on Sunday, 1 January in week 1
int32_t isoweek_of(uint32_t packed);

// ---- cells ----
// year, month, day and, with a time, the local time and the zone (signed
// hours and minutes; the minutes take the hours' sign unless the hours are
// 0, where zone_negative gives it). Used by the lexer.
Cell* make_at_from_fields(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                          int32_t zone_minutes, bool zone_negative, bool with_time);
Cell* make_at(Cell* c, uint32_t packed, double time);

// Seconds since 1970-01-01 00:00 UTC, rounded to the nearest second;
// raises math overflow outside the 32-bit range.
int32_t to_unix_seconds(const Cell* date);
// The packed word moved to the Monday of ISO week n, to day n (1 Monday)
// of its week, to day n of its year; zone and time flag kept.
uint32_t set_week(uint32_t packed, int32_t n);
uint32_t set_weekday(uint32_t packed, int32_t n);
uint32_t set_year_day(uint32_t packed, int32_t n);
// a - b as a time! into out.
Cell* difference(const Cell* a, const Cell* b, Cell* out);
// Moves whole days between the time and the day so that the local time
// lies in [0, 86400); with local the time is first taken as local time
// and turned into UTC. Raises math overflow when the year leaves its range.
void normalize(Cell* date, double time, bool local);
// The field of a date into out (integer!, float!, time!, date! or none).
Cell* field(const Cell* date, int32_t field, Cell* out);

void fill(datatype::Record& r);

}  // namespace qel::date
