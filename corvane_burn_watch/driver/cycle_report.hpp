#pragma once
// What each pass of the watch came to, told to the host as it ends: a seam of
// the same kind as the clock and sleep seams, so that a host can count
// cycles, export the rates and report its health without the core knowing how.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"

namespace corvane_burn_watch {

struct CycleReport {
  std::string kind;           // "startup" (run_burn_startup_snapshot) or "cycle"
  std::optional<int> result;  // the pass's result code; nullopt when it raised
  std::string error;          // the message of the error it raised; "" if none
  double started = 0;         // POSIX seconds, the pass's one wall clock reading
  double finished = 0;        // `started` plus the duration, on a monotonic clock
  // The burn map of the rows fetched; nullopt when no rows were fetched.
  std::optional<BurnMap> burns;
  int alerts_sent = 0;  // alert messages delivered (the snapshot table is none)
  // One reason per failed delivery attempt: "rate_limited", "server_error",
  // "network", "refused" or "not_configured".
  std::vector<std::string> telegram_failures;
  int pending_subnets = 0;  // subnets waiting in the pending file afterwards
  // Whether the pass moved anything forward: it stored the fetched rates (or,
  // in a dry run, would have) or got a message to the chat. A pass that ends
  // with neither (a failed fetch, every send refused or rate limited) made
  // none, and one after another means the watch is stuck.
  bool progressed = false;
  int muted_subnets = 0;  // mutes in force during the pass (with mutes honoured)
  // Changes the watch rules kept from the chat, by reason: "muted", "ignored"
  // or "unwatched". Only reasons that occurred are present.
  std::map<std::string, int> changes_suppressed;
  std::string summary;  // one short line, e.g. for systemd's STATUS=
};

// The report is handed over: an observer may keep it (a host's metrics read
// the rates when they are scraped) without copying its burn map.
using CycleObserverFn = std::function<void(CycleReport report)>;

// Installs the observer called after every run_burn_watch_once and
// run_burn_startup_snapshot (the poll loop's cycles included), also when the
// pass raised (not for arguments refused before it began, nor when the host
// interrupts it); an empty function removes it. Process-wide, replaceable at any
// time from any thread. An error the observer throws is written as an error
// line and never breaks the watch.
void set_cycle_observer(CycleObserverFn observer);

}  // namespace corvane_burn_watch
