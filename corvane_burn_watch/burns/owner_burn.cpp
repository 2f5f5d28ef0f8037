// Owner burn values: taking one from a subnet row, showing it and comparing two.
#include <cmath>
#include <optional>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/burns/change_rules.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"

namespace corvane_burn_watch {
namespace {

std::string burn_text(const Value* burn) {
  // Missing, null, false, zero in any form and empty containers all mean "no burn".
  if (!burn || !burn->truthy()) return "0";
  return python_text::plain_text(*burn);
}

}  // namespace

std::string owner_burn_from_row(const SubnetRow& row) {
  return burn_text(row.incentive_burn ? &*row.incentive_burn : nullptr);
}

std::string owner_burn_from_row(const Value& row) {
  const Object* fields = row.as_object();
  if (!fields) throw TypeError(std::string("row must be a dict, not ") + row.kind_name());
  return burn_text(fields->find("incentive_burn"));
}

std::string format_owner_burn(std::string_view value) {
  std::optional<double> number = numbers::read_double(value);
  if (!number) return std::string(value);
  return numbers::format_fixed(*number, OWNER_BURN_DECIMALS);
}

bool owner_burn_changed(std::string_view old_burn, std::string_view new_burn, double threshold) {
  // Equal texts read as equal numbers, or are equal non-numbers: a difference
  // of zero (or NaN) is more than no threshold that is not negative.
  if (old_burn == new_burn && !(threshold < 0)) return false;
  std::optional<double> old_number = numbers::read_double(old_burn);
  std::optional<double> new_number = numbers::read_double(new_burn);
  // Texts that are not numbers are still tracked, by exact comparison.
  if (!old_number || !new_number) return old_burn != new_burn;
  // A NaN difference (a NaN side, or equal infinities) compares false: no change.
  return std::fabs(*old_number - *new_number) > threshold;
}

bool burns::burn_changed(std::string_view old_burn, std::string_view new_burn, double threshold,
                         const ChangeRules& rules) {
  if (rules.non_finite_changes) {
    const std::optional<double> old_number = numbers::read_double(old_burn);
    const std::optional<double> new_number = numbers::read_double(new_burn);
    if ((old_number && !std::isfinite(*old_number)) || (new_number && !std::isfinite(*new_number)))
      return old_burn != new_burn;
  }
  return owner_burn_changed(old_burn, new_burn, threshold);
}

}  // namespace corvane_burn_watch
