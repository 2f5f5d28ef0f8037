#include "corvane_burn_watch/driver/alert_delivery.hpp"

#include <vector>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/telegram/alert_parts.hpp"

namespace corvane_burn_watch::driver {

std::string chat_for_pass(PendingAlerts& pending, const std::string& configured) {
  std::string chat = chat_after_migrations(pending, configured);
  if (chat != configured)
    host::log(host::LogLevel::warning, "sending to chat " + chat + ", where Telegram moved chat " +
                                           configured + "; set BURN_TELEGRAM_CHAT_ID=" + chat);
  return chat;
}

int deliver_pending_alerts(PendingAlerts& pending, PendingFile& file, Courier& courier,
                           const std::string& updated_at, PassRecord& record,
                           const WatchOptions& options) {
  const std::vector<telegram::AlertPart> parts =
      telegram::alert_parts(pending_changes(pending), updated_at);
  const std::size_t subnets = pending.alerts.size();
  std::size_t done = 0;  // subnets whose lines have reached the chat
  telegram::SendOutcome failed;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) host::sleep_for(telegram::PAUSE_BETWEEN_MESSAGES);
    failed = courier.send(telegram::numbered_message(parts[i].text, i + 1, parts.size()));
    if (!failed.delivered()) break;
    record.count_alert_sent();
    if (parts[i].changes_done > done) {
      // Out of the file at once: a later retry must not repeat these lines.
      pending.alerts.erase(
          pending.alerts.begin(),
          pending.alerts.begin() + static_cast<std::ptrdiff_t>(parts[i].changes_done - done));
      done = parts[i].changes_done;
      file.store(pending);
    }
  }
  record.set_pending(pending.alerts.size());
  const std::string sent = "alert sent (" + std::to_string(done) + " subnet(s))";
  if (done == subnets) {
    host::log(host::LogLevel::info, options.dry_run ? sent + " [dry run]" : sent);
    return 0;
  }
  if (done > 0) host::log(host::LogLevel::info, sent);
  const DeliveryFailure failure = delivery_failure(
      "telegram failed", failed, options,
      "; " + std::to_string(subnets - done) + " subnet(s) stay pending for the next cycle");
  host::log(failure.level, failure.line);
  record.set_problem("telegram: " + std::string(telegram::failure_reason(failed.status)));
  return failure.result;
}

}  // namespace corvane_burn_watch::driver
