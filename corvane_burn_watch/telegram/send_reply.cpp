#include "corvane_burn_watch/telegram/send_reply.hpp"

#include <string>
#include <utility>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::telegram {
namespace {

// Longest detail taken from an error body that is JSON without a description.
constexpr std::size_t kErrorBodyCut = 300;
// Characters of a success body that is not JSON shown in the error.
constexpr std::size_t kBrokenBodyShown = 200;

Object require_object(Value value, const char* what) {
  if (Object* object = value.as_object()) return std::move(*object);
  throw ValueError(std::string("Telegram ") + what + " is JSON but not an object (" +
                   value.kind_name() + ")");
}

// A success body that is not JSON: the parser's own message says only where
// it failed, so the error says whose answer it was and how it began.
json::SyntaxError not_json(const http::Response& response, const json::SyntaxError& error,
                           const std::vector<std::string>& secrets) {
  const std::string body = http::redact(response.body, secrets);
  const std::string start(utf8::prefix(body, kBrokenBodyShown));
  return json::SyntaxError("Telegram answered " + std::to_string(response.status) +
                           " with a body that is not JSON (" + error.what() +
                           "); it begins: " + python_text::text_form(Value(start)));
}

DeliveryResult read_success(const http::Response& response, const std::vector<std::string>& secrets,
                            bool ok_must_be_true) {
  utf8::require_valid(response.body);
  Value parsed;
  try {
    parsed = json::parse(response.body);
  } catch (const json::SyntaxError& e) {
    throw not_json(response, e, secrets);
  }
  const Object reply = require_object(std::move(parsed), "reply");
  const Value* ok = reply.find("ok");
  const bool delivered =
      ok_must_be_true ? ok && ok->as_bool() && *ok->as_bool() : ok && ok->truthy();
  if (delivered) return {true, ""};
  return {false, python_text::text_form(Value(reply))};
}

DeliveryResult read_error(const http::Response& response, const std::vector<std::string>& secrets) {
  const std::string& body = response.body;
  if (body.empty())
    return {false, "HTTP Error " + std::to_string(response.status) + ": " + response.reason};
  utf8::require_valid(body);
  Value parsed;
  try {
    parsed = json::parse(body);
  } catch (const json::SyntaxError&) {
    return {false, body};
  }
  const Object reply = require_object(std::move(parsed), "error reply");
  const Value* description = reply.find("description");
  if (description && description->truthy()) return {false, python_text::plain_text(*description)};
  return {false, std::string(utf8::prefix(http::redact(body, secrets), kErrorBodyCut))};
}

}  // namespace

DeliveryResult read_send_reply(const http::Response& response,
                               const std::vector<std::string>& secrets, bool ok_must_be_true) {
  return response.is_success() ? read_success(response, secrets, ok_must_be_true)
                               : read_error(response, secrets);
}

}  // namespace corvane_burn_watch::telegram
