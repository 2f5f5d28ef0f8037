// The guards of a long-running watch: rows that would break a pass, a state
// file that cannot be used, and one watch per state file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "corvane_burn_watch/burns/state_file.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/driver/baseline.hpp"
#include "corvane_burn_watch/driver/row_checks.hpp"
#include "corvane_burn_watch/driver/state_lock.hpp"

namespace cbw = corvane_burn_watch;
namespace driver = corvane_burn_watch::driver;
namespace fs = std::filesystem;
using cbw::json::Value;

namespace {

cbw::SubnetRow row(std::optional<Value> netuid) {
  return {std::move(netuid), Value(0.5)};
}

TEST(SplitWatchableRows, LeavesOutRowsWhoseIdIsNoWholeNumber) {
  cbw::SubnetRows rows{row(Value(1)),     row(Value(nullptr)), row(Value("abc")),
                       row(Value(" 7 ")), row(Value(1.5)),     row(std::nullopt),
                       row(Value(7.0)),   row(Value(true)),    row(Value("+2"))};
  driver::RowSplit split = driver::split_watchable_rows(std::move(rows));
  std::vector<Value> kept;
  for (const auto& r : split.kept) kept.push_back(*r.netuid);
  EXPECT_EQ(kept, (std::vector<Value>{Value(1), Value(" 7 "), Value("+2")}));
  EXPECT_EQ(split.left_out,
            (std::vector<std::string>{"None", "abc", "1.5", "(missing)", "7.0", "True"}));
}

TEST(SplitWatchableRows, TheLineNamesTheFirstTenIds) {
  std::vector<std::string> ids;
  for (int i = 0; i < 12; ++i) ids.push_back("x" + std::to_string(i));
  EXPECT_EQ(driver::left_out_rows_line(ids),
            "left out 12 row(s) whose netuid is not a whole number: "
            "x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, ...");
}

class TempDir : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "guards_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  void write(const char* name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  fs::path dir_;
};

struct UnusableCase {
  const char* name;
  std::string bytes;
  const char* reason;
};

class UnusableStateTest : public TempDir, public testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableStateTest, SaysWhyAndKeepsTheBytes) {
  write("state.json", GetParam().bytes);
  const cbw::burns::StoredState state = cbw::burns::read_burn_state(path("state.json"));
  EXPECT_TRUE(state.burns.empty());
  EXPECT_NE(state.unusable.find(GetParam().reason), std::string::npos) << state.unusable;
  EXPECT_EQ(state.content, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, UnusableStateTest,
    testing::Values(UnusableCase{"empty", "", "is empty"},
                    UnusableCase{"hello", "hello", "is not valid JSON"},
                    UnusableCase{"truncated", "{\n  \"owner_burn_rate\": {\n    \"1\": \"0.",
                                 "is not valid JSON"},
                    UnusableCase{"bom", "\xEF\xBB\xBF{\"owner_burn_rate\": {}}", "byte-order mark"},
                    UnusableCase{"notUtf8", "{\"owner_burn_rate\": {\"1\": \"\xFF\"}}",
                                 "is not UTF-8"},
                    UnusableCase{"topLevelList", "[]", "holds a JSON list, not an object"},
                    UnusableCase{"noBurnMap", "{}", "has no \"owner_burn_rate\" map"},
                    UnusableCase{"burnMapNotObject", "{\"owner_burn_rate\": \"x\"}",
                                 "has no \"owner_burn_rate\" map"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TempDir, UsableAndMissingStateFilesAreNoProblem) {
  EXPECT_TRUE(cbw::burns::read_burn_state(path("none.json")).unusable.empty());
  write("state.json", R"({"owner_burn_rate": {"5": 0.25}})");
  const cbw::burns::StoredState state = cbw::burns::read_burn_state(path("state.json"));
  EXPECT_TRUE(state.unusable.empty());
  EXPECT_EQ(state.burns, (cbw::json::Object{{"5", "0.25"}}));
}

TEST_F(TempDir, CorruptCopyNamesDoNotCollide) {
  const std::string state = path("s.json");
  const std::string noon = "2026-03-01T12:00:00Z";
  EXPECT_EQ(driver::corrupt_copy_path(state, noon), state + ".corrupt-20260301T120000Z");
  write("s.json.corrupt-20260301T120000Z", "x");
  EXPECT_EQ(driver::corrupt_copy_path(state, noon), state + ".corrupt-20260301T120000Z-2");
}

TEST_F(TempDir, ASecondLockOnTheStateFileIsRefusedNamingTheHolder) {
  const std::string state = path("s.json");
  auto first = std::make_unique<cbw::StateLock>(state);
  try {
    cbw::StateLock second(state);
    FAIL() << "a second lock was granted";
  } catch (const cbw::OsError& e) {
    EXPECT_EQ(e.errno_value, EWOULDBLOCK);
    EXPECT_NE(std::string(e.what()).find("process " + std::to_string(::getpid())),
              std::string::npos)
        << e.what();
  }
  first->release();
  EXPECT_NO_THROW(cbw::StateLock again(state));
  first.reset();
  EXPECT_TRUE(fs::exists(state + ".lock"));
}

}  // namespace
