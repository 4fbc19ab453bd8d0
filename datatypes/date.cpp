// date!: the calendar, make/to, text, comparison, arithmetic, path access
// and pick. Values are unpacked into a day number, a UTC time and a zone,
// worked on, and packed again; every pack goes through one carry so the
// local time stays within its day.
#include "datatypes/date.hpp"

#include <cmath>

#include "datatypes/fills.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/object.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "datatypes/time.hpp"
#include "datatypes/word.hpp"
#include "runtime/actions.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"

namespace qel::date {

namespace {

constexpr double DAY = 86400;

inline int64_t fdiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
inline int64_t fmod_int(int64_t a, int64_t b) { return a - fdiv(a, b) * b; }

[[noreturn]] void bad_to(const Cell* spec) {
    const Cell t = datatype_cell(TYPE_DATE);
    err::raise(err::BAD_TO_ARG, &t, spec);
}

// A date taken apart.
struct Parts {
    int64_t days = 0;
    double time = 0;
    uint32_t zone = 0;
    bool with_time = false;
};

Parts unpack(const Cell* c) {
    const uint32_t p = date_packed(c);
    Parts d;
    d.days = days_of(year_of(p), month_of(p), day_of(p));
    d.time = cell::get_double(c);
    d.zone = p & ZONE_MASK;
    d.with_time = has_time(p);
    return d;
}

// Whole days out of the time: afterwards time + offset lies in [0, 86400).
void carry(Parts& d) {
    const double off = zone_seconds(d.zone);
    if (!std::isfinite(d.time)) err::raise(err::OVERFLOW);
    const double n = std::floor((d.time + off) / DAY);
    if (n != 0) {
        if (std::fabs(n) > 1e7) err::raise(err::OVERFLOW);
        d.days += static_cast<int64_t>(n);
        d.time -= n * DAY;
    }
    // Rounding of the subtraction may land on either edge.
    if (d.time + off >= DAY) {
        d.days++;
        d.time -= DAY;
    } else if (d.time + off < 0) {
        d.days--;
        d.time += DAY;
    }
}

uint32_t packed_of(const Parts& d) {
    int32_t y, m, dd;
    from_days(d.days, y, m, dd);
    if (y < YEAR_MIN || y > YEAR_MAX) err::raise(err::OVERFLOW);
    uint32_t p = pack(y, m, dd) | d.zone;
    if (d.with_time) p |= TIME_FLAG;
    return p;
}

// Packs d into c (a date! cell, flags kept) after carrying whole days.
Cell* store(Parts d, Cell* c) {
    if (!d.with_time) {
        d.time = 0;
        d.zone = 0;
    }
    carry(d);
    const uint32_t p = packed_of(d);
    cell::set_type(c, TYPE_DATE);
    date_packed(c) = p;
    cell::put_double(c, d.time);
    return c;
}

int64_t jan1(int64_t year) { return days_of(year, 1, 1); }

// First day of ISO week 1 of the year: the Monday of the week that holds
// 4 January.
int64_t iso_start(int64_t year) {
    const int64_t j = jan1(year);
    const int64_t b = fmod_int(j + 2, 7);  // Monday 0
    return b >= 4 ? j - b + 7 : j - b;
}

// Reduces a zone value (integer! hours or time!) to its offset in seconds,
// within 16 hours either way.
int32_t zone_value(const Cell* v) {
    const uint32_t t = cell::type_of(v);
    if (t == TYPE_INTEGER) return (integer_value(v) % 16) * 3600;
    if (t != TYPE_TIME) err::raise(err::INVALID_ARG, v);
    const double z = std::fmod(cell::get_double(v), 57600.0);
    if (!std::isfinite(z)) err::raise(err::INVALID_ARG, v);
    return static_cast<int32_t>(std::trunc(z / 60)) * 60;
}

}  // namespace

// ---- zone and calendar --------------------------------------------------------

int32_t zone_seconds(uint32_t zone) {
    const int32_t s = static_cast<int32_t>((zone >> 2) & 15) * 3600 + static_cast<int32_t>(zone & 3) * 900;
    return zone & ZONE_WEST ? -s : s;
}

uint32_t zone_bits(int32_t seconds) {
    const bool west = seconds < 0;
    int32_t a = west ? -seconds : seconds;
    if (a > ZONE_LIMIT) a = ZONE_LIMIT;
    const uint32_t h = static_cast<uint32_t>(a / 3600);
    const uint32_t q = static_cast<uint32_t>((a % 3600) / 900);
    if (h == 0 && q == 0) return 0;
    return (west ? ZONE_WEST : 0) | h << 2 | q;
}

int64_t days_of(int64_t year, int32_t month, int32_t day) {
    const int64_t mm = fmod_int(month + 9, 12);
    const int64_t y = year - mm / 10;
    return 365 * y + fdiv(y, 4) - fdiv(y, 100) + fdiv(y, 400) + (mm * 306 + 5) / 10 + (day - 1);
}

void from_days(int64_t g, int32_t& year, int32_t& month, int32_t& day) {
    int64_t y = static_cast<int64_t>(std::floor((10000.0 * static_cast<double>(g) + 14780) / 3652425));
    auto rest = [&] { return g - (365 * y + fdiv(y, 4) - fdiv(y, 100) + fdiv(y, 400)); };
    int64_t r = rest();
    if (r < 0) {
        y--;
        r = rest();
    } else if (r > 365 && r > days_of(y + 1, 3, 1) - days_of(y, 3, 1) - 1) {
        // The floating estimate can come out one year low far from 0.
        y++;
        r = rest();
    }
    const int64_t mi = (100 * r + 52) / 3060;
    month = static_cast<int32_t>((mi + 2) % 12 + 1);
    year = static_cast<int32_t>(y + (mi + 2) / 12);
    day = static_cast<int32_t>(r - (mi * 306 + 5) / 10 + 1);
}

bool leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t days_in_month(int64_t year, int32_t month) {
    static constexpr int32_t len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && leap_year(year)) return 29;
    return len[(month - 1) % 12];
}

