#pragma once
// One row of the data service's subnet list, as this system reads it.
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch {

// The members of a subnet row that anything here reads; a row carries a dozen
// more, which the subnet list fetch checks but never builds. A new reader of a
// row member adds it here, and the fetch keeps it.
struct SubnetRow {
  std::optional<json::Value> netuid;          // "netuid": the subnet id
  std::optional<json::Value> incentive_burn;  // "incentive_burn": the owner burn field

  // Each member above with the name it has in a row: whatever fills a
  // SubnetRow (the decoder, a host's converter) goes by this table.
  using Field = std::optional<json::Value> SubnetRow::*;
  static constexpr std::array<std::pair<std::string_view, Field>, 2> kFields = {
      {{"netuid", &SubnetRow::netuid}, {"incentive_burn", &SubnetRow::incentive_burn}}};
  // The names alone, in the same order.
  static constexpr std::array<std::string_view, kFields.size()> kMembers = [] {
    std::array<std::string_view, kFields.size()> names{};
    for (std::size_t i = 0; i < kFields.size(); ++i) names[i] = kFields[i].first;
    return names;
  }();

  // The row an object holds; a member it lacks stays empty. Throws TypeError
  // (naming `what`) when `value` is not an object.
  static SubnetRow from_value(json::Value value, std::string_view what = "subnet row");
  static SubnetRow from_object(json::Object object);

  bool operator==(const SubnetRow&) const = default;
};

}  // namespace corvane_burn_watch
