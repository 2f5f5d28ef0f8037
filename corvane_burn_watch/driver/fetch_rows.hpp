#pragma once
// The opening steps that the watch cycle and the startup snapshot share: take
// the API key, fetch the subnet list and tell a failure from the rows.
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/driver/watch_options.hpp"

namespace corvane_burn_watch::driver {

struct FetchedRows {
  std::string updated_at;  // UTC timestamp text, taken before the fetch
  SubnetRows rows;         // as the service sent them
};

// Runs the opening steps, `updated_at` being the pass's UTC timestamp text
// (taken once per pass, before the fetch). Returns nullopt after writing its own log line when
// there is no API key, or when the fetch fails (that line is
// `failure_prefix` + the result as one-line JSON). Throws TypeError when the
// fetch result is neither a failure mapping nor a list of objects. The
// options bound each request, warn of a full page and leave out rows whose
// "netuid" is no whole number.
std::optional<FetchedRows> fetch_watched_rows(std::string_view failure_prefix,
                                              std::string updated_at,
                                              const std::optional<Settings>& settings,
                                              const WatchOptions& options);

}  // namespace corvane_burn_watch::driver
