#pragma once
// What a long-running watch asks of the driver beyond one plain pass. Every
// driver operation takes this record; left at its defaults it changes
// nothing, and the operations behave exactly as they do without it. The
// service preset (service()) turns the service features on; the burn-watch
// program's commands and its demo all start from it.
#include <string>

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

  // The long-running service: rows, state file and delivery guarded, every
  // request bounded by 300 s, at most 60 s of Telegram's rate limit waited
  // out per pass. A host sets what is its own to set (pending file, startup
  // threshold, forum topic, table, dry run) on top.
  static WatchOptions service();
};

inline WatchOptions WatchOptions::service() {
  return {
      .skip_bad_rows = true,
      .keep_corrupt_state = true,
      .warn_full_page = true,
      .request_deadline_seconds = 300,
      .redeliver = true,
      .max_retry_after_seconds = 60,
  };
}

}  // namespace corvane_burn_watch
