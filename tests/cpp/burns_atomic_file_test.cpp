// Replacing a file atomically: what a save leaves in the directory, and how a
// later save clears temporary files of processes killed in the middle of one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "corvane_burn_watch/burns/atomic_file.hpp"

namespace fs = std::filesystem;
using corvane_burn_watch::burns::replace_file_atomically;

namespace {

class AtomicFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "atomic_file_XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void touch(const std::string& name) const { std::ofstream(path(name)) << "partial"; }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The id of a process that has exited and been reaped.
  static std::string dead_process_id() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return std::to_string(child);
  }

  fs::path dir_;
};

TEST_F(AtomicFile, SaveLeavesOnlyTheTarget) {
  for (const char* content : {"first", "second, longer than the first", ""}) {
    replace_file_atomically(path("state.json"), content);
    EXPECT_EQ(read("state.json"), content);
    EXPECT_EQ(entries(), std::vector<std::string>{"state.json"});
  }
}

TEST_F(AtomicFile, ClearsTemporaryFilesOfDeadProcessesOnly) {
  const std::string dead = dead_process_id();
  const std::string alive = std::to_string(::getpid());
  const std::vector<std::string> abandoned = {
      ".state.json.tmp." + dead + ".0",       // named just before its rename
      ".state.json.tmp." + dead + ".Xy12Zq",  // named from the start
  };
  const std::vector<std::string> kept = {
      ".state.json.tmp." + alive + ".0",  // a save still running
      ".other.json.tmp." + dead + ".0",   // another file's
      ".state.json.tmp.12ab.0",           // not made by a save
      ".state.json.tmp." + dead,          // no unique ending
      "state.json.tmp." + dead + ".0",    // not hidden
  };
  for (const auto& name : abandoned) touch(name);
  for (const auto& name : kept) touch(name);

  replace_file_atomically(path("state.json"), "new");

  std::vector<std::string> expected = kept;
  expected.push_back("state.json");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries(), expected);
  EXPECT_EQ(read("state.json"), "new");
}

}  // namespace
