#pragma once
// Muted subnets, kept in a file beside the state file so that an operator's
// command can change them while the watch runs: the watch reads the file at
// every pass and the commands replace it atomically.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane_burn_watch {

// Subnet id -> the POSIX second its mute ends; nullopt: until unmuted.
using Mutes = std::map<long long, std::optional<double>>;

// The mutes in the file at `path`; empty when there is no file. Throws
// ValueError naming the file when it holds something else than mutes, OsError
// when it cannot be read.
Mutes load_mutes(const std::string& path);
// Makes the file hold `mutes` (removes it when there are none).
void save_mutes(const std::string& path, const Mutes& mutes);

// The mutes still in force at `now` (POSIX seconds).
Mutes active_mutes(const Mutes& mutes, double now);

// Mutes `ids` for `seconds` from now by the host's clock (nullopt: until
// unmuted), dropping mutes that have ended; returns the mutes in force
// afterwards.
Mutes mute_subnets(const std::string& path, const std::vector<long long>& ids,
                   std::optional<double> seconds);
// Ends the mutes of `ids` (all of them when `ids` is empty); returns the mutes
// in force afterwards.
Mutes unmute_subnets(const std::string& path, const std::vector<long long>& ids);

// Reads "90s", "30m", "6h", "2d" as seconds. Throws ValueError for another
// shape or a length that is not more than zero.
double parse_duration_seconds(std::string_view text);

}  // namespace corvane_burn_watch
