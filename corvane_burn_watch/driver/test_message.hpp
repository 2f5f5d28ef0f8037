#pragma once
// One message to the chat the way alerts go, for an operator trying the
// settings before going live: the forum topic, Telegram's rate limit and a
// group that became a supergroup are handled as for an alert, and a move that
// the pending alerts file remembers is followed too. Nothing is written: a
// watch may be running and hold the state.
#include <optional>
#include <string>

#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {

struct TestMessageArgs {
  std::string state_path;  // finds the pending alerts file (options.pending_path overrides)
  std::string burn_token;
  std::string burn_chat_id;
  std::string text;
  std::optional<Settings> settings;
};

// Sends `args.text` (in numbered parts when it is long): {true, ""} when all
// of it was delivered (or, in a dry run, printed), else {false, why}.
DeliveryResult send_burn_test_message(const TestMessageArgs& args,
                                      const WatchOptions& options = {});

}  // namespace corvane_burn_watch
