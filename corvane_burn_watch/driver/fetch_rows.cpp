#include "corvane_burn_watch/driver/fetch_rows.hpp"

#include <utility>
#include <variant>

#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
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
    if (options.skip_bad_rows) {
      RowSplit split = split_watchable_rows(std::move(*rows));
      if (!split.left_out.empty())
        host::log(host::LogLevel::warning, left_out_rows_line(split.left_out));
      *rows = std::move(split.kept);
    }
    if (options.check_duplicate_rows) *rows = drop_duplicate_rows(std::move(*rows));
    return FetchedRows{std::move(updated_at), std::move(*rows)};
  }
  const FetchFailure& failure = std::get<FetchFailure>(fetched);
  // A service that echoes the key ("invalid key ...", a page quoted under
  // "raw") must not put it in the log.
  host::log(
      host::LogLevel::error,
      std::string(failure_prefix) + http::redact(json::write_one_line(failure.result()), {*auth}));
  return std::nullopt;
}

}  // namespace corvane_burn_watch::driver
