#include "corvane_burn_watch/driver/test_message.hpp"

#include "corvane_burn_watch/driver/alert_delivery.hpp"
#include "corvane_burn_watch/driver/courier.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"

namespace corvane_burn_watch {

DeliveryResult send_burn_test_message(const TestMessageArgs& args, const WatchOptions& options) {
  // Not a pass of the watch: the record is never finished, so no observer hears of it.
  driver::PassRecord record("test");
  // Read as a dry run reads it: the file is never written or set aside here.
  driver::PendingFile file(driver::pending_file_path(args.state_path, options), true);
  driver::PendingAlerts pending = file.load(record.updated_at());
  const std::string chat = driver::chat_for_pass(pending, args.burn_chat_id);
  driver::Courier courier(args.burn_token, chat, options, args.settings, record);
  return courier.send_text(args.text).outcome.result();
}

}  // namespace corvane_burn_watch
