// Atomic replacement of a file: temporary file, fsync, rename, directory fsync.
#include "corvane_burn_watch/burns/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"

namespace corvane_burn_watch::burns {
namespace {

[[noreturn]] void throw_os_error(int error, const std::string& path) {
  throw OsError(error, std::strerror(error), path);
}

// A file descriptor that is closed on every path out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The start of the names of the target's temporary files, kept short enough
// for NAME_MAX whatever the target's name is.
std::string temp_prefix(std::string_view base) {
  return "." + std::string(base.substr(0, 200)) + ".tmp.";
}

// Removes temporary files of the target left behind by processes killed in
// the middle of a save. A name carries its maker's process id; a process that
// no longer exists can never finish its rename, so its file is garbage. Files
// of live processes (or of ids this process cannot judge) stay. Best effort:
// any failure here is ignored.
void remove_abandoned_temp_files(const std::string& directory, std::string_view base) {
  const std::string prefix = temp_prefix(base);
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.substr(0, prefix.size()) != prefix) continue;
    const std::string_view rest = name.substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos) continue;
    pid_t maker = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + dot, maker);
    if (ec != std::errc{} || end != rest.data() + dot || maker <= 0) continue;
    if (::kill(maker, 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

// A temporary file beside the target, removed unless it was renamed into place.
//
// Where the file system allows it, the file starts unnamed (O_TMPFILE): a
// process killed while writing or syncing it leaves nothing behind, and only
// the short step between giving it a name and the rename can. Elsewhere it is
// a named file from the start (mkostemp), left behind by a kill at any point.
// Either name is "." base ".tmp." pid "." unique, so that a later save can tell
// a file whose maker has died (see remove_abandoned_temp_files).
class TempFile {
 public:
  TempFile(const std::string& directory, std::string_view base, const std::string& reported_path)
      : name_(directory + "/" + temp_prefix(base) + std::to_string(::getpid()) + ".") {
    // Naming an unnamed file goes through /proc; without it, start named.
    if (::access("/proc/self/fd", X_OK) == 0) {
      fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
      if (fd_ >= 0) return;
    }
    std::string templ = name_ + "XXXXXX";
    fd_ = ::mkostemp(templ.data(), O_CLOEXEC);
    if (fd_ < 0) throw_os_error(errno, reported_path);
    path_ = std::move(templ);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  // Gives an unnamed file its temporary name; returns the errno on failure.
  int link_into_directory() {
    if (!path_.empty()) return 0;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (unsigned attempt = 0;; ++attempt) {
      std::string candidate = name_ + std::to_string(attempt);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        path_ = std::move(candidate);
        return 0;
      }
      if (errno != EEXIST || attempt >= 100) return errno;
    }
  }
  const std::string& path() const { return path_; }
  // Closes now and reports the result: close() can be where a delayed write
  // error shows up.
  int close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void keep() { path_.clear(); }

 private:
  std::string name_;  // the temporary name up to its unique ending
  int fd_ = -1;
  std::string path_;  // empty while the file has no name
};

// Follows symbolic links at the last component of `path` (a dangling link
// gives its target), so that the rename replaces the file and keeps the link.
std::string resolve_links(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t length = ::readlink(target.c_str(), buffer.data(), buffer.size() - 1);
    if (length < 0) throw_os_error(errno, path);
    std::string link(buffer.data(), static_cast<std::size_t>(length));
    if (!link.empty() && link.front() == '/') {
      target = link;
    } else {
      std::size_t slash = target.rfind('/');
      target = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
    }
  }
  throw_os_error(ELOOP, path);
}

// The process umask, read without changing it where /proc allows.
mode_t current_umask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

mode_t mode_for(const std::string& target) {
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  return 0666 & ~current_umask();
}

// What a path that is not a regular file holds, in words.
const char* kind_of_node(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Only a regular file (or nothing) may be replaced: the rename would put a
// plain file in place of a FIFO, a device or a socket and silently destroy it.
// A path that cannot be examined is left to the steps below to report. (A node
// swapped in between this check and the rename is not caught: nothing can
// make a rename conditional on what it replaces.)
void require_regular_or_missing(const std::string& target, const std::string& reported_path) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  throw OsError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL,
                std::string("is ") + kind_of_node(info.st_mode) +
                    ", not a regular file, and is left as it is",
                reported_path);
}

void require_no_link(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
    throw OsError(ELOOP, "is a symbolic link, which is not followed: remove it", path);
}

void write_all(int fd, std::string_view bytes, const std::string& reported_path) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw_os_error(errno, reported_path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Makes the rename itself durable. A directory that cannot be opened or a
// file system that cannot sync directories leaves it to the kernel.
void sync_directory(const std::string& directory, const std::string& reported_path) {
  UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return;
  if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != ENOTSUP)
    throw_os_error(errno, reported_path);
}

}  // namespace

void replace_file_atomically(const std::string& path, std::string_view bytes,
                             const ReplaceOptions& options) {
  if (!options.follow_links) require_no_link(path);
  std::string target = options.follow_links ? resolve_links(path) : path;
  std::size_t slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : target.substr(0, slash);
  std::string_view base =
      std::string_view(target).substr(slash == std::string::npos ? 0 : slash + 1);

  require_regular_or_missing(target, path);
  // Writing in place would be refused for a file the caller may not write;
  // renaming over it must be refused as well.
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
    throw_os_error(errno, path);

  remove_abandoned_temp_files(directory, base);
  TempFile temp(directory, base, path);
  if (::fchmod(temp.fd(), options.mode.value_or(mode_for(target))) != 0)
    throw_os_error(errno, path);
  write_all(temp.fd(), bytes, path);
  if (::fsync(temp.fd()) != 0) throw_os_error(errno, path);
  if (int error = temp.link_into_directory()) throw_os_error(error, path);
  if (temp.close() != 0) throw_os_error(errno, path);
  if (::rename(temp.path().c_str(), target.c_str()) != 0) throw_os_error(errno, path);
  temp.keep();
  sync_directory(directory, path);
}

}  // namespace corvane_burn_watch::burns
