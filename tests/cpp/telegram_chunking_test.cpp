// Splitting of long message texts: the snapshot layout exactly as documented,
// and alerts split so that every change line reaches the chat once.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace cbw = corvane_burn_watch;
using Chunks = std::vector<std::string>;

namespace {

struct ChunkCase {
  const char* name;
  std::string text;
  long long max_len;
  Chunks expected;
};

void PrintTo(const ChunkCase& c, std::ostream* os) {
  *os << c.name;
}

class ChunkTextTest : public testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkTextTest, SplitsAsExpected) {
  const ChunkCase& c = GetParam();
  EXPECT_EQ(cbw::chunk_text(c.text, c.max_len), c.expected);
}

const std::string kSample = "T\nD\nN\n\naaaa\nbbbb\ncccc";  // 21 code points

INSTANTIATE_TEST_SUITE_P(
    SnapshotLayout, ChunkTextTest,
    testing::Values(
        ChunkCase{
            "limit15", kSample, 15, {"T\nD\nN\n\naaaa", "T\nD\nN\n\nbbbb", "T\nD\nN\n\ncccc"}},
        ChunkCase{"limit16", kSample, 16, {"T\nD\nN\n\naaaa\nbbbb", "T\nD\nN\n\ncccc"}},
        ChunkCase{"limit20", kSample, 20, {"T\nD\nN\n\naaaa\nbbbb", "T\nD\nN\n\ncccc"}},
        ChunkCase{"limit21", kSample, 21, {kSample}},
        ChunkCase{"limitHuge", kSample, 1LL << 62, {kSample}},
        // Within the limit the fourth line stays, whatever it holds.
        ChunkCase{"withinLimitKeepsFourthLine", "a\nb\nc\nd\ne", 9, {"a\nb\nc\nd\ne"}},
        ChunkCase{"threeLinesOverLimit", "a\nb\nccc", 2, {"a\nb\nccc"}},
        ChunkCase{"fourLinesDropsFourth", "a\nb\nc\nd", 3, {"a\nb\nc"}},
        ChunkCase{"singleLongLine", "abcdef", 3, {"abcdef"}},
        // A line that alone overflows a fresh chunk still gets one of its own.
        ChunkCase{"oversizedBodyLine",
                  "T\nD\nN\n\naa\nbbbbbbbbbb\ncc",
                  12,
                  {"T\nD\nN\n\naa", "T\nD\nN\n\nbbbbbbbbbb", "T\nD\nN\n\ncc"}},
        ChunkCase{"headerOverLimit",
                  "Title\nDate\nCount\n\nx\ny",
                  5,
                  {"Title\nDate\nCount\n\nx", "Title\nDate\nCount\n\ny"}},
        // A carriage return is part of its line and counts as a code point.
        ChunkCase{"carriageReturnStaysInLine",
                  "T\nD\nN\n\nab\r\ncd",
                  10,
                  {"T\nD\nN\n\nab\r", "T\nD\nN\n\ncd"}},
        ChunkCase{"trailingLineFeedGivesEmptyLastLine",
                  "T\nD\nN\n\naaaa\n",
                  10,
                  {"T\nD\nN\n\naaaa", "T\nD\nN\n\n"}},
        // Lengths are code points: "é" and "→" are one each, not two or three bytes.
        ChunkCase{"codePointsNotBytes",
                  "T\nD\nN\n\n\xC3\xA9\xC3\xA9\n\xE2\x86\x92\xE2\x86\x92",
                  11,
                  {"T\nD\nN\n\n\xC3\xA9\xC3\xA9", "T\nD\nN\n\n\xE2\x86\x92\xE2\x86\x92"}},
        ChunkCase{"codePointsFitWhole",
                  "T\nD\nN\n\n\xC3\xA9\xC3\xA9\n\xE2\x86\x92\xE2\x86\x92",
                  12,
                  {"T\nD\nN\n\n\xC3\xA9\xC3\xA9\n\xE2\x86\x92\xE2\x86\x92"}},
        ChunkCase{"zeroLimitOneLineEach", "T\nD\nN\n\na\nb", 0, {"T\nD\nN\n\na", "T\nD\nN\n\nb"}},
        ChunkCase{"negativeLimitEmptyText", "", -1, {""}},
        ChunkCase{"zeroLimitEmptyText", "", 0, {""}},
        ChunkCase{"negativeLimitOneLine", "abc", -5, {"abc"}}),
    [](const testing::TestParamInfo<ChunkCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    AlertLayout, ChunkTextTest,
    testing::Values(
        // The header is two lines; the empty third line is the separator.
        ChunkCase{"oneChangePerChunk",
                  "Owner\nD\n\nSN1: a\nSN2: b\nSN3: c",
                  14,
                  {"Owner\nD\n\nSN1: a", "Owner\nD\n\nSN2: b", "Owner\nD\n\nSN3: c"}},
        ChunkCase{"fillsGreedily",
                  "Owner\nD\n\nSN1: a\nSN2: b\nSN3: c",
                  22,
                  {"Owner\nD\n\nSN1: a\nSN2: b", "Owner\nD\n\nSN3: c"}},
        ChunkCase{"oneChangeOverLimitKeepsIt", "Owner\nD\n\nSN1: a", 3, {"Owner\nD\n\nSN1: a"}},
        // An empty fourth line is a separator: such a text is split as a snapshot.
        ChunkCase{
            "emptyFourthLineIsSnapshot", "A\nB\n\n\nx\ny", 8, {"A\nB\n\n\nx", "A\nB\n\n\ny"}}),
    [](const testing::TestParamInfo<ChunkCase>& info) { return std::string(info.param.name); });

// Lines of a text split at every line feed.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

struct LayoutCase {
  const char* name;
  std::vector<std::string> header;  // the lines before the separator
  long long max_len;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.name;
}

class ChunkInvariantTest : public testing::TestWithParam<LayoutCase> {};

// For texts of many body lines of varied widths: every chunk opens with the
// header and an empty line, every body line is in exactly one chunk, in order,
// no chunk with two or more body lines exceeds the limit, and each chunk
// closed early really had no room for the next chunk's first line.
TEST_P(ChunkInvariantTest, KeepsEveryBodyLineOnceAndFillsGreedily) {
  const LayoutCase& c = GetParam();
  std::vector<std::string> body;
  for (int i = 0; i < 300; ++i)
    body.push_back("SN" + std::to_string(i) + ": " + std::string(i % 17, 'x') + "\xE2\x86\x92");
  std::string text;
  for (const auto& line : c.header) text += line + "\n";
  text += "";  // separator
  for (const auto& line : body) text += "\n" + line;

  const Chunks chunks = cbw::chunk_text(text, c.max_len);
  ASSERT_GT(chunks.size(), 1u);

  std::string opening;
  for (const auto& line : c.header) opening += line + "\n";
  opening += "\n";
  std::vector<std::string> seen;
  std::vector<std::size_t> first_line_of_chunk;
  for (const auto& chunk : chunks) {
    ASSERT_EQ(chunk.rfind(opening, 0), 0u) << chunk;
    const std::vector<std::string> lines = lines_of(chunk.substr(opening.size()));
    if (lines.size() > 1)
      EXPECT_LE(static_cast<long long>(cbw::utf8::length(chunk)), c.max_len) << chunk;
    first_line_of_chunk.push_back(seen.size());
    seen.insert(seen.end(), lines.begin(), lines.end());
  }
  EXPECT_EQ(seen, body);
  for (std::size_t k = 0; k + 1 < chunks.size(); ++k) {
    const std::string& next_line = body[first_line_of_chunk[k + 1]];
    EXPECT_GT(static_cast<long long>(cbw::utf8::length(chunks[k] + "\n" + next_line)), c.max_len);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ChunkInvariantTest,
    testing::Values(
        LayoutCase{"snapshot",
                   {"Subnet owner burn rates (startup)", "2026-03-01T12:00:00Z UTC", "300 subnets"},
                   400},
        LayoutCase{"alert", {"Owner burn rate changed", "2026-03-01T12:00:00Z UTC"}, 400},
        LayoutCase{"alertTightLimit", {"Owner burn rate changed", "2026-03-01T12:00:00Z UTC"}, 70},
        LayoutCase{"alertDefaultLimit",
                   {"Owner burn rate changed", "2026-03-01T12:00:00Z UTC"},
                   cbw::DEFAULT_CHUNK_LENGTH / 8}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

}  // namespace
