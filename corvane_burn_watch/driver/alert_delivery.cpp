#include "corvane_burn_watch/driver/alert_delivery.hpp"

#include <algorithm>
#include <vector>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/telegram/alert_parts.hpp"
#include "corvane_burn_watch/telegram/message_fit.hpp"

namespace corvane_burn_watch::driver {

namespace {

using Alerts = std::vector<PendingAlert>::iterator;

// Most values a subnet's alert keeps of lines whose fate is unknown. Past it
// they give way to one that never settles: the line is sent until it arrives.
constexpr std::size_t kMaybeToldKept = 8;
constexpr std::string_view kNeverSettles = "(unknown)";

// Notes, before a message goes out, that the chat may get its lines' values.
// Returns which of the `count` alerts got a new note.
std::vector<bool> mark_sending(Alerts first, std::size_t count) {
  std::vector<bool> marked(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    std::vector<std::string>& maybe = first[static_cast<std::ptrdiff_t>(i)].maybe_told;
    const std::string& latest = first[static_cast<std::ptrdiff_t>(i)].latest;
    if (std::find(maybe.begin(), maybe.end(), latest) != maybe.end() ||
        std::find(maybe.begin(), maybe.end(), kNeverSettles) != maybe.end())
      continue;
    if (maybe.size() >= kMaybeToldKept) {
      maybe = {std::string(kNeverSettles)};
      continue;
    }
    maybe.push_back(latest);
    marked[i] = true;
  }
  return marked;
}

void unmark(Alerts first, std::size_t count, const std::vector<bool>& marked) {
  for (std::size_t i = 0; i < count; ++i)
    if (marked[i]) first[static_cast<std::ptrdiff_t>(i)].maybe_told.pop_back();
}

}  // namespace

std::string chat_for_pass(PendingAlerts& pending, const std::string& configured) {
  std::string chat = chat_after_migrations(pending, configured);
  if (chat != configured)
    host::log(host::LogLevel::warning, "sending to chat " + chat + ", where Telegram moved chat " +
                                           configured + "; set BURN_TELEGRAM_CHAT_ID=" + chat);
  return chat;
}

int deliver_pending_alerts(PendingAlerts& pending, PendingFile& file, Courier& courier,
                           const std::string& updated_at, PassRecord& record,
                           const WatchOptions& options,
                           const std::function<void(std::span<const PendingAlert>)>& on_told) {
  const std::vector<telegram::AlertPart> parts =
      telegram::alert_parts(pending_changes(pending), updated_at);
  const std::size_t subnets = pending.alerts.size();
  std::size_t done = 0;  // subnets whose lines have reached the chat
  telegram::SendOutcome failed;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) host::sleep_for(telegram::PAUSE_BETWEEN_MESSAGES);
    // The delivered alerts are gone: this message's lines start the list.
    const Alerts carried = pending.alerts.begin();
    const std::size_t count = parts[i].carries_until - done;
    const std::vector<bool> marked = mark_sending(carried, count);
    file.store(pending);  // before the message can reach the chat
    failed = courier.send(telegram::numbered_message(parts[i].text, i + 1, parts.size()));
    if (!failed.delivered()) {
      // An answer says the message was not taken; without one it may have been.
      if (!failed.maybe_delivered) {
        unmark(carried, count, marked);
        file.store(pending);
      }
      break;
    }
    record.count_alert_sent();
    if (parts[i].changes_done > done) {
      const std::size_t reached = parts[i].changes_done - done;
      if (on_told) on_told(std::span<const PendingAlert>(pending.alerts.data(), reached));
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
