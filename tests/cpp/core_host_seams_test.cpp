#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"

namespace host = corvane_burn_watch::host;
namespace http = corvane_burn_watch::http;

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
    testing::Values(RedactCase{"raw", kToken, "a/bot123456:ABC-def/x 123456:ABC-def",
                               "a/bot<redacted>/x <redacted>"},
                    RedactCase{"percentUpper", kToken, "/bot123456%3AABC-def/sendMessage",
                               "/bot<redacted>/sendMessage"},
                    RedactCase{"percentLower", kToken, "/bot123456%3aABC-def/sendMessage",
                               "/bot<redacted>/sendMessage"},
                    RedactCase{"everyBytePercentEncoded", kToken,
                               "%31%32%33%34%35%36%3a%41%42%43%2D%64%65%66!", "<redacted>!"},
                    RedactCase{"formEncodedSpace", "ab cd", "x=ab+cd&y=ab%20cd&z=ab cd",
                               "x=<redacted>&y=<redacted>&z=<redacted>"},
                    RedactCase{"percentInSecret", "a%b", "a%25b a%b a%2",
                               "<redacted> <redacted> a%2"},
                    RedactCase{"nearMissesStay", kToken, "123456:ABC-de 123456%3GABC-def 123456%3",
                               "123456:ABC-de 123456%3GABC-def 123456%3"}),
    [](const testing::TestParamInfo<RedactCase>& info) { return std::string(info.param.name); });

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
