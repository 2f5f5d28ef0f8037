#pragma once
// The watch rules as one pass applies them: taken from the rules source (or
// the options) at the start of the pass, with the mutes then in force.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/burns/change_rules.hpp"
#include "corvane_burn_watch/driver/mutes.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"

namespace corvane_burn_watch::driver {

class PassRules {
 public:
  // Asks the options' rules source, if any (writing its warning line), and
  // reads the mutes file when the rules honour mutes; a mutes file that cannot
  // be used mutes nothing, with a warning line. `threshold` is the one the
  // operation was given. The number of mutes goes into `record`.
  PassRules(const WatchOptions& options, const std::string& state_path, double threshold,
            PassRecord& record);

  const WatchRules& rules() const { return rules_; }
  bool drift() const { return rules_.compare_to == CompareTo::alerted; }
  // Whether anything narrows which subnets are alerted or shown.
  bool filters() const;

  double threshold_for(std::string_view subnet_id) const;
  // Why a subnet's changes are kept from the chat: "ignored", "unwatched" or
  // "muted"; nullptr when they are alerted.
  const char* suppressed(std::string_view subnet_id) const;
  // Whether the startup table shows the subnet (watched and not ignored).
  bool shown(std::string_view subnet_id) const;

  // The changes of `current` against `base`, each subnet measured with its own
  // threshold; those the rules keep from the chat are counted in `record` and
  // left out.
  ChangeList changes(const BurnMap& base, const BurnMap& current, PassRecord& record) const;

 private:
  WatchRules rules_;
  double threshold_;
  Mutes mutes_;  // those in force at the start of the pass
  burns::ChangeRules changes_;
};

// Drops the pending lines of subnets whose changes the rules keep from the
// chat (a mute that began, a subnet taken off the watchlist).
void drop_suppressed(PendingAlerts& pending, const PassRules& rules);

}  // namespace corvane_burn_watch::driver
