#include "corvane_burn_watch/driver/fetch_rows.hpp"

#include <utility>
#include <variant>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/driver/row_checks.hpp"

namespace corvane_burn_watch::driver {

std::optional<FetchedRows> fetch_watched_rows(std::string_view failure_prefix,
                                              std::string updated_at,
                                              const std::optional<Settings>& settings,
                                              const WatchOptions& options) {
  const std::optional<std::string> auth = settings ? orbisca_auth(*settings) : orbisca_auth();
  if (!auth || auth->empty()) {
    host::log(host::LogLevel::error,
              "orbisca API not available (must be bundled in package defaults)");
    return std::nullopt;
  }
  SubnetFetch fetched =
      fetch_subnet_rows(*auth, settings, RequestLimits{options.request_deadline_seconds});
  if (SubnetRows* rows = std::get_if<SubnetRows>(&fetched)) {
    if (options.warn_full_page) warn_if_page_full(rows->size());
    if (!options.skip_bad_rows) return FetchedRows{std::move(updated_at), std::move(*rows)};
    RowSplit split = split_watchable_rows(std::move(*rows));
    if (!split.left_out.empty())
      host::log(host::LogLevel::warning, left_out_rows_line(split.left_out));
    return FetchedRows{std::move(updated_at), std::move(split.kept)};
  }
  const FetchFailure& failure = std::get<FetchFailure>(fetched);
  host::log(host::LogLevel::error,
            std::string(failure_prefix) + json::write_one_line(failure.result()));
  return std::nullopt;
}

}  // namespace corvane_burn_watch::driver
