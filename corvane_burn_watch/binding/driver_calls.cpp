#include "corvane_burn_watch/binding/driver_calls.hpp"

#include <utility>

namespace corvane_burn_watch::binding {

int watch_once(std::string state_path, double threshold, std::string burn_token,
               std::string burn_chat_id, std::optional<Settings> settings,
               std::optional<WatchOptions> options) {
  return run_burn_watch_once({.state_path = std::move(state_path),
                              .threshold = threshold,
                              .burn_token = std::move(burn_token),
                              .burn_chat_id = std::move(burn_chat_id),
                              .settings = std::move(settings)},
                             options.value_or(WatchOptions{}));
}

int startup_snapshot(std::string state_path, std::string burn_token, std::string burn_chat_id,
                     std::optional<Settings> settings, std::optional<WatchOptions> options) {
  return run_burn_startup_snapshot({.state_path = std::move(state_path),
                                    .burn_token = std::move(burn_token),
                                    .burn_chat_id = std::move(burn_chat_id),
                                    .settings = std::move(settings)},
                                   options.value_or(WatchOptions{}));
}

void poll_loop(std::string state_path, double threshold, double interval_minutes,
               std::string burn_token, std::string burn_chat_id, std::string pause_path,
               std::optional<Settings> settings, std::optional<WatchOptions> options) {
  run_burn_poll_loop({.state_path = std::move(state_path),
                      .threshold = threshold,
                      .interval_minutes = interval_minutes,
                      .burn_token = std::move(burn_token),
                      .burn_chat_id = std::move(burn_chat_id),
                      .pause_path = std::move(pause_path),
                      .settings = std::move(settings)},
                     options.value_or(WatchOptions{}));
}

DeliveryResult test_message(std::string state_path, std::string burn_token,
                            std::string burn_chat_id, std::string text,
                            std::optional<Settings> settings, std::optional<WatchOptions> options) {
  return send_burn_test_message({.state_path = std::move(state_path),
                                 .burn_token = std::move(burn_token),
                                 .burn_chat_id = std::move(burn_chat_id),
                                 .text = std::move(text),
                                 .settings = std::move(settings)},
                                options.value_or(WatchOptions{}));
}

}  // namespace corvane_burn_watch::binding
