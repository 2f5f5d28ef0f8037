#pragma once
// What a long-running watch asks of the driver beyond one plain pass. Every
// driver operation takes this record; left at its defaults it changes
// nothing, and the operations behave exactly as they do without it. The
// service preset (service()) turns the service features on; the burn-watch
// program's commands and its demo all start from it.
#include <string>

#include "corvane_burn_watch/driver/watch_rules.hpp"

namespace corvane_burn_watch {

struct WatchOptions {
  // ---- Rows and the state file ----

  // Rows whose "netuid" is missing or not a whole number ("abc", null, 1.5)
  // are left out of the burn map and the snapshot table, with one warning line
  // per pass naming them, instead of failing every pass.
  bool skip_bad_rows = false;
  // A state file that is there but cannot be used (not UTF-8, not JSON, no
  // burn map, ...) is kept as "<state file>.corrupt-<UTC YYYYmmddTHHMMSSZ>"
  // before it is replaced, with one warning line saying why; one that cannot
  // even be read is not replaced at all (the pass fails).
  bool keep_corrupt_state = false;
  // A warning line per pass when the subnet list filled its whole page: the
  // subnets beyond it are not watched.
  bool warn_full_page = false;
  // Bound on every request to the data service and to Telegram, connecting
  // included; past it the request fails as a network failure does. 0: none.
  double request_deadline_seconds = 0;

  // ---- Delivery that loses no alert ----

  // Changes not yet delivered are kept in the pending alerts file (written
  // before the state file) and sent again, coalesced to one line per subnet,
  // until they reach the chat. Telegram's rules are followed: a 429's
  // retry_after is waited out (see max_retry_after_seconds), a group that
  // became a supergroup is followed to its new id, and a refusal of the bot or
  // the chat (401, 403, 404, 400 chat not found) or a missing token gives the
  // result 2: "refused, restarting cannot help". The startup snapshot first
  // alerts what changed since the state file was saved.
  bool redeliver = false;
  // The pending alerts file; empty: "<state file>.pending.json".
  std::string pending_path;
  // The longest a pass waits, in all, for Telegram's rate limit; an answer that
  // asks for more leaves the rest pending for the next pass.
  double max_retry_after_seconds = 60;
  // The threshold the startup snapshot compares the stored rates with (a watch
  // cycle takes its own as an argument).
  double startup_threshold = 0;

  // ---- Messages ----

  // Whether the startup snapshot posts the table of all rates.
  bool startup_table = true;
  // The snapshot table goes out with disable_notification (alerts still ring).
  bool quiet_startup_table = false;
  // Every message goes to this forum topic (message_thread_id); empty: none.
  std::string message_thread_id;

  // ---- Trying it out ----

  // Every message the chat would get is written to the host's standard output
  // (each followed by a line "----") instead of being sent, and neither the
  // state file nor the pending alerts file is written.
  bool dry_run = false;

  // ---- What a server or an answer may get wrong ----
  // (Added last: a host may build this record member by member in order.)

  // Only a boolean true in a sendMessage reply's "ok" counts as delivered
  // ({"ok": "false"} with status 200 is a failure).
  bool strict_telegram_ok = false;
  // A change to or from a burn that is not a finite number ("NaN", "inf",
  // "-Infinity") counts whenever the burn text differs; without it no
  // comparison with NaN is ever a change.
  bool non_finite_changes = false;
  // How long a subnet missing from the answers keeps its last value in the
  // state file, in days, so that a change is alerted when it comes back; one
  // warning line names the subnets that went missing. 0: a missing subnet is
  // dropped at once (and its change on return is never alerted).
  double keep_absent_days = 0;
  // Several rows with the same subnet id in one answer give a warning line;
  // when their burns differ, the subnet sits this pass out (keeping its stored
  // value) instead of taking whichever row came last.
  bool check_duplicate_rows = false;
  // Every log line stays one line: control characters in it (which only
  // server-supplied text can bring) are written as escapes (\n, \x1b, ...).
  bool one_line_logs = false;

  // ---- Which subnets the chat hears of, and how ----

  // The watchlist, thresholds, drift, mutes and quiet hours (watch_rules.hpp).
  WatchRules rules;
  // When set, called at the start of every pass for the rules of that pass in
  // place of `rules` (a host that re-reads a rules file at every cycle).
  RulesSourceFn rules_source;

  // The long-running service: rows, state file, delivery, answers and log
  // lines guarded, every request bounded by 300 s, at most 60 s of Telegram's
  // rate limit waited out per pass, a missing subnet's rate kept for a week (an
  // outage of the service is shorter; a subnet gone longer is gone), the
  // mutes honoured. A host sets what is its own to set (pending file, startup
  // threshold, forum topic, table, dry run, the other rules) on top.
  static WatchOptions service();
};

inline WatchOptions WatchOptions::service() {
  // Each field set by name on top of the defaults, which the plain
  // behaviour keeps (and -Wextra would flag as left out of an initialiser).
  WatchOptions options;
  options.skip_bad_rows = true;
  options.keep_corrupt_state = true;
  options.warn_full_page = true;
  options.request_deadline_seconds = 300;
  options.redeliver = true;
  options.max_retry_after_seconds = 60;
  options.strict_telegram_ok = true;
  options.non_finite_changes = true;
  options.keep_absent_days = 7;
  options.check_duplicate_rows = true;
  options.one_line_logs = true;
  options.rules.honour_mutes = true;  // the mutes file, read at every pass
  return options;
}

}  // namespace corvane_burn_watch