int32_t weekday_of(int64_t days) { return static_cast<int32_t>(fmod_int(days + 2, 7)) + 1; }

int32_t year_day(uint32_t p) {
    return static_cast<int32_t>(days_of(year_of(p), month_of(p), day_of(p)) - jan1(year_of(p)) + 1);
}

int32_t week_of(uint32_t p) {
    const int64_t w = fmod_int(jan1(year_of(p)) + 3, 7);  // weekday of 1 January, Sunday 0
    const int64_t d = year_day(p);
    return 7 - w < d ? static_cast<int32_t>((d + w - 1) / 7 + 1) : 1;
}

int32_t isoweek_of(uint32_t p) {
    const int64_t y = year_of(p);
    const int64_t days = days_of(y, month_of(p), day_of(p));
    const int64_t start = iso_start(y);
    if (days < start) {
        // The last week of the previous year.
        const int32_t wd = weekday_of(jan1(y));  // 5 Friday, 6 Saturday, 7 Sunday
        if (wd == 5) return 53;
        if (wd == 6) return leap_year(y - 1) ? 53 : 52;
        return 52;
    }
    if (days >= iso_start(y + 1)) return 1;
    return static_cast<int32_t>((days - start) / 7 + 1);
}

// ---- cells ------------------------------------------------------------------------

Cell* make_at(Cell* c, uint32_t packed, double time) {
    cell::set_type(c, TYPE_DATE);
    date_packed(c) = packed;
    cell::put_double(c, time);
    return c;
}

Cell* make_at_from_fields(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                          int32_t zone_minutes, bool zone_negative, bool with_time) {
    Parts d;
    d.days = days_of(year, month, day);
    d.with_time = with_time;
    if (with_time) {
        const bool west = zone_hours < 0 || (zone_hours == 0 && zone_negative);
        const int32_t a = std::abs(zone_hours) * 3600 + std::abs(zone_minutes) * 60;
        d.zone = zone_bits(west ? -a : a);
        d.time = time - zone_seconds(d.zone);
    }
    c->header = 0;
    return store(d, c);
}

int32_t to_unix_seconds(const Cell* date) {
    const Parts d = unpack(date);
    const double s = static_cast<double>(d.days - days_of(1970, 1, 1)) * DAY + std::floor(d.time + 0.5);
    if (integer::outside_integer_range(s)) err::raise(err::OVERFLOW);
    return static_cast<int32_t>(s);
}

