// One pass of the watch: fetch, compare with the stored map, store, alert.
#include <string>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/burn_map.hpp"
#include "corvane_burn_watch/driver/driver.hpp"
#include "corvane_burn_watch/driver/fetch_rows.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {

int run_burn_watch_once(const WatchOnceArgs& args) {
  // Refused before the fetch: found only at the send, after the save, the
  // changes would be lost.
  require_sendable_credentials(args.burn_token, args.burn_chat_id);
  std::optional<driver::FetchedRows> fetched =
      driver::fetch_subnet_rows("fetch failed: ", args.settings);
  if (!fetched) return 1;

  const BurnMap current = driver::build_burn_map(fetched->rows);
  const BurnMap prev = load_burn_state(args.state_path);
  // A first pass (no or empty state) only sets the baseline.
  const ChangeList changes =
      prev.empty() ? ChangeList{} : diff_burns(prev, current, args.threshold);

  // Saved before anything is sent, so a change whose alert fails to arrive is
  // not reported a second time.
  save_burn_state(args.state_path, current, fetched->updated_at);
  if (changes.empty()) return 0;

  const std::string text = format_burn_alert(changes, fetched->updated_at);
  const DeliveryResult sent =
      send_burn_telegram_messages(text, args.burn_token, args.burn_chat_id, args.settings);
  if (sent.ok) {
    host::log(host::LogLevel::info,
              "alert sent (" + std::to_string(changes.size()) + " subnet(s))");
    return 0;
  }
  host::log(host::LogLevel::error, "telegram failed: " + sent.detail);
  return 1;
}

}  // namespace corvane_burn_watch
