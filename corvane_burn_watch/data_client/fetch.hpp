#pragma once
// The data client's requests as its operations share them: settings given or
// read from the environment for each request, limits on each request, and the
// rows of a success answer cut down to the members a caller reads.
#include <optional>
#include <string_view>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/data_client/payload.hpp"

namespace corvane_burn_watch::data_client {

inline constexpr long long DEFAULT_MAX_RETRIES = 6;

// Where a request's settings come from: the caller's record, or the
// environment as it is when the request is made.
class SettingsSource {
 public:
  SettingsSource() = default;  // the environment
  explicit SettingsSource(const std::optional<Settings>& settings)
      : settings_(settings ? &*settings : nullptr) {}
  Settings get() const { return settings_ ? *settings_ : Settings::from_environment(); }

 private:
  const Settings* settings_ = nullptr;
};

// The header set of request_headers, with the User-Agent of `settings`.
json::Object request_headers(std::string_view auth, const Settings& settings);

// http_get_json, as a typed answer; `rows` (nullptr: keep everything)
// projects the answer's rows.
Answer get_json(std::string_view path, const json::Object& params, std::string_view auth,
                const SettingsSource& settings, const RequestLimits& limits,
                const json::RowProjection* rows);

// with_retries, with get_json's settings, limits and projection on every
// attempt: the last answer.
Answer get_json_with_retries(std::string_view path, const json::Object& params,
                             std::string_view auth, long long max_retries,
                             const SettingsSource& settings, const RequestLimits& limits,
                             const json::RowProjection* rows);

// Whether a value is a failure mapping: an object whose "error" member is
// present and true. A "data" member of that kind is a failed fetch, as a
// caller of fetch_all_subnets_latest could not tell it from the data client's
// own no-rows result.
bool is_failure_mapping(const json::Value& data);

}  // namespace corvane_burn_watch::data_client
