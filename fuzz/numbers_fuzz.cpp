// Fuzzes the number-reading and number-writing rules.
//
// The input read as text must give what a reading written straight from the
// rule gives: the same grammar checked by hand here, then glibc's strtod
// (correctly rounded) on the numeral without its underscores. The first eight
// input bytes, taken as a double, must be written as the shortest text that
// reads back to it, and formatted with 4 decimals exactly as printf("%.4f").
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "fuzz/fuzz_check.hpp"

namespace numbers = corvane_burn_watch::numbers;

namespace {

bool ascii_space(char c) {
  return std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0';
}

std::string_view trimmed(std::string_view s) {
  std::size_t first = 0, last = s.size();
  while (first < last && ascii_space(s[first])) ++first;
  while (last > first && ascii_space(s[last - 1])) --last;
  return s.substr(first, last - first);
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A run of digits in which single underscores may stand between two digits;
// the empty run is allowed here and judged by the caller.
bool digit_run(std::string_view s) {
  if (s.empty()) return true;
  if (s.front() == '_' || s.back() == '_') return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '_') {
      if (s[i + 1] == '_') return false;
    } else if (s[i] < '0' || s[i] > '9') {
      return false;
    }
  }
  return true;
}

std::string without_underscores(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '_') out.push_back(c);
  return out;
}

// The rule, spelt out: the text strtod must read, or nullopt.
std::optional<std::string> reference_numeral(std::string_view text) {
  std::string_view s = trimmed(text);
  std::string sign;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    sign = s.substr(0, 1);
    s.remove_prefix(1);
  }
  const std::string word = lower(s);
  if (word == "inf" || word == "infinity" || word == "nan") return sign + word;

  std::string_view mantissa = s, exponent;
  bool has_exponent = false;
  if (std::size_t e = s.find_first_of("eE"); e != std::string_view::npos) {
    mantissa = s.substr(0, e);
    exponent = s.substr(e + 1);
    has_exponent = true;
  }
  std::string_view whole = mantissa, fraction;
  if (std::size_t point = mantissa.find('.'); point != std::string_view::npos) {
    whole = mantissa.substr(0, point);
    fraction = mantissa.substr(point + 1);
  }
  if (!digit_run(whole) || !digit_run(fraction)) return std::nullopt;
  if (whole.empty() && fraction.empty()) return std::nullopt;
  std::string numeral = sign + without_underscores(mantissa);
  if (has_exponent) {
    std::string_view digits = exponent;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    if (digits.empty() || !digit_run(digits)) return std::nullopt;
    numeral += 'e';
    numeral += without_underscores(exponent);
  }
  return numeral;
}

