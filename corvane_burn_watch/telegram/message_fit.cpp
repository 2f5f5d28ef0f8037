#include "corvane_burn_watch/telegram/message_fit.hpp"

#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/chunk_layout.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch::telegram {
namespace {

// The longest numbering "(i/n)\n": two numbers of up to 20 digits.
constexpr long long kLongestNumbering = 44;
// With the default limit, only a chunk of a single body line, or one without
// body lines, can need cutting: any other is within the limit, and the
// numbering leaves it within what Telegram takes.
static_assert(DEFAULT_CHUNK_LENGTH + kLongestNumbering <= LONGEST_MESSAGE);

long long code_points(std::string_view text) {
  return static_cast<long long>(utf8::length(text));
}

long long numbering_length(std::size_t total) {
  if (total <= 1) return 0;
  return 2 * static_cast<long long>(std::to_string(total).size()) + 3;
}

// `text` in parts of at most `limit` (>= 1) code points, each ending at the
// last line feed that lets it, where there is one (that line feed goes in no
// part), else cut at the limit.
void cut_at_line_feeds(std::string_view text, long long limit, std::vector<std::string>& parts) {
  while (code_points(text) > limit) {
    std::string_view part = utf8::prefix(text, static_cast<std::size_t>(limit));
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
}

// A chunk longer than `limit` (>= 1) in pieces of at most `limit`.
std::vector<std::string> cut_chunk(std::string_view chunk, long long limit) {
  std::vector<std::string> pieces;
  const std::vector<std::string_view> lines = split_lines(chunk);
  const ChunkLayout layout = layout_of(lines);
  const bool has_opening = lines.size() > layout.body_start && lines[layout.body_start - 1].empty();
  std::string opening;  // the header and the empty line after it
  for (std::size_t i = 0; has_opening && i < layout.body_start; ++i) {
    opening.append(lines[i]);
    if (i + 1 < layout.body_start) opening += '\n';
  }
  const long long opening_length = code_points(opening);
  // Room for a body line in a piece of its own, after the opening's line feed.
  const long long room = limit - opening_length - 1;
  if (!has_opening || room < 1) {
    cut_at_line_feeds(chunk, limit, pieces);
    return pieces;
  }
  std::string current = opening;
  long long current_length = opening_length;
  bool holds_body = false;
  const auto add = [&](std::string_view line) {
    const long long line_length = code_points(line);
    if (holds_body && current_length + 1 + line_length > limit) {
      pieces.push_back(std::move(current));
      current = opening;
      current_length = opening_length;
    }
    current += '\n';
    current.append(line);
    current_length += 1 + line_length;
    holds_body = true;
  };
  for (std::size_t i = layout.body_start; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    while (code_points(line) > room) {
      const std::string_view piece = utf8::prefix(line, static_cast<std::size_t>(room));
      add(piece);
      line.remove_prefix(piece.size());
    }
    add(line);
  }
  pieces.push_back(std::move(current));
  return pieces;
}

// The pieces of every chunk when the numbering counts `total` messages.
std::vector<std::vector<std::string>> fit_for(const std::vector<std::string>& chunks,
                                              std::size_t total, long long longest,
                                              std::size_t& pieces) {
  std::vector<std::vector<std::string>> fitted;
  pieces = 0;
  for (const std::string& chunk : chunks) {
    if (code_points(chunk) + numbering_length(total) <= longest)
      fitted.push_back({chunk});
    else
      fitted.push_back(cut_chunk(chunk, longest - kLongestNumbering));
    pieces += fitted.back().size();
  }
  return fitted;
}

}  // namespace

std::string numbered_message(std::string_view chunk, std::size_t number, std::size_t total) {
  if (total <= 1) return std::string(chunk);
  return "(" + std::to_string(number) + "/" + std::to_string(total) + ")\n" + std::string(chunk);
}

std::vector<std::vector<std::string>> fit_chunks(const std::vector<std::string>& chunks,
                                                 long long longest) {
  // A cut adds messages, and a longer numbering may then push another chunk
  // over: fit again for the new count until it holds. The count only grows,
  // and no more than every chunk can be cut, so this ends.
  std::size_t total = chunks.size();
  std::size_t pieces = 0;
  std::vector<std::vector<std::string>> fitted = fit_for(chunks, total, longest, pieces);
  while (pieces != total) {
    total = pieces;
    fitted = fit_for(chunks, total, longest, pieces);
  }
  return fitted;
}

std::vector<std::string> numbered_messages(const std::vector<std::string>& chunks,
                                           long long longest) {
  std::vector<std::string> pieces;
  for (std::vector<std::string>& fitted : fit_chunks(chunks, longest))
    for (std::string& piece : fitted) pieces.push_back(std::move(piece));
  std::vector<std::string> messages;
  messages.reserve(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i)
    messages.push_back(numbered_message(pieces[i], i + 1, pieces.size()));
  return messages;
}

std::vector<std::string> text_messages(std::string_view text) {
  return numbered_messages(chunk_text(text));
}

}  // namespace corvane_burn_watch::telegram
