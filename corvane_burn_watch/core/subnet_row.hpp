#pragma once
// One row of the data service's subnet list, as this system reads it.
#include <array>
#include <optional>
#include <string_view>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch {

// The members of a subnet row that anything here reads; a row carries a dozen
// more, which the subnet list fetch checks but never builds. A new reader of a
// row member adds it here, and the fetch keeps it.
struct SubnetRow {
  std::optional<json::Value> netuid;          // "netuid": the subnet id
  std::optional<json::Value> incentive_burn;  // "incentive_burn": the owner burn field

  // The names of the members above, in their order.
  static constexpr std::array<std::string_view, 2> kMembers = {"netuid", "incentive_burn"};

  // The row an object holds; a member it lacks stays empty. Throws TypeError
  // (naming `what`) when `value` is not an object.
  static SubnetRow from_value(json::Value value, std::string_view what = "subnet row");
  static SubnetRow from_object(json::Object object);

  bool operator==(const SubnetRow&) const = default;
};

}  // namespace corvane_burn_watch
