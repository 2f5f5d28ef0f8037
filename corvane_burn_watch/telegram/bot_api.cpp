#include "corvane_burn_watch/telegram/bot_api.hpp"

#include <string>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::telegram {
namespace {

constexpr const char* kDefaultApiBase = "https://api.telegram.org";
constexpr long kTimeoutSeconds = 30;

}  // namespace

http::Request bot_api_request(std::string_view method, std::string_view token,
                              const std::vector<FormField>& fields, const Settings& settings) {
  // The form body and the request line go out as UTF-8 bytes, which a lone
  // surrogate has none of.
  for (const FormField& field : fields) utf8::require_encodable(field.second);
  http::Request request;
  request.method = "POST";
  request.url = settings.telegram_api_base.value_or(kDefaultApiBase) + "/bot" + std::string(token) +
                "/" + std::string(method);
  request.ca_bundle = settings.ca_bundle.value_or("");
  request.ca_fallback = settings.ca_fallback.value_or("");
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.body = form_encode(fields);
  request.timeout_seconds = kTimeoutSeconds;
  request.secrets = http::token_secrets(token);
  try {
    utf8::require_encodable(request.url);
  } catch (UnicodeEncodeError& e) {
    http::mask(e.text, request.secrets);  // the URL carries the token
    throw;
  }
  return request;
}

}  // namespace corvane_burn_watch::telegram