namespace {

uint32_t repack_days(uint32_t packed, int64_t days) {
    int32_t y, m, d;
    from_days(days, y, m, d);
    if (y < YEAR_MIN || y > YEAR_MAX) err::raise(err::OVERFLOW);
    return pack(y, m, d) | (packed & (TIME_FLAG | ZONE_MASK));
}

int64_t days_of_packed(uint32_t p) { return days_of(year_of(p), month_of(p), day_of(p)); }

}  // namespace

uint32_t set_week(uint32_t p, int32_t n) {
    return repack_days(p, iso_start(year_of(p)) + 7 * static_cast<int64_t>(n) - 7);
}

uint32_t set_weekday(uint32_t p, int32_t n) {
    const int64_t days = days_of_packed(p);
    return repack_days(p, days - fmod_int(days + 2, 7) + n - 1);
}

uint32_t set_year_day(uint32_t p, int32_t n) { return repack_days(p, jan1(year_of(p)) + n - 1); }

Cell* difference(const Cell* a, const Cell* b, Cell* out) {
    const Parts x = unpack(a), y = unpack(b);
    const double t = static_cast<double>(x.days - y.days) * DAY + (x.time - y.time);
    *out = Cell{TYPE_TIME, 0, 0, 0};
    cell::put_double(out, t);
    return out;
}

void normalize(Cell* date, double time, bool local) {
    Parts d = unpack(date);
    d.time = local ? time - zone_seconds(d.zone) : time;
    store(d, date);
}

Cell* field(const Cell* date, int32_t f, Cell* out) {
    const uint32_t p = date_packed(date);
    const Parts d = unpack(date);
    const double local = d.time + zone_seconds(d.zone);
    auto integer_out = [&](int64_t v) {
        *out = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(static_cast<int32_t>(v)), 0};
        return out;
    };
    switch (f) {
        case F_DATE: return make_at(&(*out = Cell{0, 0, 0, 0}), p & ~(TIME_FLAG | ZONE_MASK), 0);
        case F_YEAR: return integer_out(year_of(p));
        case F_MONTH: return integer_out(month_of(p));
        case F_DAY: return integer_out(day_of(p));
        case F_ZONE:
        case F_TIMEZONE:
            if (!d.with_time) return &(*out = shared::none);
            return time_type::make_at(zone_seconds(d.zone), &(*out = Cell{0, 0, 0, 0}));
        case F_TIME:
            if (!d.with_time) return &(*out = shared::none);
            return time_type::make_at(local, &(*out = Cell{0, 0, 0, 0}));
        case F_HOUR: return integer_out(static_cast<int64_t>(time_type::hour_of(local)));
        case F_MINUTE: return integer_out(time_type::minute_of(local));
        case F_SECOND: *out = Cell{0, 0, 0, 0}; return float_type::make_at(out, time_type::second_of(local));
        case F_WEEKDAY: return integer_out(weekday_of(d.days));
        case F_YEARDAY: return integer_out(year_day(p));
        case F_WEEK: return integer_out(week_of(p));
        case F_ISOWEEK: return integer_out(isoweek_of(p));
        default: return &(*out = shared::none);
    }
}

// ---- slots --------------------------------------------------------------------------