bool same_double(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

void check_reading(std::string_view text) {
  const std::optional<double> got = numbers::read_double(text);
  const std::optional<std::string> numeral = reference_numeral(text);
  FUZZ_CHECK(got.has_value() == numeral.has_value(), fuzz::printable(text));
  if (!got) return;
  const double expected = std::strtod(numeral->c_str(), nullptr);
  FUZZ_CHECK(same_double(*got, expected), fuzz::printable(text) + " -> " + *numeral);
}

// The significant digits of a decimal text ("-0.00120e+5" gives "12").
std::string significant_digits(std::string_view text) {
  std::string digits;
  for (char c : text.substr(0, text.find_first_of("eE"))) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  digits.erase(0, digits.find_first_not_of('0'));
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  return digits;
}

// The decimal exponent of a written number's first significant digit, read
// from the text itself: "0.0012" gives -3, "120.5" gives 2, "1.5e+17" gives 17.
int written_exponent(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  if (std::size_t e = text.find('e'); e != std::string_view::npos)
    return std::atoi(std::string(text.substr(e + 1)).c_str());
  const std::string_view whole = text.substr(0, text.find('.'));
  if (whole != "0") return static_cast<int>(whole.size()) - 1;
  const std::string_view fraction = text.substr(whole.size() + 1);
  return -static_cast<int>(fraction.find_first_not_of('0')) - 1;
}

// The nearest decimal with `count` significant digits (printf rounds
// correctly), then the decimals one unit above and below it in the last digit,
// as texts strtod reads.
std::vector<std::string> nearest_and_neighbours(double value, std::size_t count) {
  char nearest[64];
  std::snprintf(nearest, sizeof nearest, "%.*e", static_cast<int>(count) - 1, std::fabs(value));
  const char* e = std::strchr(nearest, 'e');
  std::string digits;
  for (const char* p = nearest; p < e; ++p)
    if (*p != '.') digits.push_back(*p);
  const int scale = std::atoi(e + 1) - static_cast<int>(count - 1);
  const std::string sign = std::signbit(value) ? "-" : "";
  auto text_of = [&](const std::string& d) { return sign + d + "e" + std::to_string(scale); };
  std::string up = digits, down = digits;
  std::size_t i = up.size();
  while (i > 0 && up[i - 1] == '9') up[--i] = '0';
  if (i == 0)
    up.insert(up.begin(), '1');
  else
    ++up[i - 1];
  i = down.size();
  while (i > 0 && down[i - 1] == '0') down[--i] = '9';
  if (i > 0) --down[i - 1];  // all zeros only for the value zero, which has no neighbour below
  return {text_of(digits), text_of(up), text_of(down)};
}

void check_writing(double value) {
  const std::string text = numbers::write_double(value);
  if (std::isnan(value)) {
    FUZZ_CHECK(text == "nan", text);
    FUZZ_CHECK(numbers::format_fixed(value, 4) == "nan", text);
    return;
  }
  // Reads back to the very same double, by the library's reading and by strtod.
  const std::optional<double> back = numbers::read_double(text);
  FUZZ_CHECK(back && same_double(*back, value), text);
  FUZZ_CHECK(same_double(std::strtod(text.c_str(), nullptr), value), text);

  char fixed[400];
  std::snprintf(fixed, sizeof fixed, "%.4f", value);
  FUZZ_CHECK(numbers::format_fixed(value, 4) == fixed,
             numbers::format_fixed(value, 4) + " != " + fixed);
  if (std::isinf(value)) return;

  // Shortest: no decimal with one digit fewer reads back to the value, and of
  // the decimals with the library's digit count the nearest (printf's
  // correctly rounded one) is taken whenever it reads back; when it does not,
  // only its neighbours in the last digit can.
  if (value == 0.0) {
    FUZZ_CHECK(text == (std::signbit(value) ? "-0.0" : "0.0"), text);
    return;
  }
  const std::string digits = significant_digits(text);
  if (digits.size() > 1) {
    for (const std::string& shorter : nearest_and_neighbours(value, digits.size() - 1))
      FUZZ_CHECK(std::strtod(shorter.c_str(), nullptr) != value, text + " vs " + shorter);
  }
  const std::vector<std::string> same_length = nearest_and_neighbours(value, digits.size());
  if (std::strtod(same_length[0].c_str(), nullptr) == value) {
    FUZZ_CHECK(digits == significant_digits(same_length[0]), text + " vs " + same_length[0]);
  } else {
    FUZZ_CHECK(digits == significant_digits(same_length[1]) ||
                   digits == significant_digits(same_length[2]),
               text + " vs " + same_length[0]);
  }

  // Positional for decimal exponents -4..15, exponent form otherwise; the
  // exponent form starts with a non-zero digit.
  const int exponent = written_exponent(text);
  const bool positional = exponent >= -4 && exponent <= 15;
  const bool has_e = text.find('e') != std::string::npos;
  FUZZ_CHECK(positional != has_e, text);
  if (positional) FUZZ_CHECK(text.find('.') != std::string::npos, text);
  if (has_e) {
    const std::string_view tail = std::string_view(text).substr(text.find('e') + 1);
    FUZZ_CHECK(tail.size() >= 3 && (tail[0] == '+' || tail[0] == '-'), text);
    FUZZ_CHECK(text[std::signbit(value) ? 1 : 0] != '0', text);
  }
}

// Whole numbers: digits with single underscores, canonical digits out.
void check_integer(std::string_view text) {
  const auto got = numbers::read_integer(text);
  std::string_view s = trimmed(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  const bool reads = !s.empty() && digit_run(s);
  FUZZ_CHECK(got.has_value() == reads, fuzz::printable(text));
  if (!got) return;
  std::string digits = without_underscores(s);
  digits.erase(0, digits.find_first_not_of('0'));
  if (digits.empty()) digits = "0";
  if (negative && digits != "0") digits.insert(0, "-");
  FUZZ_CHECK(got->digits == digits, got->digits + " != " + digits);
  FUZZ_CHECK(numbers::compare_integers(*got, *got) == 0, digits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_reading(text);
  check_integer(text);
  if (size >= sizeof(double)) {
    double value;
    std::memcpy(&value, data, sizeof value);
    check_writing(value);
  }
  return 0;
}
