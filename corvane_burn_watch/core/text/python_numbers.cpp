#include "corvane_burn_watch/core/text/python_numbers.hpp"

#include <locale.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace corvane_burn_watch::numbers {
namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == y;
  });
}

// Copies a run of digits that may hold single underscores between digits into
// `out`, without the underscores. Returns false when an underscore is out of
// place. `pos` ends on the first character after the run.
bool take_digit_run(std::string_view s, std::size_t& pos, std::string& out, bool& any_digit) {
  bool last_was_digit = false;
  while (pos < s.size()) {
    char c = s[pos];
    if (is_digit(c)) {
      out.push_back(c);
      last_was_digit = any_digit = true;
    } else if (c == '_') {
      if (!last_was_digit || pos + 1 >= s.size() || !is_digit(s[pos + 1])) return false;
      last_was_digit = false;
    } else {
      break;
    }
    ++pos;
  }
  return true;
}

// Validates a decimal numeral (sign already removed) and returns it without
// underscores, in a form std::from_chars accepts; nullopt when it does not read.
std::optional<std::string> normalise_numeral(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  bool any_digit = false;
  if (!take_digit_run(s, pos, out, any_digit)) return std::nullopt;
  if (pos < s.size() && s[pos] == '.') {
    out.push_back('.');
    ++pos;
    if (pos < s.size() && s[pos] == '_') return std::nullopt;
    if (!take_digit_run(s, pos, out, any_digit)) return std::nullopt;
  }
  if (!any_digit) return std::nullopt;
  if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
    out.push_back('e');
    ++pos;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) out.push_back(s[pos++]);
    bool exponent_digit = false;
    if (pos < s.size() && s[pos] == '_') return std::nullopt;
    if (!take_digit_run(s, pos, out, exponent_digit) || !exponent_digit) return std::nullopt;
  }
  if (pos != s.size()) return std::nullopt;
  return out;
}

// Correctly rounded conversion of a validated numeral; out-of-range values
// become an infinity or zero, as a strict decimal reading does.
double convert_numeral(const std::string& numeral) {
  double value = 0.0;
  const char* first = numeral.data();
  const char* last = first + numeral.size();
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value unset on overflow, underflow and (in some
    // libraries) subnormal results; the C library's reading gives the correctly
    // rounded infinity, zero or subnormal value.
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(numeral.c_str(), nullptr, c_locale);
  }
  return value;
}

