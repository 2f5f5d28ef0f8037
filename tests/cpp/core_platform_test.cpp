#include <gtest/gtest.h>

#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/http_client.hpp"
#include "corvane_burn_watch/core/platform.hpp"

namespace platform = corvane_burn_watch::platform;
namespace http = corvane_burn_watch::http;

TEST(Platform, TimestampIsUtcWithTruncatedSeconds) {
  EXPECT_EQ(platform::format_utc_timestamp(1741338245.999), "2025-03-07T09:04:05Z");
  EXPECT_EQ(platform::format_utc_timestamp(0), "1970-01-01T00:00:00Z");
}

TEST(Platform, InstalledClockAndSleepReplaceTheRealOnes) {
  std::vector<double> slept;
  platform::set_clock([] { return 1772366400.0; });
  platform::set_sleep([&](double s) { slept.push_back(s); });
  platform::sleep_for(2.5);
  EXPECT_EQ(platform::utc_timestamp_text(), "2026-03-01T12:00:00Z");
  platform::set_clock({});
  platform::set_sleep({});
  EXPECT_EQ(slept, std::vector<double>{2.5});
  EXPECT_NE(platform::utc_timestamp_text(), "2026-03-01T12:00:00Z");
}

TEST(Platform, InterruptCheckEndsARealSleep) {
  int checks = 0;
  platform::set_interrupt_check([&] {
    if (++checks == 2) throw corvane_burn_watch::Interrupted{};
  });
  EXPECT_THROW(platform::sleep_for(30.0), corvane_burn_watch::Interrupted);
  platform::set_interrupt_check({});
  EXPECT_EQ(checks, 2);
}

TEST(Http, RedactsEverySecretOccurrence) {
  EXPECT_EQ(http::redact("a/botTOKEN/x TOKEN", {"TOKEN", ""}), "a/bot<redacted>/x <redacted>");
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
