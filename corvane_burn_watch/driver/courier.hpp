#pragma once
// Getting messages to the chat within one pass: sent, or written to standard
// output in a dry run; with redelivery, following Telegram's rules (wait out a
// rate limit, follow a chat that moved). Every failed attempt is counted in
// the pass's report.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"
#include "corvane_burn_watch/telegram/send_message.hpp"

namespace corvane_burn_watch::driver {

struct TextDelivery {
  telegram::SendOutcome outcome;   // delivered, or the first failure
  std::size_t messages_delivered;  // before that failure
};

class Courier {
 public:
  Courier(std::string token, std::string chat_id, const WatchOptions& options,
          const std::optional<Settings>& settings, PassRecord& record);

  // Sends one message; `quiet` sends it without a notification sound, and so
  // does a message sent inside `quiet_hours`. In a dry run a silent message
  // ends with the line "---- (silent)" instead of "----".
  telegram::SendOutcome send(std::string_view text, bool quiet = false);
  // Sends a whole text as send_burn_telegram_messages does: its chunks,
  // numbered when more than one and cut where Telegram would refuse one
  // (message_fit.hpp), 0.4 s apart, stopping at the first failure.
  TextDelivery send_text(std::string_view text, bool quiet = false);

  const std::string& chat_id() const { return chat_id_; }
  // Called when Telegram moved the chat, before the message goes to the new one.
  std::function<void(const std::string& from, const std::string& to)> on_migrated;
  // The pass's quiet hours, if any.
  std::optional<QuietHours> quiet_hours;

 private:
  telegram::SendOutcome attempt(std::string_view text, bool quiet);

  std::string token_;
  std::string chat_id_;
  const WatchOptions& options_;
  const std::optional<Settings>& settings_;
  PassRecord& record_;
  double rate_limit_budget_;  // seconds this pass may still wait for Telegram
};

// How a failed delivery ends the pass: its log line and result code.
struct DeliveryFailure {
  host::LogLevel level;
  std::string line;
  int result;  // 1, or 2 with redelivery when restarting cannot help
};
// `what` names the delivery ("telegram failed", "startup telegram failed");
// `after` is added to the line ("; 3 subnet(s) stay pending ...").
DeliveryFailure delivery_failure(std::string_view what, const telegram::SendOutcome& outcome,
                                 const WatchOptions& options, std::string_view after = "");

}  // namespace corvane_burn_watch::driver
