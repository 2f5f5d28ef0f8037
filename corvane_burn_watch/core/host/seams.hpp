#pragma once
// The seams between the library and its host: the UTC clock, sleeping,
// interrupt checks, log output and standard output. A host may replace each of them (the
// Python binding does, to call Python functions, release the GIL and honour
// Ctrl-C); tests replace the clock and the sleep so that they never wait for
// real pauses. Each seam is process-wide and may be replaced at any time,
// from any thread.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace corvane_burn_watch::host {

using ClockFn = std::function<double()>;         // POSIX seconds, UTC
using SleepFn = std::function<void(double)>;     // seconds
using InterruptCheckFn = std::function<void()>;  // throws Interrupted to stop

enum class LogLevel { info, warning, error };
// One log line: its level and its text, without the "[burn] " prefix and the
// line feed that the plain output adds.
using LogFn = std::function<void(LogLevel level, std::string_view message)>;
// Text for the host's standard output (what a dry run would have sent).
using OutputFn = std::function<void(std::string_view text)>;

// Empty functions restore the real clock, real sleeping, no interrupt check,
// the plain log lines on standard error and writes to file descriptor 1.
void set_clock(ClockFn clock);
void set_sleep(SleepFn sleep);
void set_interrupt_check(InterruptCheckFn check);
void set_log(LogFn log);
void set_output(OutputFn output);

// Current time in POSIX seconds, from the installed clock or the system's.
double now_seconds();

// The current UTC time as "%Y-%m-%dT%H:%M:%SZ", seconds truncated.
std::string utc_timestamp_text();

// Formats POSIX seconds as "%Y-%m-%dT%H:%M:%SZ" (UTC), seconds truncated.
std::string format_utc_timestamp(double posix_seconds);

// Sleeps through the installed sleep function, or for real in short slices
// with an interrupt check before each slice, so Ctrl-C ends it promptly.
void sleep_for(double seconds);

// Lets the host stop a long wait; throws Interrupted when it wants to.
// Every wait calls this at least about once a second.
void check_interrupt();

// Longest log line, in bytes, the "[burn] " prefix and the line feed included.
inline constexpr std::size_t kLogLineLimit = 8 * 1024;

// Writes one log line: by default "[burn] " + message + "\n" to standard
// error in a single write(2), else through the installed log function. A
// message that would make the line longer than kLogLineLimit is cut at a
// character boundary and ends with a note of how many characters were left out.
void log(LogLevel level, std::string_view message);

// While one lives, every log line written on its thread has its control
// characters escaped (one_line::escape_controls), so that text a server sent
// can neither break a line nor forge one. Nests; `on` false changes nothing.
class OneLineLogs {
 public:
  explicit OneLineLogs(bool on);
  ~OneLineLogs();
  OneLineLogs(const OneLineLogs&) = delete;
  OneLineLogs& operator=(const OneLineLogs&) = delete;

 private:
  bool previous_;
};

// Writes `text` to the host's standard output: through the installed function,
// else to file descriptor 1, all of it.
void write_output(std::string_view text);

}  // namespace corvane_burn_watch::host
