#pragma once
// The watch driver: one watch cycle, the startup snapshot, and the poll loop
// with its pause file and interval sleep. The only caller of the data client,
// the burn values and state, and the Telegram reporting.
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/driver/cycle_report.hpp"
#include "corvane_burn_watch/driver/state_lock.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"

namespace corvane_burn_watch {

// The arguments of each driver operation. `settings` left empty: the
// environment is read on every call, as the data client and Telegram
// operations without settings do.
struct WatchOnceArgs {
  std::string state_path;
  double threshold = 0.0;
  std::string burn_token;
  std::string burn_chat_id;
  std::optional<Settings> settings;
};
struct StartupSnapshotArgs {
  std::string state_path;
  std::string burn_token;
  std::string burn_chat_id;
  std::optional<Settings> settings;
};
struct PollLoopArgs {
  std::string state_path;
  double threshold = 0.0;
  double interval_minutes = 0.0;
  std::string burn_token;
  std::string burn_chat_id;
  std::string pause_path;  // empty: pausing switched off
  std::optional<Settings> settings;
};

// Each operation takes the watch options of a long-running watch; left at
// their defaults, they change nothing. Every pass ends with a report to the
// cycle observer (cycle_report.hpp), if one is installed. Each operation
// throws ValueError, before any request, when the bot token or the chat id
// holds a control character (require_sendable_credentials).

// One watch cycle: 0 when it completed and any alert was delivered, else 1.
// With options.redeliver, 2 when Telegram refused the bot or the chat (or no
// token or chat id is set): restarting cannot help.
int run_burn_watch_once(const WatchOnceArgs& args, const WatchOptions& options = {});
// Fetch all subnets and send full burn-rate snapshot to burn Telegram. The
// result codes are those of run_burn_watch_once; with options.redeliver it
// first alerts what changed since the state file was saved.
int run_burn_startup_snapshot(const StartupSnapshotArgs& args, const WatchOptions& options = {});
// Runs a watch cycle every interval until the pause file appears.
void run_burn_poll_loop(const PollLoopArgs& args, const WatchOptions& options = {});
// Whether `pause_path` names an existing regular file (`_burn_is_paused`).
bool burn_is_paused(std::string_view pause_path);
// Sleep in 1s steps. Returns false if paused before interval elapsed
// (`_sleep_until_interval`).
bool sleep_until_interval(double interval_seconds, std::string_view pause_path);

}  // namespace corvane_burn_watch
