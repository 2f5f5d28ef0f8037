#pragma once
// The burn state file as one pass uses it: the stored map to compare with,
// then the new map in its place, with the options of a long-running watch
// (keep an unusable file, write nothing in a dry run).
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/burns/change_rules.hpp"
#include "corvane_burn_watch/burns/state_file.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"

namespace corvane_burn_watch::driver {

class Baseline {
 public:
  // Reads the state file as load_burn_state does (raising where it raises);
  // with keep_corrupt_state, a file that cannot be used gives an empty map
  // and is remembered instead.
  Baseline(std::string path, const WatchOptions& options);

  const BurnMap& burns() const { return stored_.burns; }

  // Saves `current` as the new state (nothing in a dry run). An unusable file
  // is first kept as "<path>.corrupt-<updated_at>", with a warning line; one
  // that could not be read is never replaced (OsError). With
  // keep_absent_days, stored subnets missing from `current` stay in the file
  // at their stored values, for that long after the pass that first missed
  // them, with a warning line naming those that just went missing.
  void replace(const BurnMap& current, const std::string& updated_at);

 private:
  std::string path_;
  const WatchOptions& options_;
  burns::StoredState stored_;
};

// What the options count as a change (burns::ChangeRules).
burns::ChangeRules change_rules(const WatchOptions& options);

// The map to store when subnets missing from `current` are kept: `current`,
// then each stored subnet it lacks, unless missing for longer than
// `keep_days` (from `absent_since`, which is brought up to date: the
// subnets kept, each with the time it was first missed). `went_missing`
// gets the ids first missed now, `forgotten` those dropped.
struct AbsentKept {
  BurnMap burns;
  json::Object absent_since;
  std::vector<std::string> went_missing;
  std::vector<std::string> forgotten;
};
AbsentKept keep_absent(const BurnMap& stored, const json::Object& absent_since,
                       const BurnMap& current, const std::string& updated_at, double keep_days);

// "<path>.corrupt-20260301T120000Z" for the pass's UTC timestamp text
// ("2026-03-01T12:00:00Z"), with "-2", "-3", ... added when that name is taken.
std::string corrupt_copy_path(const std::string& path, std::string_view updated_at);

// Keeps `content` as a new corrupt copy of `path`, named for the pass's UTC
// timestamp text `updated_at`, and returns its name. The copy has the
// permission bits `mode` of the file it copies (0600 when they are not
// known), never wider, and is never written through a link.
std::string keep_corrupt_copy(const std::string& path, std::string_view updated_at,
                              std::string_view content, unsigned mode);

}  // namespace corvane_burn_watch::driver
