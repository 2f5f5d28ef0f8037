// The state file's lock: flock(2) on a file beside it. The kernel lets go of
// it when the holder dies, however it dies, so a killed watch never leaves a
// stale lock behind.
#include "corvane_burn_watch/driver/state_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "corvane_burn_watch/core/errors.hpp"

namespace corvane_burn_watch {
namespace {

// The process id the holder wrote, or "" when it has not written it yet.
std::string holder_of(int fd) {
  char buffer[32] = {};
  const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
  std::string text(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.find_first_not_of("0123456789") == std::string::npos ? text : "";
}

}  // namespace

StateLock::StateLock(const std::string& state_path) : path_(state_path + ".lock") {
  if (path_.find('\0') != std::string::npos) throw ValueError("embedded null byte in path");
  // Never through a link: the process id written below would truncate and
  // overwrite whatever file the link points at. Not waiting: a FIFO planted
  // there is refused below, not waited on.
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd_ < 0) {
    const int error = errno;
    if (error == ELOOP)
      throw OsError(error, "the lock file is a symbolic link, which is not followed: remove it",
                    path_);
    throw OsError(error, "cannot open the lock file: " + std::string(std::strerror(error)), path_);
  }
  if (struct stat info{}; ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw OsError(EINVAL, "the lock file is not a regular file: remove it", path_);
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    const std::string holder = error == EWOULDBLOCK ? holder_of(fd_) : "";
    ::close(fd_);
    fd_ = -1;
    if (error != EWOULDBLOCK)
      throw OsError(error, "cannot lock: " + std::string(std::strerror(error)), path_);
    throw OsError(EWOULDBLOCK,
                  "burn state file " + state_path + " is in use by " +
                      (holder.empty() ? std::string("another process") : "process " + holder) +
                      " (lock file " + path_ + ")",
                  path_);
  }
  // Who holds it, for the message of the next one that tries. Best effort:
  // the lock itself is what counts.
  const std::string pid = std::to_string(::getpid()) + "\n";
  const bool written = ::ftruncate(fd_, 0) == 0 &&
                       ::pwrite(fd_, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
  (void)written;
}

StateLock::~StateLock() {
  release();
}

void StateLock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor lets go of the flock
  fd_ = -1;
}

}  // namespace corvane_burn_watch
