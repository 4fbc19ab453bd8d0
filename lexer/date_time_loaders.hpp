// Loaders of the time! and date! literals: 1:30:00, -0:00:05.5, 1:30.5,
// 15-Jan-2024, 2024-01-15/10:30:00+05:30, 2024-W03-2, 2024-015 and the
// other forms the scanner gives these token classes.
#pragma once
#include <cstdint>

#include "lexer/scanner.hpp"

namespace qel::lexer::loaders {

void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// The seconds of a time token; false when the text is no time literal.
bool time_of(const uint8_t* start, const uint8_t* end, double& out);

}  // namespace qel::lexer::loaders
