// The one-page fetch of every subnet's latest row.
#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"

namespace corvane_burn_watch {

namespace {

constexpr std::string_view SUBNET_LATEST_PATH = "/api/subnet/latest/v1";
constexpr long long PAGE_LIMIT = 1024;

constexpr std::string_view ROWS_KEY = "data";

Value fetch_subnet_list(std::string_view auth, const json::RowProjection* rows) {
  const Object params{{"limit", PAGE_LIMIT}, {"order", "netuid_asc"}};
  Value payload = data_client::get_json_with_retries(SUBNET_LATEST_PATH, params, auth,
                                                     data_client::DEFAULT_MAX_RETRIES, rows);
  // with_retries only ever hands back a mapping.
  // The rows are moved out, not copied: the payload is dropped here anyway.
  if (Value* found = payload.as_object()->find(ROWS_KEY); found != nullptr && found->truthy())
    return std::move(*found);
  return Object{{"error", "no_subnet_rows"}, {"response", std::move(payload)}};
}

}  // namespace

Value fetch_all_subnets_latest(std::string_view auth) {
  return fetch_subnet_list(auth, nullptr);
}

Value data_client::fetch_subnet_rows(std::string_view auth,
                                     std::span<const std::string_view> members) {
  const json::RowProjection rows{ROWS_KEY, members};
  return fetch_subnet_list(auth, &rows);
}

}  // namespace corvane_burn_watch
