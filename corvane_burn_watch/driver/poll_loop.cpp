// The main loop: one watch cycle per interval until the pause file appears.
#include <exception>
#include <string>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/driver.hpp"
#include "corvane_burn_watch/driver/poll_interval.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {

namespace {

constexpr char kPaused[] = "monitoring paused";

}  // namespace

void run_burn_poll_loop(const PollLoopArgs& args, const WatchOptions& options) {
  // Every cycle would fail on these: refused before the loop starts.
  require_sendable_credentials(args.burn_token, args.burn_chat_id);
  const host::OneLineLogs one_line(options.one_line_logs);
  const double interval = driver::poll_interval_seconds(args.interval_minutes);
  const WatchOnceArgs cycle{args.state_path, args.threshold, args.burn_token, args.burn_chat_id,
                            args.settings};

  // The first cycle comes one full interval after the start: the host's
  // startup snapshot has just set the baseline.
  if (!sleep_until_interval(interval, args.pause_path)) {
    host::log(host::LogLevel::info, kPaused);
    return;
  }
  for (;;) {
    if (burn_is_paused(args.pause_path)) {
      host::log(host::LogLevel::info, kPaused);
      return;
    }
    // A failing cycle must not end the watch. Interrupted is no std::exception,
    // so Ctrl-C and interpreter exit still go through; errors of the sleep and
    // the pause checks are outside this block and reach the host too.
    try {
      run_burn_watch_once(cycle, options);
    } catch (const std::exception& error) {
      host::log(host::LogLevel::error, std::string("error: ") + error.what());
    }
    if (!sleep_until_interval(interval, args.pause_path)) {
      host::log(host::LogLevel::info, kPaused);
      return;
    }
  }
}

}  // namespace corvane_burn_watch
