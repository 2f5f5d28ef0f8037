#include "corvane_burn_watch/driver/fetch_rows.hpp"

#include <utility>
#include <variant>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/driver/row_checks.hpp"

namespace corvane_burn_watch::driver {

bool is_fetch_failure(const json::Value& data) {
  const json::Object* object = data.as_object();
  if (object == nullptr) return false;
  const json::Value* error = object->find("error");
  return error != nullptr && error->truthy();
}

std::optional<FetchedRows> fetch_subnet_rows(std::string_view failure_prefix,
                                             const std::optional<Settings>& settings,
                                             const WatchOptions& options) {
  const std::optional<std::string> auth = settings ? orbisca_auth(*settings) : orbisca_auth();
  if (!auth || auth->empty()) {
    host::log(host::LogLevel::error,
              "orbisca API not available (must be bundled in package defaults)");
    return std::nullopt;
  }
  // Taken once, before the fetch: the state file and the message share it.
  std::string updated_at = host::utc_timestamp_text();
  SubnetFetch fetched = corvane_burn_watch::fetch_subnet_rows(
      *auth, settings, RequestLimits{options.request_deadline_seconds});
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
  const json::Value& data = std::get<json::Value>(fetched);
  if (!is_fetch_failure(data))
    throw TypeError(std::string("subnet list fetch gave a ") + data.kind_name() +
                    " instead of a list of rows");
  // A service that echoes the key ("invalid key ...", a page quoted under
  // "raw") must not put it in the log.
  host::log(host::LogLevel::error,
            std::string(failure_prefix) + http::redact(json::write_one_line(data), {*auth}));
  return std::nullopt;
}

}  // namespace corvane_burn_watch::driver
