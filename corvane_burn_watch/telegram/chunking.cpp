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
//
// No chunk is longer than the limit, so that Telegram takes every one:
// - a body line too long for a chunk of its own is cut, at code point
//   boundaries, into pieces that each fill one (the last piece may share its
//   chunk with the lines after it); texts whose lines fit are split exactly as
//   before;
// - a text without body lines (three lines or fewer, or four with the
//   separator) that is over the limit is sent in consecutive parts of at most
//   the limit, each cut at its last line feed where it has one (that line
//   feed then falls between two parts), else at the limit.
// When the header and the empty line after it leave no room for even one
// character of a body line (a limit that small, or one of 0 or below), no
// line is cut: as before, every chunk is the header, the empty line and one
// whole body line, longer than the limit. With a limit of 0 or below a text
// without body lines stays one chunk. No chunk that repeats the header could
// be shorter; this way the work always ends and no text is lost.
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

// `text` (longer than `max_len` >= 1 code points) in parts of at most
// `max_len`, each ending at the last line feed that lets it, where there is
// one (that line feed goes in no part), else cut at the limit.
std::vector<std::string> parts_of(std::string_view text, long long max_len) {
  std::vector<std::string> parts;
  while (code_points(text) > max_len) {
    std::string_view part = utf8::prefix(text, static_cast<std::size_t>(max_len));
    // The line feed right after the part, else the last one inside it (one at
    // its very start would leave the part empty).
    std::size_t line_feed = part.size();
    if (text[line_feed] != '\n') line_feed = part.rfind('\n');
    if (line_feed == 0 || line_feed == std::string_view::npos) {
      text.remove_prefix(part.size());
    } else {
      part = part.substr(0, line_feed);
      text.remove_prefix(line_feed + 1);
    }
    parts.emplace_back(part);
  }
  // A line feed that ended the last part ended the text too: no empty part,
  // which Telegram would refuse.
  if (!text.empty()) parts.emplace_back(text);
  return parts;
}

// Body lines as they go into chunks: a line longer than `room` (>= 1) code
// points is cut into pieces of `room` code points and a shorter last one.
std::vector<std::string_view> body_pieces(const std::vector<std::string_view>& lines,
                                          std::size_t first, long long room) {
  std::vector<std::string_view> pieces;
  for (std::size_t i = first; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    while (room >= 1 && code_points(line) > room) {
      const std::string_view piece = utf8::prefix(line, static_cast<std::size_t>(room));
      pieces.push_back(piece);
      line.remove_prefix(piece.size());
    }
    pieces.push_back(line);
  }
  return pieces;
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
  if (lines.size() <= layout.body_start) {
    if (max_len < 1) return {header};
    return parts_of(header, max_len);
  }

  // The header and the empty line in place of the separator; each body line
  // then follows after its own line feed.
  const std::string opening = header + '\n';
  const long long opening_length = code_points(opening);

  std::vector<std::string> chunks;
  std::string current = opening;
  long long current_length = opening_length;
  bool holds_body = false;
  // Room for a body line in a chunk of its own; none at all below 1.
  const long long room = max_len < 1 ? 0 : max_len - opening_length - 1;
  for (std::string_view piece : body_pieces(lines, layout.body_start, room)) {
    const long long piece_length = code_points(piece);
    if (holds_body && current_length + 1 + piece_length > max_len) {
      chunks.push_back(std::move(current));
      current = opening;
      current_length = opening_length;
    }
    current += '\n';
    current.append(piece);
    current_length += 1 + piece_length;
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
