// Where the data service is, which credential and headers it gets, and one
// JSON GET on it.
#include <string>
#include <utility>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/http/control_characters.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/text/python_strip.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/data_client/data_client.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"
#include "corvane_burn_watch/data_client/payload.hpp"
#include "corvane_burn_watch/data_client/query.hpp"

namespace corvane_burn_watch {

namespace {

constexpr const char* DEFAULT_API_BASE = "https://api.orbisca.io";
constexpr const char* DEFAULT_USER_AGENT =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";
constexpr long REQUEST_TIMEOUT_SECONDS = 60;

}  // namespace

std::string api_base(const Settings& settings) {
  // A variable set to the empty text counts as set; only an unset one falls back.
  std::string base = settings.api_base.value_or(DEFAULT_API_BASE);
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string api_base() {
  return api_base(Settings::from_environment());
}

std::optional<std::string> orbisca_auth(const Settings& settings) {
  if (!settings.api_key) return std::nullopt;
  std::string_view trimmed = python_text::strip_white_space(*settings.api_key);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

std::optional<std::string> orbisca_auth() {
  return orbisca_auth(Settings::from_environment());
}

json::Object data_client::request_headers(std::string_view auth, const Settings& settings) {
  return json::Object{{"Authorization", auth},
                      {"User-Agent", settings.user_agent.value_or(DEFAULT_USER_AGENT)},
                      {"Accept", "application/json, text/plain, */*"},
                      {"Accept-Language", "en-US,en;q=0.9"}};
}

json::Object request_headers(std::string_view auth) {
  return data_client::request_headers(auth, Settings::from_environment());
}

json::Value http_get_json(std::string_view path, const json::Object& params,
                          std::string_view auth) {
  return data_client::get_json(path, params, auth, {}, {}, nullptr).payload;
}

data_client::Answer data_client::get_json(std::string_view path, const json::Object& params,
                                          std::string_view auth, const SettingsSource& source,
                                          const RequestLimits& limits,
                                          const json::RowProjection* rows) {
  const Settings settings = source.get();  // read now, once for this request
  http::require_no_control_characters(auth, "the data service key (ORBISCA_API_KEY)");
  http::require_no_control_characters(settings.user_agent.value_or(""),
                                      "the User-Agent (ORBISCA_USER_AGENT)");
  http::Request request;
  request.method = "GET";
  request.url = data_client::request_url(api_base(settings), path, params);
  request.timeout_seconds = REQUEST_TIMEOUT_SECONDS;
  request.deadline_seconds = limits.deadline_seconds;
  request.ca_bundle = settings.ca_bundle.value_or("");
  request.ca_fallback = settings.ca_fallback.value_or("");
  for (auto& [name, value] : request_headers(auth, settings))
    request.headers.emplace_back(std::move(name), std::move(*value.as_text()));
  // The request line and the headers go out as UTF-8 bytes, which a lone
  // surrogate has none of.
  utf8::require_encodable(request.url);
  for (const auto& [name, value] : request.headers) utf8::require_encodable(value);
  // The key travels in a header; a network message must never show it, nor
  // the bytes an undecodable answer carries in its error.
  request.secrets = {std::string(auth)};
  try {
    return data_client::answer_from_response(http::perform(request), rows);
  } catch (UnicodeDecodeError& e) {
    http::mask(e.data, request.secrets);
    throw;
  }
}

}  // namespace corvane_burn_watch
