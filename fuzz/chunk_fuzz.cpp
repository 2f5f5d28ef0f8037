// Fuzzes message chunking (`_chunk_text`).
//
// The first two input bytes give the limit (-16 to 1007 characters), the rest
// is the text. Invariants:
// - a text within the limit is the one chunk, unchanged;
// - otherwise every chunk is the header lines, an empty line and at least one
//   body line; the body lines of all chunks, in order, are exactly the text's
//   body lines; a chunk holding two or more body lines is within the limit;
//   and a chunk closes only when the next body line would not have fitted.
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
