// Telling the ways a sendMessage answer can say no apart.
#include <algorithm>
#include <cctype>
#include <string>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/send_message.hpp"

namespace corvane_burn_watch::telegram {
namespace {

// The error body when it is a JSON object.
std::optional<json::Object> reply_object(const std::string& body) {
  if (body.empty() || !utf8::is_valid(body)) return std::nullopt;
  json::Value parsed;
  try {
    parsed = json::parse(body);
  } catch (const json::SyntaxError&) {
    return std::nullopt;
  }
  if (json::Object* reply = parsed.as_object()) return std::move(*reply);
  return std::nullopt;
}

// Whether the error body is a refusal as the Bot API writes one: a JSON
// object whose "ok" is false. Anything else (a gateway's HTML page, a cut
// body) is no answer of Telegram's.
bool is_bot_api_refusal(const std::optional<json::Object>& reply) {
  const json::Value* ok = reply ? reply->find("ok") : nullptr;
  return ok != nullptr && ok->as_bool() != nullptr && !*ok->as_bool();
}

// The "parameters" object of an error body ({"ok": false, "error_code": 429,
// "parameters": {"retry_after": 5}}), when it has one.
json::Object parameters_of(const std::optional<json::Object>& reply) {
  const json::Value* parameters = reply ? reply->find("parameters") : nullptr;
  const json::Object* object = parameters ? parameters->as_object() : nullptr;
  return object ? *object : json::Object{};
}

// A chat id Telegram moved a chat to: a whole number, as the Bot API writes
// it. Anything else ({"x": 1}, a text with a line feed) is not followed.
std::optional<std::string> chat_id_of(const json::Value* value) {
  const json::Integer* whole = value ? value->as_integer() : nullptr;
  if (whole == nullptr) return std::nullopt;
  return whole->digits;
}

std::optional<double> seconds_of(const json::Value* value) {
  if (value == nullptr) return std::nullopt;
  std::optional<double> seconds;
  if (const json::Integer* whole = value->as_integer())
    seconds = numbers::read_double(whole->digits);
  else if (const double* number = value->as_double())
    seconds = *number;
  if (seconds && *seconds >= 0) return seconds;  // NaN and negatives ask for nothing
  return std::nullopt;
}

bool mentions(std::string_view text, std::string_view words) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find(words) != std::string::npos;
}

}  // namespace

SendOutcome classify_send_reply(const http::Response& response, DeliveryResult read) {
  SendOutcome outcome;
  outcome.detail = std::move(read.detail);
  if (read.ok) return outcome;
  if (response.is_success()) {
    outcome.status = SendStatus::rejected;  // a success status whose "ok" is not true
    return outcome;
  }
  outcome.error_code = response.status;
  const std::optional<json::Object> reply = reply_object(response.body);
  const json::Object parameters = parameters_of(reply);
  const long status = response.status;
  if (status == 429) {
    outcome.status = SendStatus::rate_limited;
    outcome.retry_after = seconds_of(parameters.find("retry_after"));
  } else if (status >= 500 || status < 400 || !is_bot_api_refusal(reply)) {
    // Only Telegram's own refusal is final: a proxy's or gateway's 403 or
    // 404 page says nothing about the bot or the chat.
    outcome.status = SendStatus::server_error;
  } else if (const json::Value* to = parameters.find("migrate_to_chat_id")) {
    const std::optional<std::string> chat = chat_id_of(to);
    outcome.status = chat ? SendStatus::migrated : SendStatus::rejected;
    outcome.migrate_to_chat_id = chat.value_or("");
  } else if (status == 401 || status == 403 || status == 404 ||
             mentions(outcome.detail, "chat not found")) {
    outcome.status = SendStatus::refused;
  } else {
    outcome.status = SendStatus::rejected;
  }
  return outcome;
}

std::string_view failure_reason(SendStatus status) {
  switch (status) {
    case SendStatus::delivered:
      return "";
    case SendStatus::not_configured:
      return "not_configured";
    case SendStatus::rate_limited:
      return "rate_limited";
    case SendStatus::server_error:
      return "server_error";
    case SendStatus::network:
      return "network";
    case SendStatus::migrated:
    case SendStatus::refused:
    case SendStatus::rejected:
      return "refused";
  }
  return "";
}

}  // namespace corvane_burn_watch::telegram
