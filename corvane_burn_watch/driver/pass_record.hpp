#pragma once
// The report of one pass while the pass runs, and handing it to the host's
// cycle observer when the pass ends.
#include <chrono>
#include <string>
#include <string_view>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/driver/cycle_report.hpp"

namespace corvane_burn_watch::driver {

class PassRecord {
 public:
  // Reads the wall clock, once for the whole pass.
  explicit PassRecord(std::string kind);

  // The pass's UTC timestamp text ("2026-03-01T12:00:00Z"), from that one
  // reading: the state file and the message carry it.
  const std::string& updated_at() const { return updated_at_; }
  // That reading in POSIX seconds, for everything else in the pass that asks
  // what time it is (mutes, quiet hours).
  double clock_reading() const { return report_.started; }

  // The pass's burn map; copied only when an observer will read it.
  void set_burns(const BurnMap& burns);
  void count_alert_sent() {
    ++report_.alerts_sent;
    report_.progressed = true;
  }
  void count_state_saved() { report_.progressed = true; }
  void count_failure(std::string_view reason) { report_.telegram_failures.emplace_back(reason); }
  void set_pending(std::size_t subnets) { report_.pending_subnets = static_cast<int>(subnets); }
  void set_muted(std::size_t subnets) { report_.muted_subnets = static_cast<int>(subnets); }
  void count_suppressed(const char* reason) { ++report_.changes_suppressed[reason]; }
  // What went wrong, in a few words, for the summary of a pass that gives 1 or 2.
  void set_problem(std::string problem) { problem_ = std::move(problem); }

  // Calls the observer, if any, with the finished report. An error it throws
  // is logged, never passed on.
  void finish(int result);
  void finish_with_error(std::string_view message);

 private:
  void notify();
  CycleReport report_;
  std::string updated_at_;
  // The pass's duration is measured on the monotonic clock: a wall clock set
  // back or forward meanwhile does not change it.
  std::chrono::steady_clock::time_point steady_start_;
  std::string problem_;
  bool observed_;
};

// Runs `pass(record)` and reports its end, whether it returned or raised.
// An Interrupted host (Ctrl-C) is not reported: the host is stopping.
template <class Pass>
int observed_pass(const char* kind, Pass&& pass) {
  PassRecord record(kind);
  int result = 0;
  try {
    result = pass(record);
  } catch (const std::exception& error) {
    record.finish_with_error(error.what());
    throw;
  }
  record.finish(result);
  return result;
}

}  // namespace corvane_burn_watch::driver
