#pragma once
// One watch per state file: an exclusive lock that a host holds for as long as
// it works on the state (for a long-running watch: the startup snapshot and the
// whole poll loop).
#include <string>

namespace corvane_burn_watch {

class StateLock {
 public:
  // Takes an exclusive flock(2) on "<state_path>.lock" (created if need be)
  // without waiting, and writes this process's id into it. Throws OsError
  // (EWOULDBLOCK) naming the process that holds it when another one does, or
  // OsError for a lock file that cannot be opened; a lock file that is a
  // symbolic link (ELOOP) or not a regular file (EINVAL) is refused, naming
  // it, and nothing is written through it.
  explicit StateLock(const std::string& state_path);
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  ~StateLock();

  // Lets go of the lock now; later calls do nothing. The lock file stays:
  // removing it would let two processes lock two different files.
  void release();
  bool held() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace corvane_burn_watch
