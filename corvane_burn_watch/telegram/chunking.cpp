// Splitting a long message text into chunks that each repeat its header.
//
// A text has one of two layouts, told apart by its lines:
// - snapshot: three header lines, then the empty separator as the fourth line,
//   then the body. This is also the rule for any text that is not an alert.
// - alert: two header lines, the empty separator as the third line, then the
//   change lines from the fourth line on. A text is taken as an alert when its
//   third line is empty and its fourth line is not: a separator is always
//   empty, so a non-empty fourth line there is content, and splitting it as a
//   snapshot would drop that line and double the empty line in every chunk.
// Every chunk is the header lines, an empty line in place of the separator and
// whole body lines, filled greedily: a chunk closes only when the next line
// would take it past the limit, and a chunk always takes at least one line.
#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

// Only the line feed splits: a carriage return stays part of its line.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

struct Layout {
  std::size_t header_lines;  // lines repeated at the top of every chunk
  std::size_t body_start;    // index of the first body line; the one before is the separator
};

Layout layout_of(const std::vector<std::string_view>& lines) {
  bool alert = lines.size() >= 4 && lines[2].empty() && !lines[3].empty();
  if (alert) return {2, 3};
  return {std::min<std::size_t>(3, lines.size()), 4};
}

long long code_points(std::string_view text) {
  return static_cast<long long>(utf8::length(text));
}

}  // namespace

std::vector<std::string> chunk_text(std::string_view text, long long max_len) {
  if (code_points(text) <= max_len) return {std::string(text)};

  const std::vector<std::string_view> lines = split_lines(text);
  const Layout layout = layout_of(lines);

  std::string header;
  for (std::size_t i = 0; i < layout.header_lines; ++i) {
    if (i > 0) header += '\n';
    header.append(lines[i]);
  }
  if (lines.size() <= layout.body_start) return {header};

  // The header and the empty line in place of the separator; each body line
  // then follows after its own line feed.
  const std::string opening = header + '\n';
  const long long opening_length = code_points(opening);

  std::vector<std::string> chunks;
  std::string current = opening;
  long long current_length = opening_length;
  bool holds_body = false;
  for (std::size_t i = layout.body_start; i < lines.size(); ++i) {
    const long long line_length = code_points(lines[i]);
    if (holds_body && current_length + 1 + line_length > max_len) {
      chunks.push_back(std::move(current));
      current = opening;
      current_length = opening_length;
    }
    current += '\n';
    current.append(lines[i]);
    current_length += 1 + line_length;
    holds_body = true;
  }
  chunks.push_back(std::move(current));
  return chunks;
}

long long chunk_length(const ChunkLimit& max_len) {
  if (const double* fraction = std::get_if<double>(&max_len)) {
    if (std::isnan(*fraction)) throw ValueError("max_len cannot be NaN");
    if (*fraction >= 0x1p63) return LLONG_MAX;
    if (*fraction < -0x1p63) return LLONG_MIN;
    return static_cast<long long>(*fraction);  // cuts toward zero
  }
  const json::Integer& whole = std::get<json::Integer>(max_len);
  static const json::Integer kLargest = json::Integer::from(LLONG_MAX);
  static const json::Integer kSmallest = json::Integer::from(LLONG_MIN);
  if (numbers::compare_integers(whole, kLargest) > 0) return LLONG_MAX;
  if (numbers::compare_integers(whole, kSmallest) < 0) return LLONG_MIN;
  return std::stoll(whole.digits);
}

std::vector<std::string> chunk_text(std::string_view text, const ChunkLimit& max_len) {
  return chunk_text(text, chunk_length(max_len));
}

}  // namespace corvane_burn_watch
