#pragma once
// The seams between the library and its host: the UTC clock, sleeping,
// interrupt checks and standard error. A host may replace the clock, the sleep
// and the interrupt check (the Python binding does, to call Python functions,
// release the GIL and honour Ctrl-C); tests replace the clock and the sleep so
// that they never wait for real pauses.
#include <functional>
#include <string>
#include <string_view>

namespace corvane_burn_watch::platform {

using ClockFn = std::function<double()>;         // POSIX seconds, UTC
using SleepFn = std::function<void(double)>;     // seconds
using InterruptCheckFn = std::function<void()>;  // throws Interrupted to stop

// Empty functions restore the real clock, real sleeping and no interrupt check.
void set_clock(ClockFn clock);
void set_sleep(SleepFn sleep);
void set_interrupt_check(InterruptCheckFn check);

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

// Writes one whole line to standard error in a single write(2).
void write_stderr(std::string_view line);

}  // namespace corvane_burn_watch::platform
