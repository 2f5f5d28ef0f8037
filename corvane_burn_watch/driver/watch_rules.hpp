#pragma once
// Which subnets a watch tells the chat about, and how: a watchlist, ignored
// subnets, per-subnet thresholds, drift from the value last told, mutes and
// quiet hours. Part of the watch options; left at their defaults they change
// nothing.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane_burn_watch {

// Subnet ids as single ids and inclusive ranges, as in "1,7,64-70".
struct SubnetSet {
  std::vector<std::pair<long long, long long>> ranges;  // first, last (inclusive)

  bool contains(long long id) const;
  bool operator==(const SubnetSet&) const = default;
};

// Reads "1,7,64-70" (white space around items allowed). Throws ValueError
// saying what is wrong: an empty list or item, an id that is no whole number
// of at least 0, a range whose end comes before its start.
SubnetSet parse_subnet_set(std::string_view text);
// The set written back as "1,7,64-70".
std::string subnet_set_text(const SubnetSet& set);
// The whole number a subnet id text reads as ("7", " 7 ", "007"); nullopt for
// one that is no whole number or does not fit.
std::optional<long long> subnet_number(std::string_view id_text);

// A daily window of local time in which messages go out without sound.
struct QuietHours {
  int start_minute = 0;  // minutes after local midnight, 0..1439
  int end_minute = 0;    // less than start_minute: the window wraps midnight
  // The local zone's distance from UTC, in seconds east. The host keeps it
  // current (a rules source hands it over at every pass), since the library
  // has no zone database.
  int utc_offset_seconds = 0;

  // Whether the local time at `posix_seconds` is inside the window: from the
  // start minute included to the end minute excluded.
  bool contains(double posix_seconds) const;
  bool operator==(const QuietHours&) const = default;
};

// Reads "HH:MM-HH:MM" ("22:30-07:00" wraps midnight). Throws ValueError for
// another shape, an hour past 23 or a minute past 59, or equal ends.
QuietHours parse_quiet_hours(std::string_view text);
// "22:30-07:00".
std::string quiet_hours_text(const QuietHours& quiet);

// What a subnet's change is measured from.
enum class CompareTo {
  last,     // the previous pass's value (the state file)
  alerted,  // the value the chat was last told (the told values file)
};

struct WatchRules {
  // Replaces the threshold the operation was given, for every subnet without
  // one of its own.
  std::optional<double> threshold;
  // Only these subnets are alerted and shown in the startup table; nullopt:
  // every subnet. The state file keeps every subnet either way.
  std::optional<SubnetSet> watched;
  // These subnets are never alerted nor shown in the startup table.
  SubnetSet ignored;
  // A subnet's own threshold, in place of the general one.
  std::map<long long, double> subnet_thresholds;

  CompareTo compare_to = CompareTo::last;
  // With CompareTo::alerted, the values last told to the chat; empty:
  // "<state file>.told.json". Written atomically, never in a dry run.
  std::string told_path;

  // Read the mutes file at every pass: a muted subnet's changes are not
  // alerted, and its pending lines are dropped.
  bool honour_mutes = false;
  // The mutes file; empty: "<state file>.mutes.json".
  std::string mutes_path;

  // Messages sent inside this window go out without sound.
  std::optional<QuietHours> quiet_hours;

  bool operator==(const WatchRules&) const = default;
};

// What a rules source gives at the start of each pass.
struct RulesUpdate {
  WatchRules rules;     // the rules of this pass
  std::string warning;  // when not empty, written as a warning line
};
// Called at the start of every pass (a host that re-reads a rules file keeps
// the last good rules itself and says why in `warning`). An error it throws
// fails the pass as any other error does.
using RulesSourceFn = std::function<RulesUpdate()>;

// "<state file>.told.json" and "<state file>.mutes.json", or the paths the
// rules name.
std::string told_file_path(const std::string& state_path, const WatchRules& rules);
std::string mutes_file_path(const std::string& state_path, const WatchRules& rules);

}  // namespace corvane_burn_watch
