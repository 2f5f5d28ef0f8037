#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace host = corvane_burn_watch::host;
namespace http = corvane_burn_watch::http;
namespace utf8 = corvane_burn_watch::utf8;

TEST(Platform, TimestampIsUtcWithTruncatedSeconds) {
  EXPECT_EQ(host::format_utc_timestamp(1741338245.999), "2025-03-07T09:04:05Z");
  EXPECT_EQ(host::format_utc_timestamp(0), "1970-01-01T00:00:00Z");
}

TEST(Platform, InstalledClockAndSleepReplaceTheRealOnes) {
  std::vector<double> slept;
  host::set_clock([] { return 1772366400.0; });
  host::set_sleep([&](double s) { slept.push_back(s); });
  host::sleep_for(2.5);
  EXPECT_EQ(host::utc_timestamp_text(), "2026-03-01T12:00:00Z");
  host::set_clock({});
  host::set_sleep({});
  EXPECT_EQ(slept, std::vector<double>{2.5});
  EXPECT_NE(host::utc_timestamp_text(), "2026-03-01T12:00:00Z");
}

TEST(Platform, InterruptCheckEndsARealSleep) {
  int checks = 0;
  host::set_interrupt_check([&] {
    if (++checks == 2) throw corvane_burn_watch::Interrupted{};
  });
  EXPECT_THROW(host::sleep_for(30.0), corvane_burn_watch::Interrupted);
  host::set_interrupt_check({});
  EXPECT_EQ(checks, 2);
}

