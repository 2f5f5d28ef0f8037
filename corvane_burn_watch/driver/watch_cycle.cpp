// One pass of the watch: fetch, compare with the stored map, store, alert.
#include <string>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/alert_delivery.hpp"
#include "corvane_burn_watch/driver/baseline.hpp"
#include "corvane_burn_watch/driver/burn_map.hpp"
#include "corvane_burn_watch/driver/courier.hpp"
#include "corvane_burn_watch/driver/driver.hpp"
#include "corvane_burn_watch/driver/fetch_rows.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace driver {

namespace {

// Saves the state as the plain cycle does, then alerts this pass's changes.
int alert_once(const WatchOnceArgs& args, const WatchOptions& options, PassRecord& record,
               Baseline& baseline, const BurnMap& current, const FetchedRows& fetched,
               const ChangeList& changes) {
  // Saved before anything is sent, so a change whose alert fails to arrive is
  // not reported a second time.
  baseline.replace(current, fetched.updated_at);
  record.count_state_saved();
  if (changes.empty()) return 0;

  const std::string text = format_burn_alert(changes, fetched.updated_at);
  Courier courier(args.burn_token, args.burn_chat_id, options, args.settings, record);
  const TextDelivery sent = courier.send_text(text);
  for (std::size_t i = 0; i < sent.messages_delivered; ++i) record.count_alert_sent();
  if (sent.outcome.delivered()) {
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
                          const FetchedRows& fetched, const ChangeList& changes) {
  PendingFile file(pending_file_path(args.state_path, options), options.dry_run);
  PendingAlerts pending = file.load();
  const std::string chat = chat_for_pass(pending, args.burn_chat_id);
  merge_changes(pending, changes, current);
  file.store(pending);
  baseline.replace(current, fetched.updated_at);
  record.count_state_saved();
  drop_settled(pending, args.threshold, change_rules(options));
  file.store(pending);
  record.set_pending(pending.alerts.size());
  if (pending.alerts.empty()) return 0;

  Courier courier(args.burn_token, chat, options, args.settings, record);
  courier.on_migrated = [&](const std::string& from, const std::string& to) {
    pending.chat_migrations.set(from, to);
    file.store(pending);
  };
  return deliver_pending_alerts(pending, file, courier, fetched.updated_at, record, options);
}

int watch_cycle(const WatchOnceArgs& args, const WatchOptions& options, PassRecord& record) {
  std::optional<FetchedRows> fetched = fetch_subnet_rows("fetch failed: ", args.settings, options);
  if (!fetched) {
    record.set_problem("fetch failed");
    return 1;
  }
  const BurnMap current = build_burn_map(fetched->rows);
  record.set_burns(current);
  Baseline baseline(args.state_path, options);
  // A first pass (no or empty state) only sets the baseline.
  const ChangeList changes =
      baseline.burns().empty()
          ? ChangeList{}
          : burns::diff_burns(baseline.burns(), current, args.threshold, change_rules(options));
  if (options.redeliver)
    return alert_until_delivered(args, options, record, baseline, current, *fetched, changes);
  return alert_once(args, options, record, baseline, current, *fetched, changes);
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
