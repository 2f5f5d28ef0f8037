#pragma once
// The one way the library reads text as a double and writes numbers as text.
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::numbers {

// Reads `text` as a double: ASCII white space trimmed, then an optional sign
// and a decimal numeral (single underscores allowed between digits, optional
// exponent) or inf/infinity/nan in any case. Correctly rounded; overflow gives
// an infinity and underflow zero. Anything else gives nullopt.
std::optional<double> read_double(std::string_view text);

// Reads `text` as a base-10 whole number: ASCII white space trimmed, optional
// sign, digits with single underscores between them. Gives canonical digits.
std::optional<json::Integer> read_integer(std::string_view text);

// Orders two canonical integers numerically: <0, 0 or >0.
int compare_integers(const json::Integer& a, const json::Integer& b);

// Shortest text that reads back to the same double: positional for decimal
// exponents -4..15 ("0.18", "100.0"), exponent form otherwise ("1e-05",
// "1e+16"); "nan", "inf", "-inf".
std::string write_double(double value);

// Fixed-point text with exactly `decimals` digits after the point, rounded
// half-to-even on the double's exact value; "nan", "inf", "-inf".
std::string format_fixed(double value, int decimals);

// A double from a JSON number's raw text (as the parser hands it over).
double double_from_json_number(std::string_view raw);

}  // namespace corvane_burn_watch::numbers
