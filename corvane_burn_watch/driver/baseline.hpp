#pragma once
// The burn state file as one pass uses it: the stored map to compare with,
// then the new map in its place, with the options of a long-running watch
// (keep an unusable file, write nothing in a dry run).
#include <string>
#include <string_view>

#include "corvane_burn_watch/burns/burns.hpp"
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
  // that could not be read is never replaced (OsError).
  void replace(const BurnMap& current, const std::string& updated_at);

 private:
  std::string path_;
  const WatchOptions& options_;
  burns::StoredState stored_;
};

// "<path>.corrupt-20260301T120000Z" for the pass's UTC timestamp text
// ("2026-03-01T12:00:00Z"), with "-2", "-3", ... added when that name is taken.
std::string corrupt_copy_path(const std::string& path, std::string_view updated_at);

}  // namespace corvane_burn_watch::driver
