// The burn state file from C++: values read back as text, the errors a load
// passes on, and a failed save leaving the old file. Layout, leniency,
// permissions and links are covered through the module's tests.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"

namespace cbw = corvane_burn_watch;
namespace fs = std::filesystem;
using cbw::json::Object;

namespace {

constexpr const char* kStamp = "2026-12-06T23:20:46Z";

class StateFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "burns_state_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name = "state.json") const { return (dir_ / name).string(); }
  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static void write(const std::string& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  // Everything in the directory: a failed save must leave no temporary file.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(StateFile, RoundTripsNonAsciiTexts) {
  Object burns{{"1", "\xc3\xa9"}, {"2", "\xf0\x9f\x98\x80/\x7f"}, {"x", "\"\\\n"}};
  cbw::save_burn_state(path(), burns, kStamp);
  std::string bytes = read(path());
  EXPECT_NE(bytes.find("\"\\u00e9\""), std::string::npos);
  EXPECT_NE(bytes.find("\"\\ud83d\\ude00/\\u007f\""), std::string::npos);
  EXPECT_EQ(cbw::load_burn_state(path()), burns);
}

struct LoadCase {
  const char* name;
  std::string content;
  Object expected;
};

class LoadValues : public StateFile, public testing::WithParamInterface<LoadCase> {};

TEST_P(LoadValues, ConvertsEachToText) {
  write(path(), GetParam().content);
  EXPECT_EQ(cbw::load_burn_state(path()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, LoadValues,
    testing::Values(
        LoadCase{"values_converted",
                 " {\"owner_burn_rate\": {\"5\": 0.25, \"6\": null, \"7\": true, \"8\": false,"
                 " \"9\": 7, \"10\": 1e2, \"11\": [1, \"a\"], \"12\": {\"k\": null},"
                 " \"x\": 123456789012345678901234567890}}\n\n",
                 {{"5", "0.25"},
                  {"6", "None"},
                  {"7", "True"},
                  {"8", "False"},
                  {"9", "7"},
                  {"10", "100.0"},
                  {"11", "[1, 'a']"},
                  {"12", "{'k': None}"},
                  {"x", "123456789012345678901234567890"}}},
        LoadCase{"last_duplicate_wins",
                 R"({"owner_burn_rate": {"1": "a", "2": "b", "1": "c"}, "updated_at_utc": 1})",
                 {{"1", "c"}, {"2", "b"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StateFile, MalformedContentThatIsAnError) {
  write(path(), "[]");
  EXPECT_THROW(cbw::load_burn_state(path()), cbw::ValueError);
  write(path(), "{\"owner_burn_rate\": {\"1\": \"\xff\"}}");
  EXPECT_THROW(cbw::load_burn_state(path()), cbw::UnicodeDecodeError);
}

TEST_F(StateFile, FailedSaveLeavesOldFileAndNoTemporaryFile) {
  write(path(), "old baseline");
  fs::create_directory(path("dir.json"));
  auto before = entries();

  struct Failure {
    std::string target;
    int errno_value;
  };
  for (const Failure& f :
       {Failure{path("dir.json"), EISDIR}, Failure{path("missing/state.json"), ENOENT}}) {
    try {
      cbw::save_burn_state(f.target, Object{{"1", "2"}}, kStamp);
      ADD_FAILURE() << "no error for " << f.target;
    } catch (const cbw::OsError& e) {
      EXPECT_EQ(e.errno_value, f.errno_value) << f.target;
      EXPECT_EQ(e.filename, f.target);
    }
  }

  // A write that fails midway (file size limit), with the old file in place.
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 64;
  ::setrlimit(RLIMIT_FSIZE, &small);
  Object big;
  for (int i = 0; i < 100; ++i) big.append(std::to_string(i), "0.5");
  EXPECT_THROW(cbw::save_burn_state(path(), big, kStamp), cbw::OsError);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(read(path()), "old baseline");
  EXPECT_EQ(entries(), before);
}

}  // namespace
