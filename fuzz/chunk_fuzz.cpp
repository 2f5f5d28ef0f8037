// Fuzzes message chunking (`_chunk_text`).
//
// The first two input bytes give the limit (-16 to 1007 characters), the rest
// is the text. Invariants:
// - a text within the limit is the one chunk, unchanged;
// - a text without body lines is its header: one chunk when the limit is
//   below 1, else non-empty parts within the limit that give the header back,
//   each ending at the last line feed that lets it (which goes in no part), or
//   else cut at the limit;
// - otherwise every chunk is the header lines, an empty line and at least one
//   body piece; the pieces of all chunks, in order, are the text's body lines,
//   each cut into pieces that fill a chunk of their own when it is too long for
//   one (when the header leaves room for a body line at all); every chunk is
//   within the limit when there is such room, else holds one whole line; and a
//   chunk closes only when the next piece would not have fitted.
// The header is the first three lines with the body from the fifth, or, for an
// alert (third line empty, fourth not), two lines with the body from the fourth.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The first `count` code points of valid UTF-8 text.
std::string first_code_points(std::string_view text, long long count) {
  std::size_t end = 0;
  for (long long seen = 0; end < text.size() && seen < count; ++seen) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return std::string(text.substr(0, end));
}

void check_parts(const std::string& header, long long max_len,
                 const std::vector<std::string>& parts) {
  std::size_t pos = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string& part = parts[k];
    const std::string detail = "part " + std::to_string(k) + ": " + fuzz::printable(part);
    FUZZ_CHECK(!part.empty() && length(part) <= max_len, detail);
    FUZZ_CHECK(header.compare(pos, part.size(), part) == 0, detail);
    const std::string window = first_code_points(header.substr(pos), max_len);
    pos += part.size();
    if (k + 1 == parts.size()) {
      // A line feed that ends the header may end the last part.
      FUZZ_CHECK(pos == header.size() || (pos + 1 == header.size() && header[pos] == '\n'), detail);
    } else if (header[pos] == '\n') {
      ++pos;  // ended at the last line feed the limit lets it reach
      FUZZ_CHECK(window.find('\n', part.size() + 1) == std::string::npos, detail);
    } else {
      FUZZ_CHECK(length(part) == max_len && part.find('\n', 1) == std::string::npos, detail);
    }
  }
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
    if (max_len < 1)
      FUZZ_CHECK(chunks.size() == 1 && chunks[0] == header, fuzz::printable(text));
    else
      check_parts(header, max_len, chunks);
    return;
  }

  // Room for a body line in a chunk of its own, after the header, the line
  // feed that ends it, the empty line and its line feed.
  const long long room = max_len - length(header) - 2;
  std::vector<std::string> pieces;
  for (std::size_t i = body_start; i < lines.size(); ++i) {
    std::string line = lines[i];
    while (room >= 1 && length(line) > room) {
      pieces.push_back(first_code_points(line, room));
      line.erase(0, pieces.back().size());
    }
    pieces.push_back(line);
  }

  std::size_t next_piece = 0;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    const std::vector<std::string> parts = lines_of(chunks[c]);
    const std::string detail = "chunk " + std::to_string(c) + ": " + fuzz::printable(chunks[c]);
    FUZZ_CHECK(parts.size() >= header_count + 2, detail);
    FUZZ_CHECK(joined(parts, 0, header_count) == header, detail);
    FUZZ_CHECK(parts[header_count].empty(), detail);
    for (std::size_t k = header_count + 1; k < parts.size(); ++k) {
      FUZZ_CHECK(next_piece < pieces.size(), detail);
      FUZZ_CHECK(parts[k] == pieces[next_piece], detail);
      ++next_piece;
    }
    if (room >= 1)
      FUZZ_CHECK(length(chunks[c]) <= max_len, detail);
    else
      FUZZ_CHECK(parts.size() == header_count + 2, detail);
    if (c + 1 < chunks.size())
      FUZZ_CHECK(length(chunks[c]) + 1 + length(pieces[next_piece]) > max_len, detail);
  }
  FUZZ_CHECK(next_piece == pieces.size(), fuzz::printable(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const long long max_len = static_cast<long long>((data[0] << 8 | data[1]) % 1024) - 16;
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  // Texts from the host are always UTF-8; other bytes only need not crash.
  const std::vector<std::string> chunks = cbw::chunk_text(text, max_len);
  if (fuzz::reference_utf8_valid(text)) check_chunks(text, max_len, chunks);
  return 0;
}
