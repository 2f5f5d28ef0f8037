// The one-page fetch of every subnet's latest row.
#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch {

namespace {

constexpr std::string_view SUBNET_LATEST_PATH = "/api/subnet/latest/v1";
constexpr long long PAGE_LIMIT = 1024;

}  // namespace

Value fetch_all_subnets_latest(std::string_view auth) {
  const Object params{{"limit", PAGE_LIMIT}, {"order", "netuid_asc"}};
  Value payload = with_retries(SUBNET_LATEST_PATH, params, auth);
  // with_retries only ever hands back a mapping.
  if (const Value* rows = payload.as_object()->find("data"); rows != nullptr && rows->truthy())
    return *rows;
  return Object{{"error", "no_subnet_rows"}, {"response", std::move(payload)}};
}

}  // namespace corvane_burn_watch
