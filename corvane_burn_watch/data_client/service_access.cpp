// Where the data service is, which credential and headers it gets, and one
// JSON GET on it.
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/http_client.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"
#include "corvane_burn_watch/data_client/payload.hpp"
#include "corvane_burn_watch/data_client/query.hpp"
#include "corvane_burn_watch/data_client/unicode_strip.hpp"

namespace corvane_burn_watch {

namespace {

constexpr const char* DEFAULT_API_BASE = "https://api.orbisca.io";
constexpr const char* DEFAULT_USER_AGENT =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";
constexpr long REQUEST_TIMEOUT_SECONDS = 60;

// A variable set to the empty text counts as set; only an unset one falls
// back. Read on every call so a host can re-point the library at run time.
std::string environment_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

}  // namespace

std::string api_base() {
  std::string base = environment_or("ORBISCA_API_BASE", DEFAULT_API_BASE);
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::optional<std::string> orbisca_auth() {
  std::string key = environment_or("ORBISCA_API_KEY", "");
  std::string_view trimmed = data_client::strip_white_space(key);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

Object request_headers(std::string_view auth) {
  return Object{{"Authorization", auth},
                {"User-Agent", environment_or("ORBISCA_USER_AGENT", DEFAULT_USER_AGENT)},
                {"Accept", "application/json, text/plain, */*"},
                {"Accept-Language", "en-US,en;q=0.9"}};
}

Value http_get_json(std::string_view path, const Object& params, std::string_view auth) {
  return data_client::get_json(path, params, auth, nullptr);
}

Value data_client::get_json(std::string_view path, const Object& params, std::string_view auth,
                            const json::RowProjection* rows) {
  http::Request request;
  request.method = "GET";
  request.url = data_client::request_url(api_base(), path, params);
  request.timeout_seconds = REQUEST_TIMEOUT_SECONDS;
  for (const auto& [name, value] : request_headers(auth))
    request.headers.emplace_back(name, *value.as_text());
  return data_client::payload_from_response(http::perform(request), rows);
}

}  // namespace corvane_burn_watch
