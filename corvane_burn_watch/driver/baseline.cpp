#include "corvane_burn_watch/driver/baseline.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"

namespace corvane_burn_watch::driver {
namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string corrupt_copy_path(const std::string& path, std::string_view updated_at) {
  std::string stamp(updated_at);  // 2026-03-01T12:00:00Z
  stamp.erase(
      std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == ':'; }),
      stamp.end());
  const std::string base = path + ".corrupt-" + stamp;
  std::string candidate = base;
  for (int n = 2; exists(candidate); ++n) candidate = base + "-" + std::to_string(n);
  return candidate;
}

Baseline::Baseline(std::string path, const WatchOptions& options)
    : path_(std::move(path)), options_(options) {
  if (options_.keep_corrupt_state)
    stored_ = burns::read_burn_state(path_);
  else
    stored_.burns = load_burn_state(path_);
}

void Baseline::replace(const BurnMap& current, const std::string& updated_at) {
  if (options_.dry_run) {
    if (!stored_.unusable.empty())
      host::log(host::LogLevel::warning, "burn state file " + path_ + " " + stored_.unusable +
                                             ": it would be kept and replaced (dry run: left "
                                             "as it is)");
    return;
  }
  if (!stored_.unusable.empty()) {
    if (stored_.unreadable)
      throw OsError(EACCES,
                    "burn state file " + path_ + " " + stored_.unusable +
                        ": not replacing it, as no copy of it can be kept",
                    path_);
    const std::string copy = corrupt_copy_path(path_, updated_at);
    burns::replace_file_atomically(copy, stored_.content);
    host::log(host::LogLevel::warning, "burn state file " + path_ + " " + stored_.unusable +
                                           ": kept as " + copy + "; starting a new baseline");
    stored_ = {};  // kept once; the file is about to hold the new map
  }
  save_burn_state(path_, current, updated_at);
}

}  // namespace corvane_burn_watch::driver
