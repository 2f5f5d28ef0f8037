#pragma once
// One sendMessage request with everything a long-running watch needs to know
// about its outcome, beyond the (ok, detail) pair of send_burn_telegram: why
// it failed, and what Telegram asked for (a wait, another chat).
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch::telegram {

// Extra fields of a message; left empty, the request carries exactly chat_id,
// text and disable_web_page_preview.
struct MessageOptions {
  std::string thread_id;              // message_thread_id: the forum topic
  bool disable_notification = false;  // delivered without a sound
  double deadline_seconds = 0;        // bound on the whole request; 0: none
  // Only a boolean true in "ok" delivers ({"ok": "false"} does not); off:
  // any true value does, as send_burn_telegram reads it.
  bool ok_must_be_true = false;
};

enum class SendStatus {
  delivered,
  not_configured,  // empty token or chat id: nothing was sent
  rate_limited,    // 429
  server_error,    // 5xx, or another status that is no answer to the message
  network,         // no answer: connection, TLS, time-out
  migrated,        // 400: the group became a supergroup with another id
  refused,         // the bot or the chat is refused for good: 401, 403, 404,
                   // 400 chat not found
  rejected,        // this message refused: another 4xx, or "ok" not true
};

struct SendOutcome {
  SendStatus status = SendStatus::delivered;
  long error_code = 0;                // HTTP status of an error answer
  std::optional<double> retry_after;  // 429: seconds Telegram asks to wait
  std::string migrate_to_chat_id;     // migrated: the chat's new id
  std::string detail;                 // the delivery result's detail text
  // A failure after which the message may still have reached the chat: the
  // request may have been sent, and no answer came.
  bool maybe_delivered = false;

  bool delivered() const { return status == SendStatus::delivered; }
  DeliveryResult result() const { return {delivered(), delivered() ? "" : detail}; }
};

// The outcome an answer stands for, given the delivery result read from it
// (read_send_reply). Reads "parameters" of an error body that is a JSON
// object; never throws.
SendOutcome classify_send_reply(const http::Response& response, DeliveryResult read);

// The name a failed attempt is counted under: "rate_limited", "server_error",
// "network", "refused" (refused, rejected and migrated) or "not_configured".
std::string_view failure_reason(SendStatus status);

// Posts one message. Throws only where send_burn_telegram does (an answer
// that is not UTF-8 or not a JSON object).
SendOutcome send_message(std::string_view text, std::string_view token, std::string_view chat_id,
                         const MessageOptions& options, const std::optional<Settings>& settings);

// The pause between two messages of one text, in seconds.
inline constexpr double PAUSE_BETWEEN_MESSAGES = 0.4;

}  // namespace corvane_burn_watch::telegram
