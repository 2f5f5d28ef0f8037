// The cycle observer seam and the report each pass hands to it.
#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/driver/pass_record.hpp"

namespace corvane_burn_watch {
namespace {

// As with the host seams: a caller takes a copy under the lock and calls it
// without the lock, so the observer may be replaced while it runs.
struct Observer {
  std::mutex mutex;
  std::shared_ptr<const CycleObserverFn> fn;
};

Observer& observer() {
  static Observer instance;
  return instance;
}

std::shared_ptr<const CycleObserverFn> current_observer() {
  std::lock_guard lock(observer().mutex);
  return observer().fn;
}

// Longest error message the summary line carries, in code points.
constexpr std::size_t kSummaryErrorCut = 160;

}  // namespace

void set_cycle_observer(CycleObserverFn fn) {
  auto replacement = fn ? std::make_shared<const CycleObserverFn>(std::move(fn)) : nullptr;
  std::shared_ptr<const CycleObserverFn> previous;
  {
    std::lock_guard lock(observer().mutex);
    previous = std::exchange(observer().fn, std::move(replacement));
  }
  // `previous` is released here, outside the lock.
}

namespace driver {

PassRecord::PassRecord(std::string kind) : observed_(current_observer() != nullptr) {
  report_.kind = std::move(kind);
  report_.started = host::now_seconds();
  updated_at_ = host::format_utc_timestamp(report_.started);
  steady_start_ = std::chrono::steady_clock::now();
}

void PassRecord::set_burns(const BurnMap& burns) {
  if (observed_) report_.burns = burns;
}

void PassRecord::finish(int result) {
  report_.result = result;
  notify();
}

void PassRecord::finish_with_error(std::string_view message) {
  report_.error = std::string(message);
  problem_ = utf8::is_valid(message) ? std::string(utf8::prefix(message, kSummaryErrorCut))
                                     : std::string("an error");
  notify();
}

void PassRecord::notify() {
  // Read again: an observer installed during the pass still hears of its end.
  const auto fn = current_observer();
  if (!fn) return;
  // No second reading of the wall clock: the start plus the time elapsed.
  report_.finished =
      report_.started +
      std::chrono::duration<double>(std::chrono::steady_clock::now() - steady_start_).count();
  const std::string at = host::format_utc_timestamp(report_.finished).substr(11);
  const std::string pending = std::to_string(report_.pending_subnets) + " subnet(s) pending";
  std::string& summary = report_.summary;
  if (!report_.result) {
    summary = report_.kind + " error at " + at + ": " + problem_;
  } else if (*report_.result == 0) {
    summary = report_.kind + " ok at " + at + ": " +
              std::to_string(report_.burns ? report_.burns->size() : 0) + " subnets, " +
              std::to_string(report_.alerts_sent) + " alert message(s) sent, " + pending;
  } else {
    summary = report_.kind + (*report_.result == 2 ? " refused at " : " failed at ") + at + ": " +
              (problem_.empty() ? std::string("see the log") : problem_) + "; " + pending;
  }
  try {
    (*fn)(std::move(report_));  // the pass is over: its report is not read again
  } catch (const std::exception& error) {
    host::log(host::LogLevel::error, std::string("cycle observer failed: ") + error.what());
  }
}

}  // namespace driver
}  // namespace corvane_burn_watch