// Each log line stays within 8 KiB, "[burn] " and the line feed included: a
// longer message is cut at a character boundary and ends with a note of how
// many characters were left out; a message that fits is unchanged.
struct LogCase {
  const char* name;
  std::string message;
};
void PrintTo(const LogCase& c, std::ostream* os) {
  *os << c.name;
}
class LogLine : public testing::TestWithParam<LogCase> {};
TEST_P(LogLine, IsCappedWithANoteOfWhatWasLeftOut) {
  const std::string& message = GetParam().message;
  std::vector<std::string> lines;
  host::set_log([&](host::LogLevel, std::string_view text) { lines.emplace_back(text); });
  host::log(host::LogLevel::error, message);
  host::set_log({});
  ASSERT_EQ(lines.size(), 1u);
  const std::string& line = lines[0];
  const std::size_t room = host::kLogLineLimit - std::string_view("[burn] \n").size();
  if (message.size() <= room) {
    EXPECT_EQ(line, message);
    return;
  }
  EXPECT_LE(line.size(), room);
  const std::size_t note = line.rfind(" [... ");
  ASSERT_NE(note, std::string::npos);
  const std::string kept = line.substr(0, note);
  EXPECT_EQ(message.compare(0, kept.size(), kept), 0);
  EXPECT_TRUE(utf8::is_valid(kept));
  const std::size_t left_out = utf8::length(message) - utf8::length(kept);
  EXPECT_EQ(line.substr(note), " [... " + std::to_string(left_out) + " more characters]");
}
std::string repeated(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}
INSTANTIATE_TEST_SUITE_P(
    Messages, LogLine,
    testing::Values(LogCase{"fitsExactly", std::string(8184, 'a')},
                    LogCase{"oneByteOver", std::string(8185, 'a')},
                    LogCase{"twoByteCharacters", repeated("\xC3\xA9", 5000)},
                    LogCase{"fourByteCharacters", "x" + repeated("\xF0\x9F\x98\x80", 3000)},
                    LogCase{"fiveMegabytesOfHtml", repeated("<p>down</p>\n", (5 << 20) / 12)}),
    [](const testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

// A secret is hidden in every form it can take on the wire: as itself,
// percent-encoded (either case of hex digit, any of its bytes) and
// form-encoded (a space as "+").
struct RedactCase {
  const char* name;
  std::string secret;
  std::string text;
  std::string redacted;
};
void PrintTo(const RedactCase& c, std::ostream* os) {
  *os << c.name;
}
class Redact : public testing::TestWithParam<RedactCase> {};
TEST_P(Redact, HidesEveryWireForm) {
  const RedactCase& c = GetParam();
  EXPECT_EQ(http::redact(c.text, {c.secret, ""}), c.redacted);
}
const std::string kToken = "123456:ABC-def";
INSTANTIATE_TEST_SUITE_P(
    Forms, Redact,
    testing::Values(
        RedactCase{"raw", kToken, "a/bot123456:ABC-def/x 123456:ABC-def",
                   "a/bot<redacted>/x <redacted>"},
        RedactCase{"percentUpper", kToken, "/bot123456%3AABC-def/sendMessage",
                   "/bot<redacted>/sendMessage"},
        RedactCase{"percentLower", kToken, "/bot123456%3aABC-def/sendMessage",
                   "/bot<redacted>/sendMessage"},
        RedactCase{"everyBytePercentEncoded", kToken, "%31%32%33%34%35%36%3a%41%42%43%2D%64%65%66!",
                   "<redacted>!"},
        RedactCase{"formEncodedSpace", "ab cd", "x=ab+cd&y=ab%20cd&z=ab cd",
                   "x=<redacted>&y=<redacted>&z=<redacted>"},
        RedactCase{"percentInSecret", "a%b", "a%25b a%b a%2", "<redacted> <redacted> a%2"},
        RedactCase{"percentEncodedTwice", kToken, "/bot123456%253AABC-def/x", "/bot<redacted>/x"},
        RedactCase{"jsonEscaped", kToken, R"({"d": "\u0031\u00323456\u003aABC-def"})",
                   R"({"d": "<redacted>"})"},
        RedactCase{"nearMissesStay", kToken, "123456:ABC-de 123456%3GABC-def 123456%3",
                   "123456:ABC-de 123456%3GABC-def 123456%3"}),
    [](const testing::TestParamInfo<RedactCase>& info) { return std::string(info.param.name); });

// What a bot token leaves behind in other texts is hidden as well: what a URL
// carries of it (a "#" ends the path there) and its secret half alone.
struct TokenCase {
  const char* name;
  std::string token;
  std::string text;
  std::string redacted;
};
void PrintTo(const TokenCase& c, std::ostream* os) {
  *os << c.name;
}
class TokenPieces : public testing::TestWithParam<TokenCase> {};
TEST_P(TokenPieces, AreHidden) {
  const TokenCase& c = GetParam();
  EXPECT_EQ(http::redact(c.text, http::token_secrets(c.token)), c.redacted);
}
INSTANTIATE_TEST_SUITE_P(
    Pieces, TokenPieces,
    testing::Values(
        TokenCase{"pathBeforeAHash", "123:abcd#ef", "POST /bot123:abcd/sendMessage",
                  "POST /bot<redacted>/sendMessage"},
        TokenCase{"pathBeforeAQuestionMark", "123:abcd?ef", "/bot123:abcd failed",
                  "/bot<redacted> failed"},
        TokenCase{"secretHalfAlone", kToken, "key ABC-def is invalid", "key <redacted> is invalid"},
        TokenCase{"wholeTokenFirst", kToken, "token 123456:ABC-def", "token <redacted>"},
        TokenCase{"shortPiecesStay", "1:ab", "1 ab 1:ab", "1 ab <redacted>"}),
    [](const testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

TEST(Http, MaskKeepsTheLengthOfEveryForm) {
  std::string bytes = "x 123456%3aABC-def \xff 123456:ABC-def";
  http::mask(bytes, {kToken});
  EXPECT_EQ(bytes, "x " + std::string(16, '*') + " \xff " + std::string(14, '*'));
}

TEST(Http, ConnectionRefusedIsANetworkErrorWithoutTheSecret) {
  http::Request request;
  request.url = "http://127.0.0.1:1/botSECRET123/sendMessage";
  request.secrets = {"SECRET123"};
  try {
    http::perform(request);
    FAIL();
  } catch (const corvane_burn_watch::NetworkError& e) {
    EXPECT_EQ(e.kind, corvane_burn_watch::NetworkError::Kind::connection);
    EXPECT_EQ(std::string(e.what()).find("SECRET123"), std::string::npos) << e.what();
  }
}

TEST(Http, RefusesSchemesOtherThanHttp) {
  http::Request request;
  request.url = "file:///etc/hostname";
  EXPECT_THROW(http::perform(request), corvane_burn_watch::NetworkError);
}