namespace {

// ---- make and to from a block ----

struct Spec {
    int32_t first = 0, month = 0, third = 0;
    int32_t hour = 0, minute = 0, int_seconds = 0;
    double seconds = 0;  // float seconds, or the time! value
    bool time_value = false;
    int32_t zone_h = 0, zone_m = 0;
    double zone_time = 0;
    bool zone_as_time = false, zone_given = false;
    int32_t state = 0;
    int32_t count = 0;
};

// The transitions: per state, the next state on an integer, a time! and a
// float! (-1: not allowed there).
constexpr int8_t NEXT[14][3] = {
    {1, -1, -1},  {2, -1, -1}, {3, -1, -1},  {8, 4, -1},   {6, 5, -1},  {-1, -1, -1}, {7, -1, -1},
    {-1, -1, -1}, {9, -1, -1}, {10, -1, 10}, {12, 11, -1}, {-1, -1, -1}, {13, -1, -1}, {-1, -1, -1},
};

bool read_spec(const Cell* block, Spec& s) {
    const int32_t n = series::length_of(block);
    for (int32_t i = 0; i < n; i++) {
        const Cell c = series::cells_of(series_node(block))[series_index(block) + static_cast<uint32_t>(i)];
        const uint32_t t = cell::type_of(&c);
        const int kind = t == TYPE_INTEGER ? 0 : t == TYPE_TIME ? 1 : t == TYPE_FLOAT ? 2 : -1;
        if (kind < 0) return false;
        const int next = NEXT[s.state][kind];
        if (next < 0) return false;
        const int32_t iv = kind == 0 ? integer_value(&c) : 0;
        const double dv = kind == 0 ? 0 : cell::get_double(&c);
        switch (next) {
            case 1: s.first = iv; break;
            case 2: s.month = iv; break;
            case 3: s.third = iv; break;
            case 4: s.seconds = dv; s.time_value = true; break;
            case 6: case 12: s.zone_h = iv; s.zone_given = true; break;
            case 5: case 11: s.zone_time = dv; s.zone_as_time = s.zone_given = true; break;
            case 7: case 13: s.zone_m = iv; break;
            case 8: s.hour = iv; break;
            case 9: s.minute = iv; break;
            case 10:
                if (kind == 0) s.int_seconds = iv;
                else s.seconds = dv;
                break;
            default: break;
        }
        s.state = next;
        s.count++;
    }
    return s.state >= 3;
}

Cell* from_block(Cell* proto, const Cell* spec, bool validate) {
    Spec s;
    if (!read_spec(spec, s)) bad_to(spec);
    if (s.first >= 100 && s.first > s.third) std::swap(s.first, s.third);
    const int32_t day = s.first, month = s.month, year = s.third;

    // The zone, as an offset in seconds.
    double zone = 0;
    if (s.zone_as_time) {
        zone = s.zone_time;
        if (validate && !(std::fabs(zone) <= ZONE_LIMIT)) bad_to(spec);
    } else if (s.zone_given) {
        if (validate && (s.zone_m < 0 || s.zone_m > 59 || s.zone_h < -15 || s.zone_h > 15)) bad_to(spec);
        const int64_t m = std::abs(static_cast<int64_t>(s.zone_m));
        zone = static_cast<double>(s.zone_h) * 3600 + static_cast<double>(s.zone_h < 0 ? -m : m) * 60;
    }
    if (!std::isfinite(zone)) bad_to(spec);
    zone = std::fmod(zone, 57600.0);
    if (validate && std::fabs(zone) > ZONE_LIMIT) bad_to(spec);

    double time = 0;
    if (s.state >= 8) {
        const double sec = s.seconds != 0 ? s.seconds : s.int_seconds;
        if (validate && (s.hour < 0 || s.hour > 23 || s.minute < 0 || s.minute > 59 || !(sec >= 0 && sec < 60)))
            bad_to(spec);
        time = s.hour * 3600.0 + s.minute * 60.0 + sec;
    } else if (s.time_value) {
        time = s.seconds;
        if (validate && !(time >= 0 && time < DAY)) bad_to(spec);
    }
    if (!std::isfinite(time)) bad_to(spec);

    // Months outside 1-12 carry into the year, days outside the month into
    // the neighbouring months.
    const int64_t y = year + fdiv(static_cast<int64_t>(month) - 1, 12);
    const int32_t m = static_cast<int32_t>(fmod_int(static_cast<int64_t>(month) - 1, 12)) + 1;
    Parts d;
    d.days = days_of(y, m, 1) + static_cast<int64_t>(day) - 1;
    d.with_time = s.count > 3;
    if (d.with_time) {
        d.zone = zone_bits(static_cast<int32_t>(std::trunc(zone)));
        d.time = time - zone_seconds(d.zone);
    }
    if (validate) {
        int32_t ry, rm, rd;
        from_days(d.days, ry, rm, rd);
        if (ry != year || rm != month || rd != day) bad_to(spec);
    }
    int32_t ry, rm, rd;
    from_days(d.days + static_cast<int64_t>(std::floor(d.time / DAY)), ry, rm, rd);
    if (ry < YEAR_MIN + 1 || ry > YEAR_MAX - 1) bad_to(spec);
    *proto = Cell{TYPE_DATE, 0, 0, 0};
    return store(d, proto);
}

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    const Cell given = *spec;
    const uint32_t t = cell::type_of(&given);
    if (t == TYPE_DATE) return cell::copy(&given, proto);
    if (!is_block_paren_or_hash(t)) bad_to(&given);
    return from_block(proto, &given, true);
}

