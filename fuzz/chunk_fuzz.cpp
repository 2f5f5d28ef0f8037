// Fuzzes message chunking (`_chunk_text`) and the fitting of its chunks to
// what Telegram takes (message_fit.hpp).
//
// The first two input bytes give the limit (-16 to 1007 characters), the rest
// is the text. Invariants of the chunks:
// - a text within the limit is the one chunk, unchanged;
// - otherwise every chunk is the header lines, an empty line and at least one
//   body line; the body lines of all chunks, in order, are exactly the text's
//   body lines; a chunk holding two or more body lines is within the limit;
//   and a chunk closes only when the next body line would not have fitted.
// The header is the first three lines with the body from the fifth, or, for an
// alert (third line empty, fourth not), two lines with the body from the fourth.
// The chunks are then fitted to messages of at most the limit plus 61
// characters (45 to 1068), numbering included. Invariants of the messages:
// - none is longer than that;
// - a chunk that fits, numbered among all messages, is one message unchanged;
// - a chunk cut into pieces loses no character: its pieces, each without the
//   opening (header and empty line) they repeat when the chunk has one with
//   room for a body line, give the chunk back but for line feeds.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/telegram/message_fit.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/reference_utf8.hpp"

namespace cbw = corvane_burn_watch;

namespace {

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n')
      lines.emplace_back();
    else
      lines.back().push_back(c);
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to; ++i) {
    if (i > from) out.push_back('\n');
    out += lines[i];
  }
  return out;
}

long long length(std::string_view text) {
  return static_cast<long long>(fuzz::reference_code_points(text));
}

void check_chunks(std::string_view text, long long max_len,
                  const std::vector<std::string>& chunks) {
  FUZZ_CHECK(!chunks.empty(), fuzz::printable(text));
  if (length(text) <= max_len) {
    FUZZ_CHECK(chunks.size() == 1 && chunks[0] == text, fuzz::printable(text));
    return;
  }
  const std::vector<std::string> lines = lines_of(text);
  const bool alert = lines.size() >= 4 && lines[2].empty() && !lines[3].empty();
  const std::size_t header_count = alert ? 2 : std::min<std::size_t>(3, lines.size());
  const std::size_t body_start = alert ? 3 : 4;
  const std::string header = joined(lines, 0, header_count);
  if (lines.size() <= body_start) {
    FUZZ_CHECK(chunks.size() == 1 && chunks[0] == header, fuzz::printable(text));
    return;
  }

  std::size_t next_body = body_start;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    const std::vector<std::string> parts = lines_of(chunks[c]);
    const std::string detail = "chunk " + std::to_string(c) + ": " + fuzz::printable(chunks[c]);
    FUZZ_CHECK(parts.size() >= header_count + 2, detail);
    FUZZ_CHECK(joined(parts, 0, header_count) == header, detail);
    FUZZ_CHECK(parts[header_count].empty(), detail);
    const std::size_t body_lines = parts.size() - header_count - 1;
    for (std::size_t k = header_count + 1; k < parts.size(); ++k) {
      FUZZ_CHECK(next_body < lines.size(), detail);
      FUZZ_CHECK(parts[k] == lines[next_body], detail);
      ++next_body;
    }
    if (body_lines >= 2) FUZZ_CHECK(length(chunks[c]) <= max_len, detail);
    if (c + 1 < chunks.size())
      FUZZ_CHECK(length(chunks[c]) + 1 + length(lines[next_body]) > max_len, detail);
  }
  FUZZ_CHECK(next_body == lines.size(), fuzz::printable(text));
}

std::string without_line_feeds(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
  return text;
}

// The numbering of a message among `total`: "(i/n)\n", or none when alone.
long long numbering_length(std::size_t total) {
  return total <= 1 ? 0 : 2 * static_cast<long long>(std::to_string(total).size()) + 3;
}

void check_pieces(const std::string& chunk, const std::vector<std::string>& pieces,
                  long long longest, std::size_t total) {
  const std::string detail = "chunk " + fuzz::printable(chunk);
  FUZZ_CHECK(!pieces.empty(), detail);
  for (const std::string& piece : pieces)
    FUZZ_CHECK(length(piece) + numbering_length(total) <= longest, fuzz::printable(piece));
  if (length(chunk) + numbering_length(total) <= longest) {
    FUZZ_CHECK(pieces.size() == 1 && pieces[0] == chunk, detail);
    return;
  }
  // Cut: pieces of at most the limit less the longest numbering (44).
  const long long limit = longest - 44;
  const std::vector<std::string> lines = lines_of(chunk);
  const bool alert = lines.size() >= 4 && lines[2].empty() && !lines[3].empty();
  const std::size_t body_start = alert ? 3 : 4;
  std::string opening;
  const bool has_opening = lines.size() > body_start && lines[body_start - 1].empty();
  if (has_opening) opening = joined(lines, 0, body_start) + "\n";
  std::string got;
  if (has_opening && limit - length(opening) >= 1) {
    for (const std::string& piece : pieces) {
      FUZZ_CHECK(piece.compare(0, opening.size(), opening) == 0, fuzz::printable(piece));
      got += piece.substr(opening.size());
    }
    FUZZ_CHECK(without_line_feeds(got) == without_line_feeds(chunk.substr(opening.size())), detail);
  } else {
    for (const std::string& piece : pieces) got += piece;
    FUZZ_CHECK(without_line_feeds(got) == without_line_feeds(chunk), detail);
  }
}

void check_messages(long long longest, const std::vector<std::string>& chunks) {
  const std::vector<std::vector<std::string>> fitted = cbw::telegram::fit_chunks(chunks, longest);
  FUZZ_CHECK(fitted.size() == chunks.size(), "one list of pieces per chunk");
  std::size_t total = 0;
  for (const auto& pieces : fitted) total += pieces.size();
  for (std::size_t c = 0; c < chunks.size(); ++c)
    check_pieces(chunks[c], fitted[c], longest, total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const long long max_len = static_cast<long long>((data[0] << 8 | data[1]) % 1024) - 16;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  // Texts from the host are always UTF-8; other bytes only need not crash.
  const std::vector<std::string> chunks = cbw::chunk_text(text, max_len);
  if (fuzz::reference_utf8_valid(text)) {
    check_chunks(text, max_len, chunks);
    check_messages(max_len + 61, chunks);
  }
  return 0;
}
