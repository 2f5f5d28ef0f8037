// The start-up pass: store every subnet's burn as the new baseline and post
// the full table; for a long-running watch, first alert what changed while it
// was stopped.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
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

// The rows the startup table shows: all of them, or those the rules show.
SubnetRows shown_rows(const SubnetRows& rows, const PassRules& rules) {
  SubnetRows shown;
  for (const SubnetRow& row : rows)
    if (row.netuid && rules.shown(python_text::plain_text(*row.netuid))) shown.push_back(row);
  return shown;
}

int startup_snapshot(const StartupSnapshotArgs& args, const WatchOptions& options,
                     PassRecord& record) {
  const PassRules rules(options, args.state_path, options.startup_threshold, record);
  std::optional<FetchedRows> fetched =
      fetch_watched_rows("startup fetch failed: ", record.updated_at(), args.settings, options);
  if (!fetched) {
    record.set_problem("fetch failed");
    return 1;
  }
  const BurnMap current = build_burn_map(fetched->rows);
  record.set_burns(current);

  int result = 0;
  std::string chat = args.burn_chat_id;
  std::optional<PendingFile> file;
  std::optional<ToldFile> told;
  PendingAlerts pending;
  if (!options.redeliver && !options.keep_corrupt_state && options.keep_absent_days <= 0 &&
      !rules.drift()) {
    // The baseline replaces whatever the file held; nothing is read or compared.
    if (!options.dry_run) save_burn_state(args.state_path, current, fetched->updated_at);
    record.count_state_saved();
  } else {
    Baseline baseline(args.state_path, options);
    if (rules.drift())
      told.emplace(told_file_path(args.state_path, rules.rules()), options.dry_run);
    const BurnMap base = told ? told->base(baseline.burns()) : BurnMap{};
    const BurnMap& from = told ? base : baseline.burns();
    if (options.redeliver) {
      // What changed while the watch was stopped goes out as an alert, and
      // becomes pending before the new baseline moves past it.
      const ChangeList changes =
          baseline.burns().empty() ? ChangeList{} : rules.changes(from, current, record);
      file.emplace(pending_file_path(args.state_path, options), options.dry_run);
      pending = file->load(fetched->updated_at);
      chat = chat_for_pass(pending, args.burn_chat_id);
      merge_changes(pending, changes, current);
      drop_suppressed(pending, rules);
      file->store(pending);
    }
    if (told) {
      told->follow(from, current, rules);
      told->store();
    }
    baseline.replace(current, fetched->updated_at);
    record.count_state_saved();
    if (file) {
      drop_settled(
          pending, [&](std::string_view id) { return rules.threshold_for(id); },
          change_rules(options));
      file->store(pending);
      record.set_pending(pending.alerts.size());
    }
  }

  Courier courier(args.burn_token, chat, options, args.settings, record);
  courier.quiet_hours = rules.rules().quiet_hours;
  if (file) {
    courier.on_migrated = [&](const std::string& from, const std::string& to) {
      pending.chat_migrations.set(from, to);
      file->store(pending);
    };
    if (!pending.alerts.empty())
      result = deliver_pending_alerts(pending, *file, courier, fetched->updated_at, record, options,
                                      told_recorder(told ? &*told : nullptr));
    if (result == 2) return result;  // the table would be refused as well
  }
  if (!options.startup_table) return result;

  // The table shows every row, those without a "netuid" included (unless the
  // options leave out rows whose id is no whole number, or the rules narrow
  // the subnets shown).
  std::optional<SubnetRows> narrowed;
  if (rules.filters()) narrowed = shown_rows(fetched->rows, rules);
  const SubnetRows& rows = narrowed ? *narrowed : fetched->rows;
  const std::string text = format_burn_snapshot(rows, fetched->updated_at);
  const TextDelivery sent = courier.send_text(text, options.quiet_startup_table);
  if (sent.outcome.delivered()) {
    if (told) {
      // The chat now knows every rate it was shown: the current ones of the
      // subnets in the table.
      std::unordered_set<std::string> shown;
      for (const SubnetRow& row : rows)
        if (row.netuid) shown.insert(python_text::plain_text(*row.netuid));
      std::vector<std::pair<std::string, std::string>> values;
      for (const json::Member& member : current)
        if (member.value.is_text() && shown.contains(member.key))
          values.emplace_back(member.key, *member.value.as_text());
      told->told(values);
      told->store();
    }
    const std::string line = "startup snapshot sent (" + std::to_string(rows.size()) + " subnets)";
    host::log(host::LogLevel::info, options.dry_run ? line + " [dry run]" : line);
    return result;
  }
  const DeliveryFailure failure =
      delivery_failure("startup telegram failed", sent.outcome, options);
  host::log(failure.level, failure.line);
  record.set_problem("telegram: " + std::string(telegram::failure_reason(sent.outcome.status)));
  return std::max(result, failure.result);
}

}  // namespace
}  // namespace driver

int run_burn_startup_snapshot(const StartupSnapshotArgs& args, const WatchOptions& options) {
  require_sendable_credentials(args.burn_token, args.burn_chat_id);  // before the fetch
  const host::OneLineLogs one_line(options.one_line_logs);
  return driver::observed_pass("startup", [&](driver::PassRecord& record) {
    return driver::startup_snapshot(args, options, record);
  });
}

}  // namespace corvane_burn_watch