Cell* to(Cell* proto, Cell* spec, uint32_t) {
    const Cell given = *spec;
    const uint32_t t = cell::type_of(&given);
    if (t == TYPE_DATE) return cell::copy(&given, proto);
    if (t == TYPE_INTEGER) {
        const int64_t n = integer_value(&given);
        Parts d;
        d.days = days_of(1970, 1, 1) + fdiv(n, 86400);
        d.time = static_cast<double>(fmod_int(n, 86400));
        d.with_time = true;
        *proto = Cell{TYPE_DATE, 0, 0, 0};
        return store(d, proto);
    }
    if (!is_block_paren_or_hash(t)) bad_to(&given);
    return from_block(proto, &given, false);
}

// ---- text ----

const char* const MONTHS[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The months block of system/locale, or nullptr while there is none.
const Cell* locale_months() {
    const Cell* months = system_object::field({"locale", "months"});
    return months && cell::type_of(months) == TYPE_BLOCK ? months : nullptr;
}

// The month's name cut to 3 characters, from system/locale/months when
// the system object has one.
void write_month(node_t out, int32_t month, size_t& written) {
    const Cell* months = locale_months();
    if (!months) {
        text::append_latin1(out, MONTHS[month - 1], 3);
        written += 3;
        return;
    }
    const Cell block = *months;
    if (series::length_of(&block) < month) err::raise(err::INVALID_MONTHS);
    const Cell name = series::cells_of(series_node(block))[series_index(block) + static_cast<uint32_t>(month) - 1];
    if (cell::type_of(&name) != TYPE_STRING) err::raise(err::INVALID_MONTHS);
    const int32_t len = series::length_of(&name);
    const uint32_t n = len < 3 ? static_cast<uint32_t>(len < 0 ? 0 : len) : 3;
    text::append_text(out, series_node(name), series_index(name), n);
    written += n;
}

// Appends "0" digits so that the text of v stands in at least width.
size_t append_padded(node_t out, int32_t v, uint32_t width) {
    char digits[12];
    const uint32_t n = integer::to_decimal(v, digits);
    size_t written = 0;
    for (; written + n < width; written++) text::append_latin1(out, "0", 1);
    text::append_latin1(out, digits, n);
    return written + n;
}

int32_t write(const Cell* value, node_t out, int32_t limit) {
    const uint32_t p = date_packed(value);
    const int32_t y = year_of(p);
    const char sep = y < 0 ? '/' : '-';
    size_t written = append_padded(out, day_of(p), 1);
    text::append_latin1(out, &sep, 1);
    written++;
    const int32_t m = month_of(p);
    write_month(out, m >= 1 && m <= 12 ? m : 1, written);
    text::append_latin1(out, &sep, 1);
    written++;
    if (y < 0) {
        text::append_latin1(out, "-", 1);
        written++;
    }
    // Years up to 99 keep four digits, so that they do not read back as
    // two-digit years of the current centuries.
    const int32_t year = y < 0 ? -y : y;
    written += append_padded(out, year, year <= 99 ? 4 : 1);
    if (has_time(p)) {
        const uint32_t zone = p & ZONE_MASK;
        text::append_latin1(out, "/", 1);
        written++;
        written += time_type::append_text(out, cell::get_double(value) + zone_seconds(zone));
        if (zone) {
            const int32_t z = zone_seconds(zone);
            text::append_latin1(out, z < 0 ? "-" : "+", 1);
            const int32_t a = z < 0 ? -z : z;
            written += 1 + append_padded(out, a / 3600, 2);
            text::append_latin1(out, ":", 1);
            written += 1 + append_padded(out, a % 3600 / 60, 2);
        }
    }
    return limit - static_cast<int32_t>(written);
}


// ---- compare ----

// Dates that carry a time compare by the instant they name, whatever their
// zones; a date without time stands for its midnight UTC.
int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_DATE) return -2;
    const Parts x = unpack(a), y = unpack(b);
    if (op == CompareOp::Same) {
        return same_payload(a, b) ? 0 : 1;
    }
    // b's time seen from a's day.
    const double tb = y.time + static_cast<double>(y.days - x.days) * DAY;
    if (is_content_equality(op)) return float_type::almost_equal(x.time, tb) ? 0 : 1;
    return x.time < tb ? -1 : x.time > tb ? 1 : 0;
}

