// Atomic replacement of a file: temporary file, fsync, rename, directory fsync.
#include "corvane_burn_watch/burns/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// A temporary file beside the target, removed unless it was renamed into place.
class TempFile {
 public:
  TempFile(const std::string& directory, std::string_view base, const std::string& reported_path) {
    // Keep the name within NAME_MAX whatever the target's name is.
    std::string templ = directory + "/." + std::string(base.substr(0, 200)) + ".tmp.XXXXXX";
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
  int fd_ = -1;
  std::string path_;
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

void replace_file_atomically(const std::string& path, std::string_view bytes) {
  std::string target = resolve_links(path);
  std::size_t slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : target.substr(0, slash);
  std::string_view base =
      std::string_view(target).substr(slash == std::string::npos ? 0 : slash + 1);

  // Writing in place would be refused for a file the caller may not write;
  // renaming over it must be refused as well.
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
    throw_os_error(errno, path);

  TempFile temp(directory, base, path);
  if (::fchmod(temp.fd(), mode_for(target)) != 0) throw_os_error(errno, path);
  write_all(temp.fd(), bytes, path);
  if (::fsync(temp.fd()) != 0) throw_os_error(errno, path);
  if (temp.close() != 0) throw_os_error(errno, path);
  if (::rename(temp.path().c_str(), target.c_str()) != 0) throw_os_error(errno, path);
  temp.keep();
  sync_directory(directory, path);
}

}  // namespace corvane_burn_watch::burns
