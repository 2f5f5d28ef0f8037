// Chunks fitted to what Telegram takes: untouched when they fit, numbering
// included; otherwise cut, the header kept in every piece where it leaves room.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "corvane_burn_watch/telegram/message_fit.hpp"

namespace tg = corvane_burn_watch::telegram;
using Pieces = std::vector<std::vector<std::string>>;

namespace {

// With 56 characters at most, a cut chunk goes in pieces of at most 12: the
// 44 of the longest numbering are kept free.
constexpr long long kLongest = 56;
const std::string kOpening = "T\nD\nN\n\n";  // header and empty line: 7 characters

std::vector<std::string> times(std::size_t count, const std::string& piece) {
  return std::vector<std::string>(count, piece);
}
std::vector<std::string> plus(std::vector<std::string> pieces, const std::string& last) {
  pieces.push_back(last);
  return pieces;
}
std::string repeat(std::size_t count, const std::string& unit) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += unit;
  return out;
}

struct FitCase {
  const char* name;
  std::vector<std::string> chunks;
  Pieces expected;
};

void PrintTo(const FitCase& c, std::ostream* os) {
  *os << c.name;
}

class FitChunksTest : public testing::TestWithParam<FitCase> {};

TEST_P(FitChunksTest, CutsOnlyWhatTelegramWouldRefuse) {
  const FitCase& c = GetParam();
  EXPECT_EQ(tg::fit_chunks(c.chunks, kLongest), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FitChunksTest,
    testing::Values(
        // Alone, a chunk carries no numbering and may take all 56.
        FitCase{"aloneAtTheLongest", {std::string(56, 'x')}, {{std::string(56, 'x')}}},
        // Numbered "(1/2)\n", 52 + 6 is too long; the cut makes 6 messages,
        // and the short chunk stays as it is.
        FitCase{"numberingCounts",
                {std::string(52, 'x'), "y"},
                {plus(times(4, std::string(12, 'x')), "xxxx"), {"y"}}},
        // A body line is cut into pieces that each repeat the header; the last
        // piece shares its message with the next line when both fit.
        FitCase{"bodyLineUnderTheHeader",
                {kOpening + std::string(51, 'b') + "\ncc"},
                {plus(times(10, kOpening + "bbbbb"), kOpening + "b\ncc")}},
        FitCase{"codePointsNotBytes",
                {kOpening + repeat(60, "\xC3\xA9")},
                {times(12, kOpening + repeat(5, "\xC3\xA9"))}},
        // Without body lines, pieces end at a line feed where one lets them
        // (that line feed goes in no piece), else at the limit.
        FitCase{"noBodyLines",
                {"a\nb\n" + std::string(60, 'c')},
                {{"a\nb", std::string(12, 'c'), std::string(12, 'c'), std::string(12, 'c'),
                  std::string(12, 'c'), std::string(12, 'c')}}},
        // A header that leaves no room for a body line is cut the same way.
        FitCase{"headerWithoutRoom",
                {"Title\nDate-line\nN\n\n" + std::string(40, 'z')},
                {{"Title", "Date-line\nN\n", std::string(12, 'z'), std::string(12, 'z'),
                  std::string(12, 'z'), "zzzz"}}}),
    [](const testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

}  // namespace
