// The one-page fetch of every subnet's latest row.
#include <utility>

#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"

namespace corvane_burn_watch {

namespace {

constexpr std::string_view SUBNET_LATEST_PATH = "/api/subnet/latest/v1";

constexpr std::string_view ROWS_KEY = "data";

Value fetch_subnet_list(std::string_view auth, const data_client::SettingsSource& settings,
                        const RequestLimits& limits, const json::RowProjection* rows) {
  const Object params{{"limit", SUBNET_PAGE_LIMIT}, {"order", "netuid_asc"}};
  Value payload = data_client::get_json_with_retries(
      SUBNET_LATEST_PATH, params, auth, data_client::DEFAULT_MAX_RETRIES, settings, limits, rows);
  // with_retries only ever hands back a mapping.
  // The rows are moved out, not copied: the payload is dropped here anyway.
  if (Value* found = payload.as_object()->find(ROWS_KEY); found != nullptr && found->truthy())
    return std::move(*found);
  return Object{{"error", "no_subnet_rows"}, {"response", std::move(payload)}};
}

}  // namespace

Value fetch_all_subnets_latest(std::string_view auth) {
  return fetch_subnet_list(auth, {}, {}, nullptr);
}

json::Document fetch_all_subnets_latest_document(std::string_view auth) {
  // The answer is checked with every row left empty; the rows themselves are
  // kept as decoded.
  std::optional<json::Document> rows;
  const json::RowProjection projection{ROWS_KEY, {}, &rows};
  Value data = fetch_subnet_list(auth, {}, {}, &projection);
  // The rows of an error answer are decoded whole: only a success answer's
  // are kept as decoded.
  if (data.is_list() && rows) return std::move(*rows);
  return json::Document(std::move(data));
}

SubnetFetch fetch_subnet_rows(std::string_view auth, const std::optional<Settings>& settings,
                              const RequestLimits& limits) {
  const json::RowProjection projection{ROWS_KEY, SubnetRow::kMembers};
  Value data = fetch_subnet_list(auth, data_client::SettingsSource(settings), limits, &projection);
  Array* items = data.as_list();
  if (items == nullptr) return data;
  SubnetRows rows;
  rows.reserve(items->size());
  for (Value& item : *items) rows.push_back(SubnetRow::from_value(std::move(item)));
  return rows;
}

}  // namespace corvane_burn_watch
