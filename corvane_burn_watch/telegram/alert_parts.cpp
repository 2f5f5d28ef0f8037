// Splitting an alert by its change lines, as chunk_text splits the whole text.
//
// The changes are grouped by the rule chunk_text applies to an alert's lines
// (fill greedily; close a chunk only when the next line would take it past the
// limit), so that each group's own alert text is exactly one of the chunks of
// the whole text. The groups' texts are then fitted to Telegram as the
// delivery fits chunks (message_fit.hpp): a line too long for one message is
// cut into pieces, and its change counts as delivered with the last of them.
#include "corvane_burn_watch/telegram/alert_parts.hpp"

#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/message_fit.hpp"

namespace corvane_burn_watch::telegram {

std::vector<AlertPart> alert_parts(const ChangeList& changes, std::string_view updated_at,
                                   long long max_len) {
  const auto length = [](std::string_view text) {
    return static_cast<long long>(utf8::length(text));
  };
  // The header, the empty line, then each change line after its own line feed.
  const long long opening = length(format_burn_alert({}, updated_at));

  std::vector<std::size_t> group_ends;  // one past the last change of each group
  long long current = opening;
  bool holds_change = false;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const long long line = length(alert_change_line(changes[i]));
    if (holds_change && current + 1 + line > max_len) {
      group_ends.push_back(i);
      current = opening;
    }
    current += 1 + line;
    holds_change = true;
  }
  group_ends.push_back(changes.size());

  std::vector<std::string> chunks;
  std::size_t first = 0;
  for (const std::size_t end : group_ends) {
    const ChangeList group(changes.begin() + static_cast<std::ptrdiff_t>(first),
                           changes.begin() + static_cast<std::ptrdiff_t>(end));
    chunks.push_back(format_burn_alert(group, updated_at));
    first = end;
  }

  std::vector<AlertPart> parts;
  std::vector<std::vector<std::string>> fitted = fit_chunks(chunks);
  first = 0;
  for (std::size_t g = 0; g < fitted.size(); ++g) {
    const std::size_t end = group_ends[g];
    std::vector<std::string>& pieces = fitted[g];
    for (std::size_t p = 0; p < pieces.size(); ++p)
      parts.push_back({std::move(pieces[p]), p + 1 == pieces.size() ? end : first, end});
    first = end;
  }
  return parts;
}

}  // namespace corvane_burn_watch::telegram
