// Owner burn values: taking one from a subnet row, showing it and comparing two.
#include <cmath>
#include <optional>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/json_text.hpp"
#include "corvane_burn_watch/core/numbers.hpp"

namespace corvane_burn_watch {

std::string owner_burn_from_row(const Value& row) {
  const Object* fields = row.as_object();
  if (!fields) throw TypeError(std::string("row must be a dict, not ") + row.kind_name());
  const Value* burn = fields->find("incentive_burn");
  // Missing, null, false, zero in any form and empty containers all mean "no burn".
  if (!burn || !burn->truthy()) return "0";
  return json::plain_text(*burn);
}

std::string format_owner_burn(std::string_view value) {
  std::optional<double> number = numbers::read_double(value);
  if (!number) return std::string(value);
  return numbers::format_fixed(*number, OWNER_BURN_DECIMALS);
}

bool owner_burn_changed(std::string_view old_burn, std::string_view new_burn, double threshold) {
  std::optional<double> old_number = numbers::read_double(old_burn);
  std::optional<double> new_number = numbers::read_double(new_burn);
  // Texts that are not numbers are still tracked, by exact comparison.
  if (!old_number || !new_number) return old_burn != new_burn;
  // A NaN difference (a NaN side, or equal infinities) compares false: no change.
  return std::fabs(*old_number - *new_number) > threshold;
}

}  // namespace corvane_burn_watch
