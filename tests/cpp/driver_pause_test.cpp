// The pause file test, the interval sleep and the poll interval rule.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/platform.hpp"
#include "corvane_burn_watch/driver/poll_interval.hpp"

namespace cbw = corvane_burn_watch;
namespace platform = corvane_burn_watch::platform;

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// A fresh directory for one test, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string templ = testing::TempDir() + "driver_pause_XXXXXX";
    path_ = ::mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void touch(const std::string& path) {
  std::ofstream(path) << "stop";
}

// Records every requested sleep instead of sleeping; can run an action at a
// given step, the way a host would create the pause file meanwhile.
class RecordedSleeps {
 public:
  explicit RecordedSleeps(std::size_t act_at = 0, std::function<void()> action = {}) {
    platform::set_sleep([this, act_at, action](double seconds) {
      steps.push_back(seconds);
      if (steps.size() == act_at && action) action();
    });
  }
  ~RecordedSleeps() { platform::set_sleep({}); }
  std::vector<double> steps;
};

TEST(BurnIsPaused, TellsRegularFilesFollowingLinks) {
  TempDir dir;
  touch(dir.file("file"));
  ::mkdir(dir.file("dir").c_str(), 0700);
  ASSERT_EQ(::symlink(dir.file("file").c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("missing").c_str(), dir.file("dangling").c_str()), 0);

  EXPECT_TRUE(cbw::burn_is_paused(dir.file("file")));
  EXPECT_TRUE(cbw::burn_is_paused(dir.file("link")));
  EXPECT_FALSE(cbw::burn_is_paused(""));
  EXPECT_FALSE(cbw::burn_is_paused(dir.file("dir")));
  EXPECT_FALSE(cbw::burn_is_paused(dir.file("missing")));
  EXPECT_FALSE(cbw::burn_is_paused(dir.file("dangling")));
  EXPECT_FALSE(cbw::burn_is_paused(dir.file("file") + "/below"));
  EXPECT_FALSE(cbw::burn_is_paused(std::string(5000, 'x')));
  EXPECT_FALSE(cbw::burn_is_paused(dir.file("file") + std::string(1, '\0')));
}

struct SleepCase {
  const char* name;
  double interval;
  std::vector<double> steps;
};

class SleepUntilInterval : public testing::TestWithParam<SleepCase> {};

TEST_P(SleepUntilInterval, SleepsInSecondStepsWithoutPause) {
  RecordedSleeps sleeps;
  EXPECT_TRUE(cbw::sleep_until_interval(GetParam().interval, ""));
  EXPECT_EQ(sleeps.steps, GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(Intervals, SleepUntilInterval,
                         testing::Values(SleepCase{"two_and_a_half", 2.5, {1.0, 1.0, 0.5}},
                                         SleepCase{"whole", 3.0, {1.0, 1.0, 1.0}},
                                         SleepCase{"below_one", 0.25, {0.25}},
                                         SleepCase{"zero", 0.0, {}},
                                         SleepCase{"negative", -4.0, {}},
                                         SleepCase{"not_a_number", kNan, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SleepUntilInterval, PauseFileAtStartStopsBeforeAnyStep) {
  TempDir dir;
  touch(dir.file("pause"));
  RecordedSleeps sleeps;
  EXPECT_FALSE(cbw::sleep_until_interval(5.0, dir.file("pause")));
  EXPECT_FALSE(cbw::sleep_until_interval(0.0, dir.file("pause")));
  EXPECT_TRUE(sleeps.steps.empty());
}

TEST(SleepUntilInterval, PauseFileCreatedDuringAStepIsSeenBeforeTheNext) {
  TempDir dir;
  RecordedSleeps sleeps(2, [&] { touch(dir.file("pause")); });
  EXPECT_FALSE(cbw::sleep_until_interval(10.0, dir.file("pause")));
  EXPECT_EQ(sleeps.steps.size(), 2u);
}

TEST(SleepUntilInterval, PauseFileCreatedDuringTheLastStepStillCounts) {
  TempDir dir;
  RecordedSleeps sleeps(3, [&] { touch(dir.file("pause")); });
  EXPECT_FALSE(cbw::sleep_until_interval(2.5, dir.file("pause")));
  EXPECT_EQ(sleeps.steps, (std::vector<double>{1.0, 1.0, 0.5}));
}

struct IntervalCase {
  double minutes;
  double seconds;
};

class PollInterval : public testing::TestWithParam<IntervalCase> {};

TEST_P(PollInterval, OneMinuteFloorAndFullMinutesAbove) {
  EXPECT_EQ(cbw::driver::poll_interval_seconds(GetParam().minutes), GetParam().seconds);
}

INSTANTIATE_TEST_SUITE_P(Minutes, PollInterval,
                         testing::Values(IntervalCase{0.5, 60}, IntervalCase{1, 60},
                                         IntervalCase{1.5, 90}, IntervalCase{2, 120},
                                         IntervalCase{5, 300}, IntervalCase{0, 60},
                                         IntervalCase{-3, 60}, IntervalCase{kNan, 60},
                                         IntervalCase{1.0000001, 1.0000001 * 60}));

}  // namespace
