// Reading a whole regular file and decoding it as one JSON document.
#include "corvane_burn_watch/burns/json_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::burns {
namespace {

bool names_regular_file(const std::string& path) {
  struct stat info {};
  // A path with a NUL byte cannot name any file.
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

// The whole content of a regular file; on failure nullopt, with `error` set.
std::optional<std::string> read_regular_file(const std::string& path, int& error, unsigned& mode) {
  // O_NONBLOCK: a FIFO swapped in after the caller's check must not hang us.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return std::nullopt;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = EINVAL;
    return std::nullopt;
  }
  mode = info.st_mode & 0777;
  std::string content;
  // With room after it, the decoder reads the content where it lies.
  content.reserve(static_cast<std::size_t>(info.st_size) + json::kReadAhead);
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return content;
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

JsonFile read_json_file(const std::string& path) {
  JsonFile file;
  if (!names_regular_file(path)) return file;
  int error = 0;
  std::optional<std::string> content = read_regular_file(path, error, file.mode);
  if (!content) {
    file.status = JsonFile::Status::unreadable;
    file.problem = std::string("cannot be read (") + std::strerror(error) + ")";
    return file;
  }
  file.content = std::move(*content);
  if (!utf8::is_valid(file.content)) {
    file.status = JsonFile::Status::not_utf8;
    file.problem = "is not UTF-8 text";
    return file;
  }
  try {
    file.document = json::parse(file.content);
  } catch (const json::SyntaxError& e) {
    file.status = JsonFile::Status::not_json;
    if (file.content.find_first_not_of(" \t\r\n") == std::string::npos)
      file.problem = "is empty";
    else if (std::string_view(file.content).substr(0, 3) == kByteOrderMark)
      file.problem = "starts with a byte-order mark";
    else
      file.problem = std::string("is not valid JSON (") + e.what() + ")";
    return file;
  }
  file.status = JsonFile::Status::parsed;
  return file;
}

}  // namespace corvane_burn_watch::burns
