// The one-page fetch of every subnet's latest row.
#include <string>
#include <utility>
#include <variant>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"

namespace corvane_burn_watch {

namespace {

constexpr std::string_view SUBNET_LATEST_PATH = "/api/subnet/latest/v1";

constexpr std::string_view ROWS_KEY = "data";

// The list's "data" (non-empty) with the answer's status, or why there is none.
struct ListData {
  Value data;
  long status;
};
using ListFetch = std::variant<ListData, FetchFailure>;

FetchFailure::Kind failure_kind(data_client::Answer::Kind kind) {
  switch (kind) {
    case data_client::Answer::Kind::unparsable:
      return FetchFailure::Kind::unparsable;
    case data_client::Answer::Kind::http_error:
      return FetchFailure::Kind::http_error;
    case data_client::Answer::Kind::decoded:
      break;
  }
  return FetchFailure::Kind::no_rows;
}

ListFetch fetch_subnet_list(std::string_view auth, const data_client::SettingsSource& settings,
                            const RequestLimits& limits, const json::RowProjection* rows) {
  const Object params{{"limit", SUBNET_PAGE_LIMIT}, {"order", "netuid_asc"}};
  data_client::Answer answer = data_client::get_json_with_retries(
      SUBNET_LATEST_PATH, params, auth, data_client::DEFAULT_MAX_RETRIES, settings, limits, rows);
  // with_retries only ever hands back a mapping.
  // The rows are moved out, not copied: the payload is dropped here anyway.
  if (Value* found = answer.payload.as_object()->find(ROWS_KEY);
      found != nullptr && found->truthy())
    return ListData{std::move(*found), answer.status};
  return FetchFailure{failure_kind(answer.kind), answer.status, std::move(answer.payload)};
}

Value result_of(ListFetch fetched) {
  if (FetchFailure* failure = std::get_if<FetchFailure>(&fetched)) return failure->result();
  return std::move(std::get<ListData>(fetched).data);
}

}  // namespace

bool data_client::is_failure_mapping(const Value& data) {
  const Object* object = data.as_object();
  if (object == nullptr) return false;
  const Value* error = object->find("error");
  return error != nullptr && error->truthy();
}

Value FetchFailure::result() const {
  if (kind == Kind::error_data) return body;
  return Object{{"error", "no_subnet_rows"}, {"response", body}};
}

Value fetch_all_subnets_latest(std::string_view auth) {
  return result_of(fetch_subnet_list(auth, {}, {}, nullptr));
}

json::Document fetch_all_subnets_latest_document(std::string_view auth) {
  // The answer is checked with every row left empty; the rows themselves are
  // kept as decoded.
  std::optional<json::Document> rows;
  const json::RowProjection projection{ROWS_KEY, {}, &rows};
  Value data = result_of(fetch_subnet_list(auth, {}, {}, &projection));
  // The rows of an error answer are decoded whole: only a success answer's
  // are kept as decoded.
  if (data.is_list() && rows) return std::move(*rows);
  return json::Document(std::move(data));
}

SubnetFetch fetch_subnet_rows(std::string_view auth, const std::optional<Settings>& settings,
                              const RequestLimits& limits) {
  const json::RowProjection projection{ROWS_KEY, SubnetRow::kMembers};
  ListFetch fetched =
      fetch_subnet_list(auth, data_client::SettingsSource(settings), limits, &projection);
  if (FetchFailure* failure = std::get_if<FetchFailure>(&fetched)) return std::move(*failure);
  auto& [data, status] = std::get<ListData>(fetched);
  Array* items = data.as_list();
  if (items == nullptr) {
    if (data_client::is_failure_mapping(data))
      return FetchFailure{FetchFailure::Kind::error_data, status, std::move(data)};
    throw TypeError(std::string("subnet list fetch gave a ") + data.kind_name() +
                    " instead of a list of rows");
  }
  SubnetRows rows;
  rows.reserve(items->size());
  for (Value& item : *items) rows.push_back(SubnetRow::from_value(std::move(item)));
  return rows;
}

}  // namespace corvane_burn_watch
