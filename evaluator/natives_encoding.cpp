// Natives that carry text and numbers from one representation to another:
// URL percent-encoding (dehex, enhex), letter case (uppercase, lowercase),
// local file names (to-local-file), series coercion without copying (as)
// and the building of compound scalars (as-pair, as-point2D, as-point3D,
// as-money).
//
// Each is a short adapter over the percent codec, the case tables or a
// cell layout. New strings are made on the argument stack and copied into
// the result slot, so the collector sees them while they fill; text is
// copied out of its buffer before anything is appended elsewhere.
//
// Cell layouts written here: pair! x and y as signed 32-bit integers in
// words 2 and 3; point2D! x, y as 32-bit floats in words 1-2, point3D!
// x, y, z in words 1-3. They hold no node.
#include <cstring>
#include <string>

#include "datatypes/file.hpp"
#include "datatypes/percent_codec.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

void expect_string(const char* native, const Cell* value, const char* arg) {
    if (!is_any_string(cell::type_of(value))) expect_arg(native, value, arg);
}

// A new empty string! on the argument stack with room for capacity units.
Cell* push_new_string(uint32_t capacity) {
    Cell* out = stack::push(&shared::none);
    string::make_at(out, capacity ? capacity : 1);
    return out;
}

// ---- letter case ----------------------------------------------------------------------

// The units that /part covers from the index: a count (a float is
// truncated), or a position in the same series. A negative count takes the
// units before the index. Answers the first unit and the count.
void part_range(Cell* series, const Cell* limit, const char* native, uint32_t& from, uint32_t& count) {
    const uint32_t index = string::clamp_index(series);
    const uint32_t left = string::length(series);
    int64_t n;
    const uint32_t t = cell::type_of(limit);
    if (t == TYPE_FLOAT || t == TYPE_PERCENT) {
        const double d = cell::get_double(limit);
        if (integer::outside_integer_range(d)) err::raise(err::INVALID_ARG, limit);
        n = static_cast<int32_t>(d);
    } else if (t == TYPE_INTEGER || is_any_string(t)) {
        n = series_type::part_count(series, limit);
    } else {
        expect_arg(native, limit, "limit");
    }
    if (n >= 0) {
        from = index;
        count = n > left ? left : static_cast<uint32_t>(n);
    } else {
        from = -n > index ? 0 : static_cast<uint32_t>(index + n);
        count = index - from;
    }
}

void change_case(const char* native, bool upper, const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const uint32_t t = cell::type_of(base);
    if (t == TYPE_CHAR) {
        char_code(base) = unicode::case_of(char_code(base), upper);
        stack::keep_first();
        return;
    }
    expect_string(native, base, "string");
    uint32_t from, count;
    if (refinements[0] >= 0) {
        part_range(base, base + refinements[0], native, from, count);
    } else {
        from = string::clamp_index(base);
        count = string::length(base);
    }
    if (count) unicode::change_case(series_node(base), from, count, upper);
    stack::keep_first();
}

// ---- compound scalars ------------------------------------------------------------------

// An integer coordinate: an integer! as it is, a float! truncated toward
// zero when it is finite and inside the 32-bit range.
uint32_t pair_coordinate(const Cell* v, const char* arg) {
    const uint32_t t = cell::type_of(v);
    if (t == TYPE_INTEGER) return static_cast<uint32_t>(integer_value(v));
    if (t != TYPE_FLOAT) expect_arg("as-pair", v, arg);
    const double d = cell::get_double(v);
    if (integer::outside_integer_range(d)) err::raise(err::INVALID_ARG, v);
    return static_cast<uint32_t>(static_cast<int32_t>(d));
}

uint32_t point_coordinate(const Cell* v, const char* native, const char* arg) {
    float f;
    const uint32_t t = cell::type_of(v);
    if (t == TYPE_INTEGER) f = static_cast<float>(integer_value(v));
    else if (t == TYPE_FLOAT) f = static_cast<float>(cell::get_double(v));
    else expect_arg(native, v, arg);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

bool list_family(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH); }

}  // namespace

