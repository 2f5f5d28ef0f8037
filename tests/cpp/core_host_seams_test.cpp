#include <gtest/gtest.h>

#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/client.hpp"

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
