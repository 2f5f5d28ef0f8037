#include "corvane_burn_watch/telegram/subnet_order.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"

namespace corvane_burn_watch::telegram {
namespace {

[[noreturn]] void not_an_integer(const json::Value& netuid) {
  throw ValueError("subnet id cannot be converted to an integer: " +
                   python_text::text_form(netuid));
}

json::Integer truncate_toward_zero(const json::Value& netuid, double value) {
  if (!std::isfinite(value)) not_an_integer(netuid);
  const double whole = std::trunc(value);
  if (whole == 0) return json::Integer{"0"};  // also for -0.5: no "-0"
  // "%.0f" of a whole double prints its exact digits, however large.
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.0f", whole);
  return json::Integer{digits};
}

}  // namespace

json::Integer subnet_sort_key(const json::Value& netuid) {
  using Kind = json::Value::Kind;
  switch (netuid.kind()) {
    case Kind::integer:
      return *netuid.as_integer();
    case Kind::number:
      return truncate_toward_zero(netuid, *netuid.as_double());
    case Kind::boolean:
      return json::Integer{*netuid.as_bool() ? "1" : "0"};
    case Kind::text:
      if (auto key = numbers::read_integer(*netuid.as_text())) return *std::move(key);
      break;
    default:
      break;
  }
  not_an_integer(netuid);
}

}  // namespace corvane_burn_watch::telegram
