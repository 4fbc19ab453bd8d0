// Loaders of the time! and date! literals. Each token is parsed completely
// before anything is made, so a check-only pass and a loading pass agree.
#include "lexer/date_time_loaders.hpp"

#include <cstdlib>
#include <cstring>

#include "datatypes/date.hpp"
#include "datatypes/float_text.hpp"
#include "datatypes/time.hpp"
#include "lexer/loaders.hpp"

namespace qel::lexer::loaders {

namespace {

struct Cursor {
    const uint8_t* p;
    const uint8_t* e;
    bool at_end() const { return p >= e; }
    int peek() const { return p < e ? *p : -1; }
    bool take(int c) {
        if (peek() != c) return false;
        p++;
        return true;
    }
};

inline bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A run of 1 to max decimal digits (apostrophes allowed between them when
// quotes is set), stopping after max; count gets the digits read.
bool number(Cursor& c, int max, int64_t& v, int& count, bool quotes = false) {
    v = 0;
    count = 0;
    while (!c.at_end()) {
        const int b = c.peek();
        if (is_digit(b)) {
            if (count == max) break;
            count++;
            v = v * 10 + (b - '0');
            c.p++;
        } else if (quotes && b == '\'' && count > 0 && c.p + 1 < c.e && is_digit(c.p[1])) {
            c.p++;
        } else {
            break;
        }
    }
    return count > 0;
}

// Seconds with an optional fraction (. or ,) from c: digits of the whole
// part (1 to max), then the fraction.
bool seconds(Cursor& c, int max, double& out) {
    char buf[64];
    size_t k = 0;
    int n = 0;
    while (!c.at_end() && is_digit(c.peek())) {
        if (++n > max || k >= sizeof buf - 1) return false;
        buf[k++] = static_cast<char>(*c.p++);
    }
    if (n == 0) return false;
    if (c.peek() == '.' || c.peek() == ',') {
        c.p++;
        buf[k++] = '.';
        int f = 0;
        while (!c.at_end() && is_digit(c.peek())) {
            if (k >= sizeof buf - 1) return false;
            buf[k++] = static_cast<char>(*c.p++);
            f++;
        }
        if (f == 0) return false;
    }
    size_t unparsed = 0;
    out = float_text::parse(buf, buf + k, 0, &unparsed);
    return unparsed == 0;
}

constexpr const char* MONTH_NAMES[12] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};

// A month name of 3 to 9 letters: a prefix of the full name, any case.
int32_t month_name(Cursor& c) {
    const uint8_t* a = c.p;
    while (!c.at_end() && is_letter(c.peek())) c.p++;
    const size_t n = static_cast<size_t>(c.p - a);
    if (n < 3 || n > 9) return 0;
    for (int32_t m = 0; m < 12; m++) {
        const char* name = MONTH_NAMES[m];
        if (std::strlen(name) < n) continue;
        bool same = true;
        for (size_t i = 0; i < n && same; i++) same = (a[i] | 0x20) == name[i];
        if (same) return m + 1;
    }
    return 0;
}

int64_t full_year(int64_t y, int digits) {
    if (digits <= 2) return y > 49 ? 1900 + y : 2000 + y;
    return y;
}

struct DateText {
    int64_t year = 0;
    int32_t month = 1, day = 1;
    int32_t week = 0, weekday = 0, yearday = 0;  // the ISO week and day-of-year forms
    bool with_time = false;
    double time = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool zone_negative = false;
};

// h[h]:m[m][:s[s][.f]] then Z or a zone +hh[[:]mm]: hours and minutes take
// one or two digits each.
bool time_part(Cursor& c, DateText& d) {
    int64_t h, m;
    int n;
    if (!number(c, 2, h, n) || !c.take(':') || !number(c, 2, m, n)) return false;
    if (h > 23 || m > 59) return false;
    double s = 0;
    if (c.take(':') && !seconds(c, 2, s)) return false;
    if (!(s < 60)) return false;
    d.with_time = true;
    d.time = static_cast<double>(h) * 3600 + static_cast<double>(m) * 60 + s;
    if (c.take('Z')) return true;
    const int sign = c.peek();
    if (sign != '+' && sign != '-') return true;
    c.p++;
    int64_t zh, zm = 0;
    if (!number(c, 2, zh, n) || zh > 15) return false;
    c.take(':');
    if (!c.at_end() && (!number(c, 2, zm, n) || n != 2 || zm > 59)) return false;
    d.zone_negative = sign == '-';
    d.zone_hours = static_cast<int32_t>(d.zone_negative ? -zh : zh);
    d.zone_minutes = static_cast<int32_t>(zm);
    return true;
}

bool parse_date(const uint8_t* start, const uint8_t* end, DateText& d) {
    Cursor c{start, end};
    int64_t a;
    int an;
    if (!number(c, 6, a, an)) return false;
    const int sep = c.peek();
    if (sep != '-' && sep != '/') return false;
    c.p++;

    if (sep == '-' && (c.peek() == 'W' || c.peek() == 'w')) {
        // yyyy-Www[-d]
        c.p++;
        int64_t w, wd = 1;
        int n;
        if (!number(c, 2, w, n) || w < 1 || w > 53) return false;
        if (c.take('-') && (!number(c, 1, wd, n) || wd < 1 || wd > 7)) return false;
        d.year = full_year(a, an);
        d.week = static_cast<int32_t>(w);
        d.weekday = static_cast<int32_t>(wd);
    } else {
        int32_t month = 0;
        if (is_letter(c.peek())) {
            month = month_name(c);
            if (!month) return false;
        } else {
            int64_t b;
            int bn;
            if (!number(c, 2, b, bn)) return false;
            month = static_cast<int32_t>(b);
        }
        if (!c.take(sep)) return false;
        const bool negative_year = sep == '/' && c.take('-');
        int64_t third;
        int tn;
        if (!number(c, 6, third, tn)) return false;
        int64_t year, day;
        int yn;
        if (!negative_year && a > 99 && third <= 31) {
            year = a;
            yn = an;
            day = third;
        } else {
            year = third;
            yn = tn;
            day = a;
        }
        year = full_year(year, yn);
        if (negative_year) year = -year;
        d.year = year;
        d.month = month;
        if (day < 1 || day > 31) return false;
        d.day = static_cast<int32_t>(day);
    }
    if (c.take('/') || c.take('T')) {
        if (!time_part(c, d)) return false;
    }
    if (!c.at_end()) return false;
    if (d.year < -9999 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
    if (!d.week && d.day > date::days_in_month(d.year, d.month)) return false;
    return true;
}

// yyyy-ddd: the day of the year, exactly three digits.
bool parse_year_day(const uint8_t* start, const uint8_t* end, DateText& d) {
    Cursor c{start, end};
    int64_t y, n;
    int yn, nn;
    if (!number(c, 6, y, yn) || yn < 3 || !c.take('-') || !number(c, 3, n, nn) || nn != 3) return false;
    if (c.take('/') || c.take('T')) {
        if (!time_part(c, d)) return false;
    }
    if (!c.at_end() || y > 9999 || n < 1 || n > (date::leap_year(y) ? 366 : 365)) return false;
    d.year = y;
    d.yearday = static_cast<int32_t>(n);
    return true;
}

}  // namespace

bool time_of(const uint8_t* start, const uint8_t* end, double& out) {
    Cursor c{start, end};
    bool negative = false;
    if (c.peek() == '+' || c.peek() == '-') negative = *c.p++ == '-';
    int64_t h, m;
    int n;
    if (!number(c, 9, h, n, true) || !c.take(':')) return false;
    double s = 0;
    const uint8_t* second_field = c.p;
    if (!number(c, 9, m, n)) return false;
    if (c.peek() == '.' || c.peek() == ',') {
        // minutes:seconds.fraction
        c.p = second_field;
        if (!seconds(c, 9, s)) return false;
        m = h;
        h = 0;
    } else if (c.take(':')) {
        if (!seconds(c, 9, s)) return false;
    }
    if (!c.at_end()) return false;
    const double t = static_cast<double>(h) * 3600 + static_cast<double>(m) * 60 + s;
    out = negative ? -t : t;
    return true;
}

void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double t;
    if (!time_of(start, end, t)) error_invalid(s, TYPE_TIME, start);
    if (load) {
        Cell c{0, 0, 0, 0};
        push_value(s, *time_type::make_at(t, &c));
    }
}

void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    DateText d;
    if (!parse_date(start, end, d)) {
        d = DateText{};
        if (!parse_year_day(start, end, d)) error_invalid(s, TYPE_DATE, start);
    }
    if (!load) return;
    Cell c{0, 0, 0, 0};
    const int32_t year = static_cast<int32_t>(d.year);
    date::make_at_from_fields(&c, year, d.week || d.yearday ? 1 : d.month, d.week || d.yearday ? 1 : d.day,
                              d.time, d.zone_hours, d.zone_minutes, d.zone_negative, d.with_time);
    if (d.week) date_packed(c) = date::set_weekday(date::set_week(date_packed(c), d.week), d.weekday);
    else if (d.yearday) date_packed(c) = date::set_year_day(date_packed(c), d.yearday);
    push_value(s, c);
}

}  // namespace qel::lexer::loaders
