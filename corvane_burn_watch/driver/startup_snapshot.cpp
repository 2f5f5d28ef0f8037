// The start-up pass: store every subnet's burn as the new baseline and post
// the full table.
#include <string>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/burn_map.hpp"
#include "corvane_burn_watch/driver/driver.hpp"
#include "corvane_burn_watch/driver/fetch_rows.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {

int run_burn_startup_snapshot(const StartupSnapshotArgs& args) {
  require_sendable_credentials(args.burn_token, args.burn_chat_id);  // before the fetch
  std::optional<driver::FetchedRows> fetched =
      driver::fetch_subnet_rows("startup fetch failed: ", args.settings);
  if (!fetched) return 1;

  // The baseline replaces whatever the file held; nothing is compared.
  save_burn_state(args.state_path, driver::build_burn_map(fetched->rows), fetched->updated_at);

  // The table shows every row, those without a "netuid" included.
  const std::string text = format_burn_snapshot(fetched->rows, fetched->updated_at);
  const DeliveryResult sent =
      send_burn_telegram_messages(text, args.burn_token, args.burn_chat_id, args.settings);
  if (sent.ok) {
    host::log(host::LogLevel::info,
              "startup snapshot sent (" + std::to_string(fetched->rows.size()) + " subnets)");
    return 0;
  }
  host::log(host::LogLevel::error, "startup telegram failed: " + sent.detail);
  return 1;
}

}  // namespace corvane_burn_watch
