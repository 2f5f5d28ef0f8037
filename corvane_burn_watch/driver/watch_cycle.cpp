// One pass of the watch: fetch, compare with the stored map, store, alert.
#include <string>
#include <utility>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/alert_delivery.hpp"
#include "corvane_burn_watch/driver/baseline.hpp"
#include "corvane_burn_watch/driver/burn_map.hpp"
#include "corvane_burn_watch/driver/courier.hpp"
#include "corvane_burn_watch/driver/driver.hpp"
#include "corvane_burn_watch/driver/fetch_rows.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"
#include "corvane_burn_watch/driver/pass_rules.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"
#include "corvane_burn_watch/driver/told_values.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace driver {

namespace {

// What one pass works with beyond the plain cycle: its rules, and the told
// values when it measures drift.
struct PassContext {
  const PassRules& rules;
  ToldFile* told;  // nullptr: changes are measured from the previous pass
};

// Saves the state as the plain cycle does, then alerts this pass's changes.

int alert_once(const WatchOnceArgs& args, const WatchOptions& options, PassRecord& record,
               Baseline& baseline, const BurnMap& current, const FetchedRows& fetched,
               const ChangeList& changes, const PassContext& pass) {
  // Saved before anything is sent, so a change whose alert fails to arrive is
  // not reported a second time (with drift it is: the chat was not told).
  baseline.replace(current, fetched.updated_at);
  record.count_state_saved();
  if (pass.told) pass.told->store();
  if (changes.empty()) return 0;

  const std::string text = format_burn_alert(changes, fetched.updated_at);
  Courier courier(args.burn_token, args.burn_chat_id, options, args.settings, record);
  courier.quiet_hours = pass.rules.rules().quiet_hours;
  const TextDelivery sent = courier.send_text(text);
  for (std::size_t i = 0; i < sent.messages_delivered; ++i) record.count_alert_sent();
  if (sent.outcome.delivered()) {
    if (pass.told) {
      std::vector<std::pair<std::string, std::string>> values;
      values.reserve(changes.size());
      for (const ChangeTriple& change : changes)
        values.emplace_back(change.subnet_id, change.new_burn);
      pass.told->told(values);
      pass.told->store();
    }
    const std::string line = "alert sent (" + std::to_string(changes.size()) + " subnet(s))";
    host::log(host::LogLevel::info, options.dry_run ? line + " [dry run]" : line);
    return 0;
  }
  const DeliveryFailure failure = delivery_failure("telegram failed", sent.outcome, options);
  host::log(failure.level, failure.line);
  record.set_problem("telegram: " + std::string(telegram::failure_reason(sent.outcome.status)));
  return failure.result;
}

// Records this pass's changes as pending before the state moves past them,
// then sends everything pending.
int alert_until_delivered(const WatchOnceArgs& args, const WatchOptions& options,
                          PassRecord& record, Baseline& baseline, const BurnMap& current,
                          const FetchedRows& fetched, const ChangeList& changes,
                          const PassContext& pass) {
  PendingFile file(pending_file_path(args.state_path, options), options.dry_run);
  PendingAlerts pending = file.load(fetched.updated_at);
  const std::string chat = chat_for_pass(pending, args.burn_chat_id);
  merge_changes(pending, changes, current);
  drop_suppressed(pending, pass.rules);
  file.store(pending);
  baseline.replace(current, fetched.updated_at);
  record.count_state_saved();
  if (pass.told) pass.told->store();
  drop_settled(
      pending, [&](std::string_view id) { return pass.rules.threshold_for(id); },
      change_rules(options));
  file.store(pending);
  record.set_pending(pending.alerts.size());
  if (pending.alerts.empty()) return 0;

  Courier courier(args.burn_token, chat, options, args.settings, record);
  courier.quiet_hours = pass.rules.rules().quiet_hours;
  courier.on_migrated = [&](const std::string& from, const std::string& to) {
    pending.chat_migrations.set(from, to);
    file.store(pending);
  };
  return deliver_pending_alerts(pending, file, courier, fetched.updated_at, record, options,
                                told_recorder(pass.told));
}

int watch_cycle(const WatchOnceArgs& args, const WatchOptions& options, PassRecord& record) {
  const PassRules rules(options, args.state_path, args.threshold, record);
  std::optional<FetchedRows> fetched =
      fetch_watched_rows("fetch failed: ", record.updated_at(), args.settings, options);
  if (!fetched) {
    record.set_problem("fetch failed");
    return 1;
  }
  const BurnMap current = build_burn_map(fetched->rows);
  record.set_burns(current);
  Baseline baseline(args.state_path, options);
  std::optional<ToldFile> told;
  if (rules.drift()) told.emplace(told_file_path(args.state_path, rules.rules()), options.dry_run);
  const BurnMap base = told ? told->base(baseline.burns()) : BurnMap{};
  const BurnMap& from = told ? base : baseline.burns();
  // A first pass (no or empty state) only sets the baseline.
  const ChangeList changes =
      baseline.burns().empty() ? ChangeList{} : rules.changes(from, current, record);
  if (told) told->follow(from, current, rules);
  const PassContext pass{rules, told ? &*told : nullptr};
  if (options.redeliver)
    return alert_until_delivered(args, options, record, baseline, current, *fetched, changes, pass);
  return alert_once(args, options, record, baseline, current, *fetched, changes, pass);
}

}  // namespace
}  // namespace driver

int run_burn_watch_once(const WatchOnceArgs& args, const WatchOptions& options) {
  // Refused before the fetch: found only at the send, after the save, the
  // changes would be lost.
  require_sendable_credentials(args.burn_token, args.burn_chat_id);
  const host::OneLineLogs one_line(options.one_line_logs);
  return driver::observed_pass("cycle", [&](driver::PassRecord& record) {
    return driver::watch_cycle(args, options, record);
  });
}

}  // namespace corvane_burn_watch