// ---- the natives ----------------------------------------------------------------------------

void native_dehex(const int32_t*) {
    Cell* base = stack::arg_base;
    expect_string("dehex", base, "value");
    Cell* out = push_new_string(string::length(base));
    url::decode(base, series_node(out));
    stack::set_last_reset(out);
}

void native_enhex(const int32_t*) {
    Cell* base = stack::arg_base;
    expect_string("enhex", base, "value");
    Cell* out = push_new_string(string::length(base));
    url::encode(base, series_node(out), cell::type_of(base) == TYPE_STRING ? url::STRICT_TABLE : url::URL_TABLE);
    stack::set_last_reset(out);
}

void native_uppercase(const int32_t* refinements) { change_case("uppercase", true, refinements); }
void native_lowercase(const int32_t* refinements) { change_case("lowercase", false, refinements); }

// File names are POSIX names already: the text is copied as it is, and
// with /full a relative name gets the current directory in front.
void native_to_local_file(const int32_t* refinements) {
    Cell* base = stack::arg_base;
    const uint32_t t = cell::type_of(base);
    if (t != TYPE_FILE && t != TYPE_STRING) expect_arg("to-local-file", base, "path");
    Cell* out = push_new_string(string::length(base));
    file::to_local(base, series_node(out), refinements[0] >= 0);
    stack::set_last_reset(out);
}

void native_as(const int32_t*) {
    Cell* base = stack::arg_base;
    const Cell* spec = base + 1;
    const uint32_t target = cell::type_of(base) == TYPE_DATATYPE ? datatype_id(base) : cell::type_of(base);
    const uint32_t from = cell::type_of(spec);
    const bool lists = list_family(target) && list_family(from);
    const bool texts = is_any_string(target) && is_any_string(from);
    if (!lists && !texts) {
        const Cell spec_type{TYPE_DATATYPE, from, 0, 0};
        const Cell target_type{TYPE_DATATYPE, target, 0, 0};
        err::raise(err::NOT_SAME_CLASS, &spec_type, &target_type);
    }
    Cell result = *spec;
    cell::set_type(&result, target);
    stack::set_last_reset(&result);
}

void native_as_pair(const int32_t*) {
    const Cell* base = stack::arg_base;
    const Cell pair{TYPE_PAIR, 0, pair_coordinate(base, "x"), pair_coordinate(base + 1, "y")};
    stack::set_last_reset(&pair);
}

void native_as_point2D(const int32_t*) {
    const Cell* base = stack::arg_base;
    const Cell point{TYPE_POINT2D, point_coordinate(base, "as-point2D", "x"),
                     point_coordinate(base + 1, "as-point2D", "y"), 0};
    stack::set_last_reset(&point);
}

void native_as_point3D(const int32_t*) {
    const Cell* base = stack::arg_base;
    const Cell point{TYPE_POINT3D, point_coordinate(base, "as-point3D", "x"),
                     point_coordinate(base + 1, "as-point3D", "y"), point_coordinate(base + 2, "as-point3D", "z")};
    stack::set_last_reset(&point);
}

// The currency must be listed (script bad-denom with the word otherwise);
// an integer amount is exact, a float is read as money reads floats.
void native_as_money(const int32_t*) {
    const Cell* base = stack::arg_base;
    const int32_t currency = money::currency_index(word_symbol(base));
    if (currency < 0) err::raise(err::BAD_DENOM, base);
    const Cell* amount = base + 1;
    const uint32_t t = cell::type_of(amount);
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) expect_arg("as-money", amount, "amount");
    const money::Amount v = t == TYPE_INTEGER ? money::from_integer(integer_value(amount))
                                              : money::from_float(cell::get_double(amount), true);
    Cell result;
    money::store(&result, v, static_cast<uint8_t>(currency));
    stack::set_last_reset(&result);
}

}  // namespace qel::natives
