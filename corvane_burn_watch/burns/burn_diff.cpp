// The change list between the previous and the current burn map.
#include <algorithm>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/burns/change_rules.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/key_index.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"

namespace corvane_burn_watch {
namespace {

// The integer value of every id in `current`, in map order. Every id is read
// before anything is compared, so a bad id fails the whole call.
std::vector<json::Integer> read_ids(const BurnMap& current) {
  std::vector<json::Integer> ids;
  ids.reserve(current.size());
  for (const json::Member& member : current) {
    std::optional<json::Integer> id = numbers::read_integer(member.key);
    if (!id) throw ValueError("subnet id is not an integer: '" + member.key + "'");
    ids.push_back(std::move(*id));
  }
  return ids;
}

const std::string& burn_text(const Value& value, const char* which) {
  const std::string* text = value.as_text();
  if (!text) throw TypeError(std::string(which) + " must be str, not " + value.kind_name());
  return *text;
}

}  // namespace

ChangeList burns::diff_burns(const BurnMap& prev, const BurnMap& current, double threshold,
                             const ChangeRules& rules) {
  std::vector<json::Integer> ids = read_ids(current);

  // Exact-text lookup; a null previous value counts as no entry at all, and
  // the first of a repeated id counts.
  const json::Member* prev_members = prev.empty() ? nullptr : &*prev.begin();
  json::KeyIndex previous(prev.size());
  for (std::size_t i = 0; i < prev.size(); ++i)
    if (!prev_members[i].value.is_null()) previous.insert(prev_members[i].key, i);

  // Compare in map order, which walks memory in sequence, and sort only what
  // changed. Positions go in ascending, so a stable sort keeps map order
  // among equal ids.
  struct Changed {
    std::size_t position;
    const std::string* old_burn;
  };
  std::vector<Changed> changed;
  for (std::size_t position = 0; const json::Member& entry : current) {
    if (const std::size_t found = previous.find(entry.key);
        found != json::KeyIndex::npos) {  // new: never reported
      const std::string& old_burn = burn_text(prev_members[found].value, "old");
      if (burn_changed(old_burn, burn_text(entry.value, "new"), threshold, rules))
        changed.push_back({position, &old_burn});
    }
    ++position;
  }
  std::stable_sort(changed.begin(), changed.end(), [&](const Changed& a, const Changed& b) {
    return numbers::compare_integers(ids[a.position], ids[b.position]) < 0;
  });

  ChangeList changes;
  changes.reserve(changed.size());
  const json::Member* members = &*current.begin();
  for (const Changed& change : changed) {
    const json::Member& entry = members[change.position];
    changes.push_back({entry.key, *change.old_burn, *entry.value.as_text()});
  }
  return changes;
}

ChangeList diff_burns(const BurnMap& prev, const BurnMap& current, double threshold) {
  return burns::diff_burns(prev, current, threshold, {});
}

}  // namespace corvane_burn_watch
