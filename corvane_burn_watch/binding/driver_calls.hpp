#pragma once
// The driver operations as Python calls them: every argument by name, the
// settings and the options optional (None: the environment on every call,
// and the plain behaviour).
#include <optional>
#include <string>

#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::binding {

int watch_once(std::string state_path, double threshold, std::string burn_token,
               std::string burn_chat_id, std::optional<Settings> settings,
               std::optional<WatchOptions> options);

int startup_snapshot(std::string state_path, std::string burn_token, std::string burn_chat_id,
                     std::optional<Settings> settings, std::optional<WatchOptions> options);

void poll_loop(std::string state_path, double threshold, double interval_minutes,
               std::string burn_token, std::string burn_chat_id, std::string pause_path,
               std::optional<Settings> settings, std::optional<WatchOptions> options);

DeliveryResult test_message(std::string state_path, std::string burn_token,
                            std::string burn_chat_id, std::string text,
                            std::optional<Settings> settings, std::optional<WatchOptions> options);

}  // namespace corvane_burn_watch::binding
