// The loader of money literals: [sign][CCC]$digits[.decimals], such as
// $12.50, -USD$1'000 and EUR$0.99. The currency code must be one of the
// system's currency list, at most 17 integer digits may follow the leading
// zeros and at most 5 decimals the point; anything else is an invalid
// money! literal. The check and the load agree, so the currency is looked
// up in both.
#include "datatypes/money.hpp"
#include "datatypes/number_text.hpp"
#include "lexer/loaders.hpp"

namespace qel::lexer::loaders {

void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const char* text = reinterpret_cast<const char*>(start);
    number_text::MoneyText m;
    Cell value{};
    if (!number_text::money_syntax(text, static_cast<size_t>(end - start), false, m) ||
        m.integer_digits > money::INTEGER_DIGITS || m.fraction_digits > money::FRACTION_DIGITS ||
        !money::make_at_from_string(&value, m.negative, m.code, m.start, m.point, m.end))
        error_invalid(s, TYPE_MONEY, start);
    if (load) push_value(s, value);
}

}  // namespace qel::lexer::loaders
