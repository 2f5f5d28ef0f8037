// The burn state file: the burn map of the last cycle and when it was written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch {
namespace {

constexpr std::string_view kBurnsKey = "owner_burn_rate";
constexpr std::string_view kUpdatedKey = "updated_at_utc";

// The whole content of a regular file, or nullopt when it cannot be read.
std::optional<std::string> read_regular_file(const std::string& path) {
  // O_NONBLOCK: a FIFO swapped in after the caller's check must not hang us.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string content;
  // With room after it, the decoder reads the content where it lies.
  content.reserve(static_cast<std::size_t>(info.st_size) + json::kReadAhead);
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return content;
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

bool names_regular_file(const std::string& path) {
  struct stat info {};
  // A path with a NUL byte cannot name any file.
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

}  // namespace

BurnMap load_burn_state(const std::string& path) {
  if (!names_regular_file(path)) return {};
  std::optional<std::string> content = read_regular_file(path);
  if (!content) return {};

  // Bytes that are not UTF-8 are a fault worth reporting, not a missing baseline.
  utf8::require_valid(*content);
  Value document;
  try {
    document = json::parse_held(*content);
  } catch (const json::SyntaxError&) {
    return {};
  }
  Object* top = document.as_object();
  if (!top)
    throw ValueError("burn state file '" + path + "' holds a top-level " + document.kind_name() +
                     ", not an object");

  Value* stored = top->find(kBurnsKey);
  Object* stored_burns = stored ? stored->as_object() : nullptr;
  if (!stored_burns) return {};

  // The parser already keeps each name once, with its last value. The decoded
  // object becomes the map itself: values that are not text are turned into
  // text where they stand, and nothing is copied.
  for (json::Member& member : *stored_burns)
    if (!member.value.is_text()) member.value = python_text::plain_text(member.value);
  return std::move(*stored_burns);
}

void save_burn_state(const std::string& path, const BurnMap& burns, const std::string& updated_at) {
  if (path.find('\0') != std::string::npos) throw ValueError("embedded null byte in path");
  // The map is written where it is, not copied into a document first.
  const Value time(updated_at);
  std::string text =
      json::write_indented_sorted({{kBurnsKey, nullptr, &burns}, {kUpdatedKey, &time, nullptr}});
  text += '\n';
  burns::replace_file_atomically(path, text);
}

}  // namespace corvane_burn_watch
