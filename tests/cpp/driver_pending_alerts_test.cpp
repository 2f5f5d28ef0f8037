// Pending alerts: coalescing a pass's changes with those not yet delivered,
// the file's round trip, and the chat a moved group is followed to.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/pending_alerts.hpp"

namespace cbw = corvane_burn_watch;
namespace driver = corvane_burn_watch::driver;
namespace fs = std::filesystem;
using cbw::json::Object;
using driver::PendingAlert;
using driver::PendingAlerts;

namespace {

// The pass's UTC timestamp text, which names a kept unusable file.
const std::string kNoon = "2026-03-01T12:00:00Z";

TEST(MergeChanges, KeepsWhatTheChatWasToldAndFollowsTheLatestValue) {
  PendingAlerts pending{{{"2", "0.1", "0.5"}, {"9", "0.3", "0.6"}}, {}};
  // Subnet 2 moves again; 10 changes for the first time; 9 moves within the
  // threshold, so no change is reported for it, but its line still runs to now.
  const Object current{{"10", "0.7"}, {"2", "0.8"}, {"9", "0.605"}};
  driver::merge_changes(pending, {{"2", "0.5", "0.8"}, {"10", "0.2", "0.7"}}, current);
  const std::vector<PendingAlert> expected{
      {"2", "0.1", "0.8"}, {"9", "0.3", "0.605"}, {"10", "0.2", "0.7"}};
  EXPECT_EQ(pending.alerts, expected);  // ascending numeric order, not text order
}

TEST(MergeChanges, ASubnetBackWithinTheThresholdIsDroppedOnlyAfterwards) {
  PendingAlerts pending{{{"2", "0.1", "0.5", {}},
                         {"3", "abc", "0.2", {}},
                         {"4", "0.1", "0.5", {}},
                         {"5", "0.1", "0.5", {"0.5"}}},
                        {}};
  const Object current{{"2", "0.105"}, {"3", "abc"}, {"4", "0.5"}, {"5", "0.1"}};
  driver::merge_changes(pending, {{"2", "0.5", "0.105"}, {"3", "0.2", "abc"}}, current);
  // Kept until the state file holds these values (see drop_settled).
  EXPECT_EQ(pending.alerts.size(), 4u);
  driver::drop_settled(pending, 0.01);
  // Subnet 5 is back where the chat was told, but a line to 0.5 may have
  // reached it: it is told again.
  EXPECT_EQ(pending.alerts,
            (std::vector<PendingAlert>{{"4", "0.1", "0.5", {}}, {"5", "0.1", "0.1", {"0.5"}}}));
}

TEST(MergeChanges, ASubnetGoneFromTheServiceStaysPending) {
  PendingAlerts pending{{{"4", "0.1", "0.5"}}, {}};
  driver::merge_changes(pending, {}, Object{{"5", "0.2"}});
  EXPECT_EQ(pending.alerts, (std::vector<PendingAlert>{{"4", "0.1", "0.5"}}));
}

TEST(ChatAfterMigrations, FollowsTheConfiguredChatAndForgetsOthers) {
  PendingAlerts pending;
  pending.chat_migrations = Object{{"-1", "-1001"}, {"-1001", "-1002"}, {"-7", "-1007"}};
  EXPECT_EQ(driver::chat_after_migrations(pending, "-1"), "-1002");
  EXPECT_EQ(pending.chat_migrations, (Object{{"-1", "-1001"}, {"-1001", "-1002"}}));
  // The operator set the new id: nothing to follow, and nothing kept.
  EXPECT_EQ(driver::chat_after_migrations(pending, "-1002"), "-1002");
  EXPECT_TRUE(pending.chat_migrations.empty());
}

TEST(ChatAfterMigrations, ALoopEnds) {
  PendingAlerts pending;
  pending.chat_migrations = Object{{"-1", "-2"}, {"-2", "-1"}};
  EXPECT_EQ(driver::chat_after_migrations(pending, "-1"), "-1");
}

class PendingFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "pending_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    path_ = (dir_ / "state.json.pending.json").string();
    cbw::host::set_log(
        [this](cbw::host::LogLevel, std::string_view line) { logged_.emplace_back(line); });
  }
  void TearDown() override {
    cbw::host::set_log({});
    fs::remove_all(dir_);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_))
      found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  }

  fs::path dir_;
  std::string path_;
  std::vector<std::string> logged_;
};

TEST_F(PendingFileTest, RoundTripKeepsModeAndRemovesTheFileWhenNothingIsPending) {
  PendingAlerts pending{{{"2", "0.1", "0.5", {"0.4", "0.5"}}, {"10", "\u00e9", "0.7", {}}},
                        Object{{"-1", "-1001"}}};
  driver::PendingFile(path_, false).store(pending);
  ::chmod(path_.c_str(), 0600);
  pending.alerts.pop_back();
  driver::PendingFile file(path_, false);
  file.load(kNoon);
  file.store(pending);
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(driver::PendingFile(path_, false).load(kNoon), pending);

  file.store({});
  EXPECT_TRUE(names().empty());
  EXPECT_EQ(driver::PendingFile(path_, false).load(kNoon), PendingAlerts{});
}

TEST_F(PendingFileTest, AnUnusableFileIsKeptAndCountsAsEmpty) {
  std::ofstream(path_) << R"({"alerts": {"2": {"told": "0.1"}}})";
  driver::PendingFile file(path_, false);
  EXPECT_EQ(file.load(kNoon), PendingAlerts{});
  const std::string kept = "state.json.pending.json.corrupt-20260301T120000Z";
  EXPECT_EQ(names(), (std::vector<std::string>{"state.json.pending.json", kept}));
  ASSERT_EQ(logged_.size(), 1u);
  EXPECT_NE(logged_[0].find(kept), std::string::npos);
  file.store({});  // the unusable file goes, though nothing new is pending
  EXPECT_EQ(names(), std::vector<std::string>{kept});
}

TEST_F(PendingFileTest, ADryRunWritesNothing) {
  driver::PendingFile(path_, true).store({{{"2", "0.1", "0.5"}}, {}});
  EXPECT_TRUE(names().empty());
}

}  // namespace
