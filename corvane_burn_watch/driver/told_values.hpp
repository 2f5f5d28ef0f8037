#pragma once
// The values the chat was last told, per subnet, kept beside the state file
// for a watch that measures drift: a change is measured from what the chat
// knows (the startup table, or the last alert that reached it), not from the
// previous pass.
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"

namespace corvane_burn_watch::driver {

class PassRules;

class ToldFile {
 public:
  // Reads the file; a missing one holds nothing, and one that cannot be used
  // is replaced, with a warning line.
  ToldFile(std::string path, bool dry_run);

  // What this pass measures from: `stored` (the state file's map) with each
  // subnet's told value in place of its stored one.
  BurnMap base(const BurnMap& stored) const;

  // The values after a pass that has not told anything yet: each subnet of
  // `current` keeps its value in `base`; a new subnet, and one whose changes
  // the rules keep from the chat, takes its value of now, so that alerting
  // resumes from there.
  void follow(const BurnMap& base, const BurnMap& current, const PassRules& rules);
  // The chat got these values (subnet id, value), in one message.
  void told(const std::vector<std::pair<std::string, std::string>>& values);
  // Writes the file atomically when it changed (never in a dry run).
  void store();

 private:
  std::string path_;
  bool dry_run_;
  BurnMap values_;
  bool changed_ = false;
};

// What the pending alerts' delivery calls for each line that reached the
// chat: the line's latest value becomes the told one, stored at once. Empty
// when `told` is nullptr.
std::function<void(std::span<const PendingAlert>)> told_recorder(ToldFile* told);

}  // namespace corvane_burn_watch::driver
