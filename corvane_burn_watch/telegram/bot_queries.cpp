#include "corvane_burn_watch/telegram/bot_queries.hpp"

#include <utility>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/telegram/bot_api.hpp"
#include "corvane_burn_watch/telegram/method_reply.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

constexpr const char* kNotConfigured = "burn telegram not configured";

// One method call; a network failure becomes a refusal like any other.
telegram::MethodReply call(std::string_view method, std::string_view token,
                           const std::vector<telegram::FormField>& fields,
                           const std::optional<Settings>& settings) {
  const http::Request request = telegram::bot_api_request(
      method, token, fields, settings ? *settings : Settings::from_environment());
  telegram::MethodReply reply;
  try {
    http::Response response = http::perform(request);
    // A server that quotes the request path would put the token in its
    // description: hidden before anything of the body is read.
    response.body = http::redact(std::move(response.body), request.secrets);
    reply = telegram::read_method_reply(response);
  } catch (const NetworkError& e) {
    reply.refusal = e.what();  // already redacted by the client
  }
  reply.refusal = http::redact(std::move(reply.refusal), request.secrets);
  return reply;
}

std::string text_member(const json::Object& object, std::string_view key) {
  const json::Value* value = object.find(key);
  const std::string* text = value ? value->as_text() : nullptr;
  return text ? *text : std::string();
}

// A group or channel has a title; a private chat has its person's name.
std::string chat_title(const json::Object& chat) {
  if (std::string title = text_member(chat, "title"); !title.empty()) return title;
  std::string name = text_member(chat, "first_name");
  if (std::string last = text_member(chat, "last_name"); !last.empty())
    name += name.empty() ? last : " " + last;
  if (!name.empty()) return name;
  std::string username = text_member(chat, "username");
  return username.empty() ? username : "@" + username;
}

}  // namespace

TelegramBot get_telegram_bot(std::string_view token, const std::optional<Settings>& settings) {
  if (token.empty()) return {false, "", kNotConfigured};
  require_sendable_credentials(token, "");
  telegram::MethodReply reply = call("getMe", token, {}, settings);
  if (!reply.result) return {false, "", std::move(reply.refusal)};
  const json::Object* bot = reply.result->as_object();
  std::string username = bot ? text_member(*bot, "username") : std::string();
  if (username.empty()) return {false, "", "getMe answered without the bot's username"};
  return {true, std::move(username), ""};
}

TelegramChat get_telegram_chat(std::string_view token, std::string_view chat_id,
                               const std::optional<Settings>& settings) {
  TelegramChat out;
  if (token.empty() || chat_id.empty()) {
    out.detail = kNotConfigured;
    return out;
  }
  require_sendable_credentials(token, chat_id);
  telegram::MethodReply reply = call("getChat", token, {{"chat_id", chat_id}}, settings);
  if (!reply.result) {
    // Only a whole number is a chat id: anything else would end up in advice
    // to the operator and in a setting.
    if (const json::Value* to = reply.parameters.find("migrate_to_chat_id"); to)
      if (const json::Integer* whole = to->as_integer()) out.migrated_to = whole->digits;
    out.detail = std::move(reply.refusal);
    return out;
  }
  const json::Object* chat = reply.result->as_object();
  if (!chat) {
    out.detail = "getChat answered without a chat";
    return out;
  }
  out.ok = true;
  out.title = chat_title(*chat);
  out.type = text_member(*chat, "type");
  return out;
}

}  // namespace corvane_burn_watch
