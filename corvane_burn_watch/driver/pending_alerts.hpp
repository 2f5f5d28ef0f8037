#pragma once
// Alerts that have not reached the chat yet, kept in a file beside the state
// file until they do. A change is recorded here before the state file moves
// past it, so a failed delivery or a killed process can repeat an alert line
// but never lose one.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/burns/change_rules.hpp"
#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"

namespace corvane_burn_watch::driver {

// One subnet the chat has to hear of: from the value it was last told (or,
// when none of its alerts got through, the value before its first undelivered
// change) to the latest value.
struct PendingAlert {
  std::string subnet_id;
  std::string told;
  std::string latest;
  // Values of lines sent whose fate is unknown (the process was killed, or the
  // request failed without an answer): the chat may hold one of them instead
  // of `told`.
  std::vector<std::string> maybe_told;
  bool operator==(const PendingAlert&) const = default;
};

struct PendingAlerts {
  std::vector<PendingAlert> alerts;  // ascending numeric order of subnet id
  // Chats Telegram moved (a group that became a supergroup): old id -> new id.
  json::Object chat_migrations;

  bool empty() const { return alerts.empty() && chat_migrations.empty(); }
  bool operator==(const PendingAlerts&) const = default;
};

// Adds a pass's changes: a subnet already pending keeps its `told` value and
// takes the new latest value; every other pending subnet takes its value in
// `current` too. The list stays in ascending numeric order of id.
void merge_changes(PendingAlerts& pending, const ChangeList& changes, const BurnMap& current);

// Drops the subnets whose net change is back within `threshold` of every value
// the chat may hold. Only once the state file holds the values they settled
// at: a subnet missing from the pending file must have in the state file what
// the chat was last told, or its next change would be told from a value the
// chat never got.
void drop_settled(PendingAlerts& pending, double threshold, const burns::ChangeRules& rules = {});
// The same with each subnet's own threshold.
void drop_settled(PendingAlerts& pending,
                  const std::function<double(std::string_view subnet_id)>& threshold_for,
                  const burns::ChangeRules& rules = {});

// The alerts as change triples (id, told, latest), for the alert text.
ChangeList pending_changes(const PendingAlerts& pending);

// The chat to send to: `configured`, or where Telegram moved it. Migrations of
// other chats are forgotten (the operator has set the new id).
std::string chat_after_migrations(PendingAlerts& pending, const std::string& configured);

// The file's document, and back; nullopt for a document of another shape.
json::Value pending_document(const PendingAlerts& pending);
std::optional<PendingAlerts> pending_from_document(const json::Value& document);

// "<state file>.pending.json", or the path the options name.
std::string pending_file_path(const std::string& state_path, const WatchOptions& options);

// The pending alerts file: written like the state file (temporary file, sync,
// rename; permission bits kept), removed when nothing is pending, and never
// written in a dry run.
class PendingFile {
 public:
  PendingFile(std::string path, bool dry_run) : path_(std::move(path)), dry_run_(dry_run) {}

  // What the file holds; empty when there is none. A file that cannot be used
  // is kept as "<path>.corrupt-<updated_at>" (the pass's UTC timestamp text)
  // with a warning line, and counts as empty.
  PendingAlerts load(std::string_view updated_at);
  // Makes the file hold `pending` (removes it when empty); does nothing when
  // the file already holds exactly that.
  void store(const PendingAlerts& pending);

 private:
  std::string path_;
  bool dry_run_;
  std::optional<PendingAlerts> on_disk_;  // nullopt: not known, write in any case
};

}  // namespace corvane_burn_watch::driver
