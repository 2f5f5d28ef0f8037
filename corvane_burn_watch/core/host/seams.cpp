#include "corvane_burn_watch/core/host/seams.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "corvane_burn_watch/core/text/one_line.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::host {
namespace {

// The installed hooks. A caller takes a copy under the lock and calls it
// without the lock, so a hook may run for long and may be replaced meanwhile.
struct Hooks {
  std::mutex mutex;
  std::shared_ptr<const ClockFn> clock;
  std::shared_ptr<const SleepFn> sleep;
  std::shared_ptr<const InterruptCheckFn> interrupt_check;
  std::shared_ptr<const LogFn> log;
  std::shared_ptr<const OutputFn> output;
};

Hooks& hooks() {
  static Hooks instance;
  return instance;
}

template <class Fn>
void install(std::shared_ptr<const Fn> Hooks::*slot, Fn fn) {
  auto replacement = fn ? std::make_shared<const Fn>(std::move(fn)) : nullptr;
  std::shared_ptr<const Fn> previous;
  {
    std::lock_guard lock(hooks().mutex);
    previous = std::exchange(hooks().*slot, std::move(replacement));
  }
  // `previous` is released here, outside the lock.
}

template <class Fn>
std::shared_ptr<const Fn> current(std::shared_ptr<const Fn> Hooks::*slot) {
  std::lock_guard lock(hooks().mutex);
  return hooks().*slot;
}

// Longest real sleep between two interrupt checks.
constexpr double kSleepSlice = 0.2;

}  // namespace

void set_clock(ClockFn clock) {
  install(&Hooks::clock, std::move(clock));
}
void set_sleep(SleepFn sleep) {
  install(&Hooks::sleep, std::move(sleep));
}
void set_interrupt_check(InterruptCheckFn check) {
  install(&Hooks::interrupt_check, std::move(check));
}
void set_log(LogFn log) {
  install(&Hooks::log, std::move(log));
}
void set_output(OutputFn output) {
  install(&Hooks::output, std::move(output));
}

double now_seconds() {
  if (auto clock = current(&Hooks::clock)) return (*clock)();
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string format_utc_timestamp(double posix_seconds) {
  const std::time_t whole = static_cast<std::time_t>(std::floor(posix_seconds));
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text, n);
}

std::string utc_timestamp_text() {
  return format_utc_timestamp(now_seconds());
}

void check_interrupt() {
  if (auto check = current(&Hooks::interrupt_check)) (*check)();
}

void sleep_for(double seconds) {
  if (auto sleep = current(&Hooks::sleep)) return (*sleep)(seconds);
  if (!(seconds > 0)) return check_interrupt();
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    check_interrupt();
    const auto left = std::chrono::duration<double>(deadline - clock::now()).count();
    if (left <= 0) return;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, kSleepSlice)));
  }
}

namespace {

constexpr std::string_view kLogPrefix = "[burn] ";

void write_fd(int fd, std::string_view line) {
  const char* data = line.data();
  std::size_t left = line.size();
  // One write(2) normally carries the whole line; loop only for a short write.
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report a failing standard stream
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

// `message` cut so that the whole line stays within kLogLineLimit bytes, with
// a note of the characters left out; unchanged when it fits.
std::string capped(std::string_view message) {
  const std::size_t room = kLogLineLimit - kLogPrefix.size() - 1;
  if (message.size() <= room) return std::string(message);
  // The note takes at most 40 bytes; cut before a continuation byte so a
  // character is never split.
  std::size_t cut = room - 40;
  while (cut > 0 && utf8::is_continuation(static_cast<unsigned char>(message[cut]))) --cut;
  std::size_t left_out = 0;
  for (std::size_t i = cut; i < message.size(); ++i)
    left_out += !utf8::is_continuation(static_cast<unsigned char>(message[i]));
  std::string out(message.substr(0, cut));
  out += " [... " + std::to_string(left_out) + " more characters]";
  return out;
}

}  // namespace

namespace {
thread_local bool one_line_logs = false;
}  // namespace

OneLineLogs::OneLineLogs(bool on) : previous_(one_line_logs) {
  one_line_logs = previous_ || on;
}

OneLineLogs::~OneLineLogs() {
  one_line_logs = previous_;
}

void log(LogLevel level, std::string_view message) {
  const std::string text =
      one_line_logs ? capped(one_line::escape_controls(message)) : capped(message);
  if (auto sink = current(&Hooks::log)) return (*sink)(level, text);
  std::string line;
  line.reserve(kLogPrefix.size() + text.size() + 1);
  line += kLogPrefix;
  line += text;
  line += '\n';
  write_fd(STDERR_FILENO, line);
}

void write_output(std::string_view text) {
  if (auto sink = current(&Hooks::output)) return (*sink)(text);
  write_fd(STDOUT_FILENO, text);
}

}  // namespace corvane_burn_watch::host
