// The pause file and the interruptible interval sleep of the poll loop.
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/driver.hpp"

namespace corvane_burn_watch {

bool burn_is_paused(std::string_view pause_path) {
  // An empty path switches pausing off without touching the file system; a
  // path with a NUL byte cannot name a file.
  if (pause_path.empty() || pause_path.find('\0') != std::string_view::npos) return false;
  const std::string path(pause_path);
  struct stat info {};
  // stat() follows symbolic links; any failure (missing, no permission, name
  // too long) simply means no pause.
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool sleep_until_interval(double interval_seconds, std::string_view pause_path) {
  // The interval is the sum of the requested steps, not a clock reading; a
  // non-positive or not-a-number interval goes straight to the final check.
  double remaining = interval_seconds;
  while (remaining > 0) {
    if (burn_is_paused(pause_path)) return false;
    const double step = remaining < 1 ? remaining : 1.0;
    host::sleep_for(step);
    remaining -= step;
  }
  // A pause file created during the last step still counts.
  return !burn_is_paused(pause_path);
}

}  // namespace corvane_burn_watch
