#pragma once
// Sending the pending alerts of a pass, and taking each subnet out of the
// pending file as soon as the message that carries it is delivered.
#include <functional>
#include <span>
#include <string>

#include "corvane_burn_watch/driver/courier.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"

namespace corvane_burn_watch::driver {

// The chat a pass sends to: the configured one, or where Telegram moved it,
// with a warning line asking the operator to set the new id.
std::string chat_for_pass(PendingAlerts& pending, const std::string& configured);

// Sends `pending`'s alerts in the alert layout, one line per subnet in
// ascending order of id, and writes the log line. Returns the pass's result:
// 0 when every line was delivered, else 1, or 2 when Telegram refused the bot
// or the chat. `pending` and its file keep what was not delivered.
// `on_told`, if given, hears of the lines of each message that reached the
// chat.
int deliver_pending_alerts(PendingAlerts& pending, PendingFile& file, Courier& courier,
                           const std::string& updated_at, PassRecord& record,
                           const WatchOptions& options,
                           const std::function<void(std::span<const PendingAlert>)>& on_told = {});

}  // namespace corvane_burn_watch::driver
