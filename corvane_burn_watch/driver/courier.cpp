#include "corvane_burn_watch/driver/courier.hpp"

#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/telegram/message_fit.hpp"

namespace corvane_burn_watch::driver {
namespace {

using telegram::SendOutcome;
using telegram::SendStatus;

// How many times one message may follow a moved chat.
constexpr int kMigrationsPerMessage = 3;
// How many times one pass sends one message, whatever Telegram asks: a server
// that answers every send with 429 and retry_after 0 must not hold a pass.
constexpr int kSendsPerMessage = 5;
// The least a rate-limit wait counts against the pass's budget (and lasts).
constexpr double kShortestRateLimitWait = 1.0;

// What a message in a dry run looks like on standard output: the message,
// then a line of its own that ends it.
constexpr std::string_view kDryRunSeparator = "\n----\n";
constexpr std::string_view kDryRunSilentSeparator = "\n---- (silent)\n";

std::string seconds_text(double seconds) {
  std::ostringstream out;
  out << seconds;
  return out.str();
}

// What the operator has to fix when Telegram refuses the bot or the chat.
std::string advice(const SendOutcome& outcome) {
  switch (outcome.error_code) {
    case 401:
    case 404:
      return "the bot token is not valid: check BURN_TELEGRAM_TOKEN";
    case 403:
      return "the bot may not post in this chat (blocked, or removed from the group): add it "
             "again or check BURN_TELEGRAM_CHAT_ID";
    default:
      return "check BURN_TELEGRAM_CHAT_ID, and that the bot is a member of that chat";
  }
}

}  // namespace

Courier::Courier(std::string token, std::string chat_id, const WatchOptions& options,
                 const std::optional<Settings>& settings, PassRecord& record)
    : token_(std::move(token)),
      chat_id_(std::move(chat_id)),
      options_(options),
      settings_(settings),
      record_(record),
      rate_limit_budget_(options.max_retry_after_seconds) {}

SendOutcome Courier::attempt(std::string_view text, bool quiet) {
  const telegram::MessageOptions message{options_.message_thread_id, quiet,
                                         options_.request_deadline_seconds,
                                         options_.strict_telegram_ok};
  if (!options_.redeliver)
    return telegram::send_message(text, token_, chat_id_, message, settings_);
  try {
    return telegram::send_message(text, token_, chat_id_, message, settings_);
  } catch (const ValueError& e) {
    // An answer that is no reply at all (a proxy's page, a cut body): the
    // message stays pending as after any other server trouble.
    SendOutcome garbled;
    garbled.status = SendStatus::server_error;
    garbled.detail = http::redact(e.what(), http::token_secrets(token_));
    return garbled;
  }
}

SendOutcome Courier::send(std::string_view text, bool quiet) {
  // Nothing is held back in quiet hours: the message only makes no sound.
  quiet = quiet || (quiet_hours && quiet_hours->contains(record_.clock_reading()));
  if (options_.dry_run) {
    host::write_output(std::string(text) +
                       std::string(quiet ? kDryRunSilentSeparator : kDryRunSeparator));
    return {};
  }
  for (int migrations = 0, sends = 1;; ++sends) {
    SendOutcome outcome = attempt(text, quiet);
    if (outcome.delivered()) return outcome;
    record_.count_failure(telegram::failure_reason(outcome.status));
    if (!options_.redeliver || sends >= kSendsPerMessage) return outcome;
    const double wait =
        outcome.retry_after ? std::max(*outcome.retry_after, kShortestRateLimitWait) : 0;
    if (outcome.status == SendStatus::rate_limited && outcome.retry_after &&
        wait <= rate_limit_budget_) {
      host::log(host::LogLevel::info, "telegram asked to wait " +
                                          seconds_text(*outcome.retry_after) +
                                          " s (rate limited): waiting, then sending again");
      rate_limit_budget_ -= wait;
      host::sleep_for(wait);
      continue;
    }
    if (outcome.status == SendStatus::migrated && !outcome.migrate_to_chat_id.empty() &&
        outcome.migrate_to_chat_id != chat_id_ && migrations++ < kMigrationsPerMessage) {
      const std::string from = std::exchange(chat_id_, outcome.migrate_to_chat_id);
      host::log(host::LogLevel::warning,
                "Telegram moved chat " + from + " to " + chat_id_ +
                    " (the group became a supergroup): sending there from now on; set "
                    "BURN_TELEGRAM_CHAT_ID=" +
                    chat_id_);
      if (on_migrated) on_migrated(from, chat_id_);
      continue;
    }
    return outcome;
  }
}

TextDelivery Courier::send_text(std::string_view text, bool quiet) {
  const std::vector<std::string> messages = telegram::text_messages(text);
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (i > 0) host::sleep_for(telegram::PAUSE_BETWEEN_MESSAGES);
    SendOutcome outcome = send(messages[i], quiet);
    if (!outcome.delivered()) return {std::move(outcome), i};
  }
  return {{}, messages.size()};
}

DeliveryFailure delivery_failure(std::string_view what, const SendOutcome& outcome,
                                 const WatchOptions& options, std::string_view after) {
  const std::string tail(after);
  if (!options.redeliver)
    return {host::LogLevel::error, std::string(what) + ": " + outcome.detail + tail, 1};
  switch (outcome.status) {
    case SendStatus::refused:
      return {host::LogLevel::error,
              std::string(what) + ": Telegram refused: " + outcome.detail + " (" + advice(outcome) +
                  ")" + tail,
              2};
    case SendStatus::not_configured:
      return {host::LogLevel::error, std::string(what) + ": " + outcome.detail + tail, 2};
    case SendStatus::rate_limited:
      if (outcome.retry_after)
        return {host::LogLevel::warning,
                std::string(what) + ": Telegram asked to wait " +
                    seconds_text(*outcome.retry_after) + " s (rate limited); a pass waits " +
                    seconds_text(options.max_retry_after_seconds) +
                    " s in all and sends a message at most " + std::to_string(kSendsPerMessage) +
                    " times" + tail,
                1};
      break;
    default:
      break;
  }
  return {host::LogLevel::error, std::string(what) + ": " + outcome.detail + tail, 1};
}

}  // namespace corvane_burn_watch::driver