// ---- arithmetic ----

void date_math(MathOp op) {
    Cell* a = stack::arg_base;
    const Cell* b = a + 1;
    const uint32_t bt = cell::type_of(b);
    Parts d = unpack(a);
    const double sign = op == MathOp::Subtract ? -1 : 1;
    if (op != MathOp::Add && op != MathOp::Subtract) {
        const Cell t = datatype_cell(TYPE_DATE);
        err::raise(err::CANNOT_USE, &t);
    }
    switch (bt) {
        case TYPE_INTEGER: d.days += static_cast<int64_t>(sign) * integer_value(b); break;
        case TYPE_TIME:
            d.time += sign * cell::get_double(b);
            d.with_time = true;
            break;
        case TYPE_DATE: {
            if (op == MathOp::Add) {
                const Cell t = datatype_cell(TYPE_DATE);
                err::raise(err::NOT_RELATED, &t, words::w_add);
            }
            const Parts e = unpack(b);
            Parts r;
            r.days = d.days - e.days;
            r.time = d.time - e.time;
            r.zone = d.zone;
            carry(r);
            if (r.days > INT32_MAX || r.days < INT32_MIN) err::raise(err::OVERFLOW);
            integer::make_at(a, static_cast<int32_t>(r.days));
            return;
        }
        default: {
            const Cell t = datatype_cell(bt);
            err::raise(err::INVALID_TYPE, &t);
        }
    }
    store(d, a);
}

void add_slot() { date_math(MathOp::Add); }
void subtract_slot() { date_math(MathOp::Subtract); }

// ---- path access and pick ----

const int32_t* const FIELD_SYMBOLS[] = {
    &words::sym_date, &words::sym_year, &words::sym_month, &words::sym_day, &words::sym_zone,
    &words::sym_time, &words::sym_hour, &words::sym_minute, &words::sym_second, &words::sym_weekday,
    &words::sym_yearday, &words::sym_timezone, &words::sym_week, &words::sym_isoweek,
};

int32_t field_of(const Cell* element) {
    if (cell::type_of(element) == TYPE_INTEGER) {
        const int32_t i = integer_value(element);
        return i >= 1 && i <= F_ISOWEEK ? i : 0;
    }
    if (!is_all_word(cell::type_of(element))) return 0;
    if (symbol::canonical(word_symbol(element)) == symbol::canonical(words::sym_julian))
        return F_YEARDAY;
    return time_type::field_of_word(element, FIELD_SYMBOLS, F_ISOWEEK);
}

int32_t need_integer(const Cell* v) {
    if (cell::type_of(v) != TYPE_INTEGER) err::raise(err::INVALID_ARG, v);
    return integer_value(v);
}

