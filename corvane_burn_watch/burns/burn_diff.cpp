// The change list between the previous and the current burn map.
#include <algorithm>
#include <unordered_map>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/numbers.hpp"

namespace corvane_burn_watch {
namespace {

struct SubnetEntry {
  json::Integer id;
  const json::Member* member;
};

// The entries of `current` in ascending numeric order of id, equal ids in map
// order. Every id is read before anything is compared, so a bad id fails the
// whole call.
std::vector<SubnetEntry> sorted_by_id(const BurnMap& current) {
  std::vector<SubnetEntry> entries;
  entries.reserve(current.size());
  for (const json::Member& member : current) {
    std::optional<json::Integer> id = numbers::read_integer(member.key);
    if (!id) throw ValueError("subnet id is not an integer: '" + member.key + "'");
    entries.push_back({std::move(*id), &member});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return numbers::compare_integers(a.id, b.id) < 0;
  });
  return entries;
}

const std::string& burn_text(const Value& value, const char* which) {
  const std::string* text = value.as_text();
  if (!text) throw TypeError(std::string(which) + " must be str, not " + value.kind_name());
  return *text;
}

}  // namespace

ChangeList diff_burns(const BurnMap& prev, const BurnMap& current, double threshold) {
  std::vector<SubnetEntry> entries = sorted_by_id(current);

  // Exact-text lookup; a null previous value counts as no entry at all.
  std::unordered_map<std::string_view, const Value*> previous;
  previous.reserve(prev.size());
  for (const json::Member& member : prev)
    if (!member.value.is_null()) previous.emplace(member.key, &member.value);

  ChangeList changes;
  for (const SubnetEntry& entry : entries) {
    auto found = previous.find(entry.member->key);
    if (found == previous.end()) continue;  // new subnets are never reported
    const std::string& old_burn = burn_text(*found->second, "old");
    const std::string& new_burn = burn_text(entry.member->value, "new");
    if (owner_burn_changed(old_burn, new_burn, threshold))
      changes.push_back({entry.member->key, old_burn, new_burn});
  }
  return changes;
}

}  // namespace corvane_burn_watch
