// Splitting a long message text into chunks that each repeat its header.
//
// The header, separator and body lines are those of chunk_layout.hpp. Every
// chunk is the header lines, an empty line in place of the separator and
// whole body lines, filled greedily: a chunk closes only when the next line
// would take it past the limit, and a chunk always takes at least one line.
// Lines are never cut here, so a chunk of one long line, or a header-only
// text over the limit, is longer than the limit; the delivery cuts what
// Telegram would refuse (message_fit.hpp).
#include <climits>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/chunk_layout.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

long long code_points(std::string_view text) {
  return static_cast<long long>(utf8::length(text));
}

}  // namespace

std::vector<std::string> chunk_text(std::string_view text, long long max_len) {
  if (code_points(text) <= max_len) return {std::string(text)};

  const std::vector<std::string_view> lines = telegram::split_lines(text);
  const telegram::ChunkLayout layout = telegram::layout_of(lines);

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
