#pragma once
// How a message text divides into header, separator and body lines: shared by
// the splitting into chunks and by the delivery, which may cut a chunk that
// Telegram would refuse.
#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace corvane_burn_watch::telegram {

// The text split at every line feed; only the line feed splits, so a carriage
// return stays part of its line.
inline std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

// A text has one of two layouts, told apart by its lines:
// - snapshot: three header lines, then the empty separator as the fourth line,
//   then the body. This is also the rule for any text that is not an alert.
// - alert: two header lines, the empty separator as the third line, then the
//   change lines from the fourth line on. A text is taken as an alert when its
//   third line is empty and its fourth line is not: a separator is always
//   empty, so a non-empty fourth line there is content, and splitting it as a
//   snapshot would drop that line and double the empty line in every chunk.
struct ChunkLayout {
  std::size_t header_lines;  // lines repeated at the top of every chunk
  std::size_t body_start;    // index of the first body line; the one before is the separator
};

inline ChunkLayout layout_of(const std::vector<std::string_view>& lines) {
  const bool alert = lines.size() >= 4 && lines[2].empty() && !lines[3].empty();
  if (alert) return {2, 3};
  return {std::min<std::size_t>(3, lines.size()), 4};
}

}  // namespace corvane_burn_watch::telegram
