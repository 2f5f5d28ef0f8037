// The change list between the previous and the current burn map.
#include <algorithm>
#include <bit>
#include <functional>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/numbers.hpp"

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

// The previous map's entries by exact id text, for one diff: open addressing
// in a table at most half full, with no allocation per entry. As with a map's
// emplace, the first entry of a repeated id counts, and an entry holding null
// counts as no entry at all.
class PreviousBurns {
 public:
  explicit PreviousBurns(const BurnMap& prev)
      : mask_(std::bit_ceil(std::max<std::size_t>(prev.size() * 2, 2)) - 1),
        slots_(mask_ + 1, nullptr) {
    for (const json::Member& member : prev) {
      if (member.value.is_null()) continue;
      const json::Member*& slot = slot_for(member.key);
      if (slot == nullptr) slot = &member;
    }
  }

  const Value* find(std::string_view id) {
    const json::Member* member = slot_for(id);
    return member ? &member->value : nullptr;
  }

 private:
  const json::Member*& slot_for(std::string_view id) {
    std::size_t slot = std::hash<std::string_view>{}(id) & mask_;
    while (slots_[slot] != nullptr && slots_[slot]->key != id) slot = (slot + 1) & mask_;
    return slots_[slot];
  }

  std::size_t mask_;
  std::vector<const json::Member*> slots_;
};

const std::string& burn_text(const Value& value, const char* which) {
  const std::string* text = value.as_text();
  if (!text) throw TypeError(std::string(which) + " must be str, not " + value.kind_name());
  return *text;
}

}  // namespace

ChangeList diff_burns(const BurnMap& prev, const BurnMap& current, double threshold) {
  std::vector<json::Integer> ids = read_ids(current);

  // Exact-text lookup; a null previous value counts as no entry at all.
  PreviousBurns previous(prev);

  // Compare in map order, which walks memory in sequence, and sort only what
  // changed. Positions go in ascending, so a stable sort keeps map order
  // among equal ids.
  struct Changed {
    std::size_t position;
    const std::string* old_burn;
  };
  std::vector<Changed> changed;
  for (std::size_t position = 0; const json::Member& entry : current) {
    if (const Value* found = previous.find(entry.key)) {  // new subnets are never reported
      const std::string& old_burn = burn_text(*found, "old");
      if (owner_burn_changed(old_burn, burn_text(entry.value, "new"), threshold))
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

}  // namespace corvane_burn_watch