// Sets field f of the date in c to v.
void set_field(Cell* c, int32_t f, const Cell* v) {
    Parts d = unpack(c);
    const uint32_t p = date_packed(c);
    const int64_t y = year_of(p);
    const int32_t m = month_of(p), day = day_of(p);
    switch (f) {
        case F_DATE: {
            if (cell::type_of(v) != TYPE_DATE) err::raise(err::INVALID_ARG, v);
            const Parts e = unpack(v);
            d.days = e.days;
            d.with_time = e.with_time;
            break;
        }
        case F_YEAR: d.days = days_of(need_integer(v), m, 1) + day - 1; break;
        case F_MONTH: {
            const int64_t n = need_integer(v);
            d.days = days_of(y + fdiv(n - 1, 12), static_cast<int32_t>(fmod_int(n - 1, 12)) + 1, 1) + day - 1;
            break;
        }
        case F_DAY: d.days = days_of(y, m, 1) + static_cast<int64_t>(need_integer(v)) - 1; break;
        case F_ZONE:
        case F_TIMEZONE: {
            const double old = zone_seconds(d.zone);
            d.zone = zone_bits(zone_value(v));
            // zone keeps the clock reading, timezone the instant; a date
            // without time reads 0:00 local or UTC respectively.
            if (!d.with_time) d.time = f == F_ZONE ? -zone_seconds(d.zone) : 0;
            else if (f == F_ZONE) d.time += old - zone_seconds(d.zone);
            d.with_time = true;
            break;
        }
        case F_TIME: {
            const uint32_t t = cell::type_of(v);
            if (t == TYPE_NONE) {
                d.with_time = false;
            } else if (t == TYPE_TIME) {
                d.time = cell::get_double(v) - zone_seconds(d.zone);
                d.with_time = true;
            } else {
                err::raise(err::INVALID_ARG, v);
            }
            break;
        }
        case F_HOUR:
        case F_MINUTE:
        case F_SECOND: {
            const uint32_t t = cell::type_of(v);
            double x;
            if (t == TYPE_INTEGER) x = integer_value(v);
            else if (t == TYPE_FLOAT && f == F_SECOND) x = cell::get_double(v);
            else err::raise(err::INVALID_ARG, v);
            // The fields are those of the local clock.
            const double off = zone_seconds(d.zone);
            const double local = d.time + off;
            d.time = time_type::set_field(local, f - F_HOUR + 1, x) - off;
            d.with_time = true;
            break;
        }
        case F_WEEKDAY: d.days = d.days - fmod_int(d.days + 2, 7) + need_integer(v) - 1; break;
        case F_YEARDAY: d.days = jan1(y) + need_integer(v) - 1; break;
        case F_WEEK: {
            const int64_t n = need_integer(v);
            const int64_t j = jan1(y);
            d.days = n > 1 ? j + 7 * n - fmod_int(j + 3, 7) - 7 : j;
            break;
        }
        case F_ISOWEEK: d.days = iso_start(y) + 7 * static_cast<int64_t>(need_integer(v)) - 7; break;
        default: break;
    }
    Cell r = *c;
    store(d, &r);
    *c = r;
}

Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    static Cell answer;
    const int32_t f = field_of(step.element);
    if (!f) {
        if (step.path) err::raise(err::INVALID_PATH, step.path, step.element);
        err::raise(err::INVALID_PATH, step.element);
    }
    if (!step.new_value) return field(value, f, &answer);
    set_field(value, f, step.new_value);
    time_type::store_back(value, step.path, step.parent, step.previous, step.index);
    answer = *step.new_value;
    return &answer;
}

Cell* pick(Cell* value, int32_t index, Cell* index_cell) {
    static Cell answer;
    int32_t f = 0;
    if (index_cell && is_all_word(cell::type_of(index_cell))) f = field_of(index_cell);
    else if (index >= 1 && index <= F_ISOWEEK) f = index;
    if (!f) {
        const Cell i = index_cell ? *index_cell : Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(index), 0};
        err::raise(err::OUT_OF_RANGE, &i);
    }
    return field(value, f, &answer);
}

// ---- random ----

Cell* random_slot(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        const double t = std::trunc(cell::get_double(value));
        const int32_t ti = integer::outside_integer_range(t) ? 0 : static_cast<int32_t>(t);
        random::seed(static_cast<int32_t>(date_packed(value) + static_cast<uint32_t>(ti)));
        return &shared::unset;
    }
    Parts d = unpack(value);
    // A day from the start of the calendar up to the date.
    const int64_t limit = d.days;
    if (limit > 0 && limit <= INT32_MAX) d.days = random::integer(secure, static_cast<int32_t>(limit)) - 1;
    else if (limit < 0 && limit >= -INT32_MAX) d.days = -(random::integer(secure, static_cast<int32_t>(-limit)) - 1);
    if (d.with_time) {
        const uint32_t bits = static_cast<uint32_t>(random::integer(secure, 128) - 1);
        d.zone = zone_bits(zone_seconds(bits));
        const double r = static_cast<double>(random::integer(secure, 3601) - 1) / 3600;
        d.time = std::floor(r * 3600) * 24 - zone_seconds(d.zone);
    }
    return store(d, value);
}

}  // namespace

void fill(datatype::Record& r) {
    for (ActionFn& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::RANDOM>(r, &random_slot);
    datatype::set_slot<datatype::TO>(r, &to);
    fill_same_text<&write>(r);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    datatype::set_slot<datatype::ADD>(r, &add_slot);
    datatype::set_slot<datatype::SUBTRACT>(r, &subtract_slot);
    datatype::set_slot<datatype::PICK>(r, &pick);
    integer::neighbours.date_seconds = &to_unix_seconds;
}

}  // namespace qel::date