// The common numeral, digits with at most one point and nothing else, read
// without normalising it first. nullopt sends it the general way.
std::optional<double> read_plain_numeral(std::string_view s) {
  bool point = false, digit = false;
  for (char c : s) {
    if (is_digit(c))
      digit = true;
    else if (c == '.' && !point)
      point = true;
    else
      return std::nullopt;
  }
  if (!digit) return std::nullopt;
  double value = 0.0;
  auto [ptr, ec] =
      std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> read_double(std::string_view text) {
  std::string_view s = trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (std::optional<double> plain = read_plain_numeral(s)) return negative ? -*plain : *plain;
  double magnitude;
  if (equals_ignoring_case(s, "inf") || equals_ignoring_case(s, "infinity")) {
    magnitude = std::numeric_limits<double>::infinity();
  } else if (equals_ignoring_case(s, "nan")) {
    magnitude = std::numeric_limits<double>::quiet_NaN();
  } else {
    auto numeral = normalise_numeral(s);
    if (!numeral) return std::nullopt;
    magnitude = convert_numeral(*numeral);
  }
  return negative ? -magnitude : magnitude;
}

std::optional<json::Integer> read_integer(std::string_view text) {
  // A subnet id is almost always already canonical: digits, no leading zero.
  if (!text.empty() && text.front() >= '1' && text.front() <= '9' &&
      std::all_of(text.begin(), text.end(), is_digit))
    return json::Integer{std::string(text)};
  std::string_view s = trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::string digits;
  std::size_t pos = 0;
  bool any_digit = false;
  if (!take_digit_run(s, pos, digits, any_digit) || !any_digit || pos != s.size())
    return std::nullopt;
  auto first_nonzero = digits.find_first_not_of('0');
  if (first_nonzero == std::string::npos) return json::Integer{"0"};
  digits.erase(0, first_nonzero);
  if (negative) digits.insert(digits.begin(), '-');
  return json::Integer{std::move(digits)};
}

int compare_integers(const json::Integer& a, const json::Integer& b) {
  const bool a_negative = !a.digits.empty() && a.digits[0] == '-';
  const bool b_negative = !b.digits.empty() && b.digits[0] == '-';
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  std::string_view x = a.digits, y = b.digits;
  if (a_negative) {
    x.remove_prefix(1);
    y.remove_prefix(1);
  }
  int magnitude = x.size() != y.size() ? (x.size() < y.size() ? -1 : 1) : x.compare(y);
  magnitude = magnitude < 0 ? -1 : (magnitude > 0 ? 1 : 0);
  return a_negative ? -magnitude : magnitude;
}

std::string write_double(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

  // Shortest round-trip digits, in scientific form: "-d.ddde±XX".
  char sci[40];
  const char* end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
  const char* p = sci;
  // At most 17 significant digits; the longest text is a sign, "0.000", 17
  // digits, or a point and an exponent of three digits.
  char buffer[48];
  char* out = buffer;
  if (*p == '-') *out++ = *p++;
  char digits[24];
  int n = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[n++] = *p;
  int exponent = 0;
  const bool negative_exponent = *++p == '-';
  for (++p; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  if (negative_exponent) exponent = -exponent;

  if (exponent >= -4 && exponent <= 15) {
    if (exponent < 0) {
      *out++ = '0';
      *out++ = '.';
      for (int i = 0; i < -exponent - 1; ++i) *out++ = '0';
      out = std::copy(digits, digits + n, out);
    } else if (exponent + 1 >= n) {
      out = std::copy(digits, digits + n, out);
      for (int i = 0; i < exponent + 1 - n; ++i) *out++ = '0';
      *out++ = '.';
      *out++ = '0';
    } else {
      out = std::copy(digits, digits + exponent + 1, out);
      *out++ = '.';
      out = std::copy(digits + exponent + 1, digits + n, out);
    }
    return std::string(buffer, out);
  }
  *out++ = digits[0];
  if (n > 1) {
    *out++ = '.';
    out = std::copy(digits + 1, digits + n, out);
  }
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const int magnitude = std::abs(exponent);
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  *out++ = static_cast<char>('0' + magnitude / 10 % 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return std::string(buffer, out);
}

std::string format_fixed(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // 309 integer digits at most, the point and the decimals.
  std::string buffer(320 + static_cast<std::size_t>(std::max(decimals, 0)), '\0');
  auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                 std::chars_format::fixed, decimals);
  buffer.resize(static_cast<std::size_t>(end - buffer.data()));
  return buffer;
}

double double_from_json_number(std::string_view raw) {
  if (raw.find('N') != std::string_view::npos) return std::numeric_limits<double>::quiet_NaN();
  if (raw.find('I') != std::string_view::npos)
    return raw.front() == '-' ? -std::numeric_limits<double>::infinity()
                              : std::numeric_limits<double>::infinity();
  bool negative = raw.front() == '-';
  if (negative) raw.remove_prefix(1);
  // A JSON numeral is already what from_chars reads; only a value out of its
  // range takes the general way.
  double magnitude = 0.0;
  const auto [end, ec] =
      std::from_chars(raw.data(), raw.data() + raw.size(), magnitude, std::chars_format::general);
  if (ec != std::errc() || end != raw.data() + raw.size())
    magnitude = convert_numeral(std::string(raw));
  return negative ? -magnitude : magnitude;
}

}  // namespace corvane_burn_watch::numbers
