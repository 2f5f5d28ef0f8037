// Watch rules: the parsers' errors, the quiet window around midnight, the
// mutes file, and one pass's rules (own thresholds, suppressed changes, the
// told values a drift is measured from).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/mutes.hpp"
#include "corvane_burn_watch/driver/pass_rules.hpp"
#include "corvane_burn_watch/driver/told_values.hpp"
#include "corvane_burn_watch/driver/watch_rules.hpp"

namespace cbw = corvane_burn_watch;
namespace driver = corvane_burn_watch::driver;
namespace fs = std::filesystem;

namespace {

// 2026-03-01T00:00:00Z
constexpr double kMidnight = 1772323200;

struct BadText {
  const char* what;  // which parser
  const char* text;
  const char* message;  // part of the error's message
};

void PrintTo(const BadText& bad, std::ostream* out) {
  *out << bad.what << " \"" << bad.text << "\"";
}

class ParserErrors : public testing::TestWithParam<BadText> {};

TEST_P(ParserErrors, SayWhatIsWrong) {
  const BadText& bad = GetParam();
  const std::string what = bad.what;
  try {
    if (what == "subnets") cbw::parse_subnet_set(bad.text);
    if (what == "quiet") cbw::parse_quiet_hours(bad.text);
    if (what == "duration") cbw::parse_duration_seconds(bad.text);
    FAIL() << "accepted " << bad.text;
  } catch (const cbw::ValueError& error) {
    EXPECT_NE(std::string(error.what()).find(bad.message), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParserErrors,
    testing::Values(BadText{"subnets", "", "is empty"},
                    BadText{"subnets", "1,,3", "has an empty item"},
                    BadText{"subnets", "1,x", "\"x\" in \"1,x\" is not a subnet id"},
                    BadText{"subnets", "-4", "\"\" in \"-4\" is not a subnet id"},
                    BadText{"subnets", "9-3", "\"9-3\" in \"9-3\" ends before it starts"},
                    BadText{"subnets", "1.5", "not a subnet id"},
                    BadText{"quiet", "22:00", "HH:MM-HH:MM"},
                    BadText{"quiet", "24:00-07:00", "HH:MM-HH:MM"},
                    BadText{"quiet", "22:60-07:00", "HH:MM-HH:MM"},
                    BadText{"quiet", "7:00-9:00", "HH:MM-HH:MM"},
                    BadText{"quiet", "08:00-08:00", "starts where it ends"},
                    BadText{"duration", "90", "is not a duration"},
                    BadText{"duration", "0m", "is not a duration"},
                    BadText{"duration", "1.5h", "is not a duration"},
                    BadText{"duration", "3w", "is not a duration"}));

TEST(SubnetSet, ReadsIdsAndRangesAndWritesThemBack) {
  const cbw::SubnetSet set = cbw::parse_subnet_set(" 1, 7 ,64-70");
  EXPECT_EQ(cbw::subnet_set_text(set), "1,7,64-70");
  for (long long id : {1, 7, 64, 67, 70}) EXPECT_TRUE(set.contains(id)) << id;
  for (long long id : {0, 2, 63, 71}) EXPECT_FALSE(set.contains(id)) << id;
  EXPECT_EQ(cbw::subnet_number(" 007 "), 7);
  EXPECT_EQ(cbw::subnet_number("7.0"), std::nullopt);
}

struct QuietCase {
  const char* window;
  int utc_offset_seconds;
  double minutes_after_utc_midnight;
  bool quiet;
};

void PrintTo(const QuietCase& c, std::ostream* out) {
  *out << c.window << " offset " << c.utc_offset_seconds << " at minute "
       << c.minutes_after_utc_midnight;
}

class QuietWindow : public testing::TestWithParam<QuietCase> {};

TEST_P(QuietWindow, CoversItsMinutesOfLocalTime) {
  const QuietCase& c = GetParam();
  cbw::QuietHours quiet = cbw::parse_quiet_hours(c.window);
  quiet.utc_offset_seconds = c.utc_offset_seconds;
  EXPECT_EQ(quiet.contains(kMidnight + c.minutes_after_utc_midnight * 60), c.quiet);
}

INSTANTIATE_TEST_SUITE_P(
    AroundMidnight, QuietWindow,
    testing::Values(QuietCase{"22:00-07:00", 0, 22 * 60, true},  // start included
                    QuietCase{"22:00-07:00", 0, 23 * 60 + 59.5, true},
                    QuietCase{"22:00-07:00", 0, 0, true},
                    QuietCase{"22:00-07:00", 0, 7 * 60 - 0.5, true},
                    QuietCase{"22:00-07:00", 0, 7 * 60, false},  // end excluded
                    QuietCase{"22:00-07:00", 0, 12 * 60, false},
                    QuietCase{"22:00-07:00", 0, 22 * 60 - 1, false},
                    QuietCase{"09:00-17:30", 0, 17 * 60 + 29, true},  // no wrap
                    QuietCase{"09:00-17:30", 0, 8 * 60, false},
                    // 21:30 UTC is 23:30 two hours east, 16:30 five hours west.
                    QuietCase{"22:00-07:00", 2 * 3600, 21 * 60 + 30, true},
                    QuietCase{"22:00-07:00", -5 * 3600, 21 * 60 + 30, false},
                    // 02:00 UTC is 21:00 the day before, five hours west.
                    QuietCase{"20:00-23:00", -5 * 3600, 2 * 60, true}));

class TempDir : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("rules_test_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    cbw::host::set_clock({});
    fs::remove_all(dir_);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

using MutesFile = TempDir;

TEST_F(MutesFile, MutesEndAndAreDroppedByTheNextCommand) {
  const std::string file = path("state.json.mutes.json");
  double now = kMidnight;
  cbw::host::set_clock([&] { return now; });
  cbw::mute_subnets(file, {7, 9}, 90);
  cbw::mute_subnets(file, {12}, std::nullopt);
  EXPECT_EQ(cbw::load_mutes(file),
            (cbw::Mutes{{7, kMidnight + 90}, {9, kMidnight + 90}, {12, std::nullopt}}));
  now += 90;  // the end is not included
  EXPECT_EQ(cbw::active_mutes(cbw::load_mutes(file), now), (cbw::Mutes{{12, std::nullopt}}));
  EXPECT_EQ(cbw::unmute_subnets(file, {3}), (cbw::Mutes{{12, std::nullopt}}));
  EXPECT_EQ(cbw::load_mutes(file), (cbw::Mutes{{12, std::nullopt}}));
  EXPECT_EQ(cbw::unmute_subnets(file, {}), cbw::Mutes{});
  EXPECT_FALSE(fs::exists(file));  // nothing muted: no file

  std::ofstream(file) << R"({"mutes": {"7": {"until": "soon"}}})";
  EXPECT_THROW(cbw::load_mutes(file), cbw::ValueError);
}

cbw::BurnMap burns(std::initializer_list<cbw::json::Member> members) {
  return cbw::BurnMap(cbw::json::Object(members));
}

using PassRules = TempDir;

TEST_F(PassRules, MeasureEachSubnetWithItsThresholdAndCountWhatTheyKeepBack) {
  cbw::host::set_clock([] { return kMidnight; });
  cbw::WatchOptions options;
  options.rules.watched = cbw::parse_subnet_set("1-9");
  options.rules.ignored = cbw::parse_subnet_set("3");
  options.rules.subnet_thresholds = {{2, 0.5}, {4, 0.0}};
  options.rules.honour_mutes = true;
  cbw::mute_subnets(path("s.json.mutes.json"), {5}, std::nullopt);
  driver::PassRecord record("cycle");
  const driver::PassRules rules(options, path("s.json"), 0.1, record);

  const cbw::BurnMap before =
      burns({{"1", "0.1"}, {"2", "0.1"}, {"3", "0.1"}, {"4", "0.1"}, {"5", "0.1"}, {"10", "0.1"}});
  const cbw::BurnMap after = burns(
      {{"1", "0.3"}, {"2", "0.3"}, {"3", "0.9"}, {"4", "0.1000001"}, {"5", "0.9"}, {"10", "0.9"}});
  EXPECT_EQ(rules.changes(before, after, record),
            (cbw::ChangeList{{"1", "0.1", "0.3"}, {"4", "0.1", "0.1000001"}}));
  EXPECT_STREQ(rules.suppressed("3"), "ignored");
  EXPECT_STREQ(rules.suppressed("10"), "unwatched");
  EXPECT_STREQ(rules.suppressed("5"), "muted");
  EXPECT_FALSE(rules.shown("10"));
  EXPECT_TRUE(rules.shown("5"));  // a mute keeps changes back, not the table
}

TEST_F(PassRules, ARulesSourceReplacesTheRulesOfThePass) {
  cbw::WatchOptions options;
  options.rules.threshold = 0.5;
  options.rules_source = [] {
    cbw::WatchRules rules;
    rules.threshold = 0.01;
    return cbw::RulesUpdate{rules, "rules file r.toml: line 3: kept the last good rules"};
  };
  std::vector<std::string> lines;
  cbw::host::set_log([&](cbw::host::LogLevel, std::string_view line) { lines.emplace_back(line); });
  driver::PassRecord record("cycle");
  const driver::PassRules rules(options, path("s.json"), 1.0, record);
  cbw::host::set_log({});
  EXPECT_EQ(rules.threshold_for("7"), 0.01);
  EXPECT_EQ(lines, std::vector<std::string>{"rules file r.toml: line 3: kept the last good rules"});
}

using ToldValues = TempDir;

TEST_F(ToldValues, FollowWhatTheChatCannotHearOfAndSurviveAStore) {
  cbw::WatchOptions options;
  options.rules.ignored = cbw::parse_subnet_set("3");
  driver::PassRecord record("cycle");
  const driver::PassRules rules(options, path("s.json"), 0.01, record);
  const std::string file = path("s.json.told.json");
  {
    driver::ToldFile told(file, false);
    const cbw::BurnMap stored = burns({{"1", "0.104"}, {"2", "0.2"}, {"3", "0.3"}});
    EXPECT_EQ(told.base(stored), stored);  // nothing told yet: the stored rates
    told.follow(stored, burns({{"1", "0.108"}, {"2", "0.2"}, {"3", "0.5"}, {"4", "0.4"}}), rules);
    told.told({{"2", "0.25"}});
    told.store();
  }
  driver::ToldFile again(file, false);
  // 1 keeps what the chat knows; 3 (ignored) and 4 (new) take the rate of now.
  EXPECT_EQ(again.base(burns({{"1", "0.2"}, {"2", "0.2"}, {"3", "0.9"}, {"4", "0.9"}})),
            burns({{"1", "0.104"}, {"2", "0.25"}, {"3", "0.5"}, {"4", "0.4"}}));
}

}  // namespace
