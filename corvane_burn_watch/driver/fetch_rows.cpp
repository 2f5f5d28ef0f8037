#include "corvane_burn_watch/driver/fetch_rows.hpp"

#include <utility>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json_text.hpp"
#include "corvane_burn_watch/core/platform.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"

namespace corvane_burn_watch::driver {

namespace {

// The only members of a subnet row that the watch cycle and the snapshot read
// (build_burn_map, owner_burn_from_row and format_burn_snapshot); the rest of
// each row is checked but never built. A new reader of rows adds its member here.
constexpr std::string_view kRowMembers[] = {"netuid", "incentive_burn"};

}  // namespace

bool is_fetch_failure(const json::Value& data) {
  const json::Object* object = data.as_object();
  if (object == nullptr) return false;
  const json::Value* error = object->find("error");
  return error != nullptr && error->truthy();
}

std::optional<FetchedRows> fetch_subnet_rows(std::string_view failure_prefix) {
  const std::optional<std::string> auth = orbisca_auth();
  if (!auth || auth->empty()) {
    platform::write_stderr(
        "[burn] orbisca API not available (must be bundled in package defaults)\n");
    return std::nullopt;
  }
  // Taken once, before the fetch: the state file and the message share it.
  std::string updated_at = platform::utc_timestamp_text();
  json::Value data = data_client::fetch_subnet_rows(*auth, kRowMembers);
  if (is_fetch_failure(data)) {
    std::string line(failure_prefix);
    line += json::write_one_line(data);
    line += '\n';
    platform::write_stderr(line);
    return std::nullopt;
  }
  json::Array* rows = data.as_list();
  if (rows == nullptr)
    throw TypeError(std::string("subnet list fetch gave a ") + data.kind_name() +
                    " instead of a list of rows");
  return FetchedRows{std::move(updated_at), std::move(*rows)};
}

}  // namespace corvane_burn_watch::driver
