#pragma once
// An alert split into messages while keeping track of which changes each
// message carries, so that a caller can tell which changes have reached the
// chat once some messages are delivered and others are not.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch::telegram {

struct AlertPart {
  std::string text;  // one chunk of the alert text, not yet numbered
  // Once this part and all before it are delivered, the changes
  // [0, changes_done) of the list have reached the chat in full.
  std::size_t changes_done = 0;
  // This part carries lines, or a piece of a line, of the changes from the
  // previous part's changes_done up to this index.
  std::size_t carries_until = 0;
};

// The messages, not yet numbered, that send_burn_telegram_messages would send
// of format_burn_alert(changes, updated_at) (chunks of `max_len`, fitted to
// Telegram as fit_chunks fits them), in order, each with the changes it
// completes.
std::vector<AlertPart> alert_parts(const ChangeList& changes, std::string_view updated_at,
                                   long long max_len = DEFAULT_CHUNK_LENGTH);

// One change line of the alert text: "SN7: 0.1000 → 0.2500".
std::string alert_change_line(const ChangeTriple& change);

}  // namespace corvane_burn_watch::telegram
