// Posting texts to the Telegram chat through the Bot API's sendMessage.
//
// The bot token travels inside the request URL, so every detail handed back
// has it replaced, in any form it took on the wire: a server that echoes the
// path (percent-encoded or not), or a network message that quotes the URL,
// must never carry it into a log line or an error.
#include <string>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/http/control_characters.hpp"
#include "corvane_burn_watch/core/http/redact.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/bot_api.hpp"
#include "corvane_burn_watch/telegram/message_fit.hpp"
#include "corvane_burn_watch/telegram/send_message.hpp"
#include "corvane_burn_watch/telegram/send_reply.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

http::Request send_message_request(std::string_view text, std::string_view token,
                                   std::string_view chat_id,
                                   const telegram::MessageOptions& options,
                                   const Settings& settings) {
  std::vector<telegram::FormField> fields{
      {"chat_id", chat_id}, {"text", text}, {"disable_web_page_preview", "true"}};
  if (!options.thread_id.empty()) fields.emplace_back("message_thread_id", options.thread_id);
  if (options.disable_notification) fields.emplace_back("disable_notification", "true");
  http::Request request = telegram::bot_api_request("sendMessage", token, fields, settings);
  request.deadline_seconds = options.deadline_seconds;
  return request;
}

}  // namespace

void require_sendable_credentials(std::string_view token, std::string_view chat_id) {
  http::require_no_control_characters(token, "the Telegram bot token (BURN_TELEGRAM_TOKEN)");
  http::require_no_control_characters(chat_id, "the Telegram chat id (BURN_TELEGRAM_CHAT_ID)");
}

telegram::SendOutcome telegram::send_message(std::string_view text, std::string_view token,
                                             std::string_view chat_id,
                                             const MessageOptions& options,
                                             const std::optional<Settings>& settings) {
  if (token.empty() || chat_id.empty())
    return {SendStatus::not_configured, 0, std::nullopt, "", "burn telegram not configured"};
  require_sendable_credentials(token, chat_id);
  // Read on every call so that a host (or a test) can redirect it at any time.
  const http::Request request = send_message_request(
      text, token, chat_id, options, settings ? *settings : Settings::from_environment());
  SendOutcome outcome;
  try {
    const http::Response response = http::perform(request);
    // The reply is read as it came (a token-like text inside it must not
    // break its JSON); the token is hidden in the body before any part of it
    // is cut, and in the whole detail below.
    outcome = classify_send_reply(
        response, read_send_reply(response, request.secrets, options.ok_must_be_true));
  } catch (const NetworkError& e) {
    outcome.status = SendStatus::network;
    outcome.detail = e.what();
    outcome.maybe_delivered = !e.nothing_sent;
  } catch (UnicodeDecodeError& e) {
    // The undecodable bytes travel with the error (a Python host shows them
    // in its repr); a server that quotes the request path would put the token
    // there. Masked byte for byte, so the error's positions stay right.
    http::mask(e.data, request.secrets);
    throw;
  }
  outcome.detail = http::redact(std::move(outcome.detail), request.secrets);
  return outcome;
}

DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id,
                                  const std::optional<Settings>& settings) {
  return telegram::send_message(text, token, chat_id, {}, settings).result();
}

DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id) {
  return send_burn_telegram(text, token, chat_id, std::nullopt);
}

DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id,
                                           const std::optional<Settings>& settings) {
  // The chunks, numbered; one that Telegram would refuse is cut here.
  const std::vector<std::string> messages = telegram::text_messages(text);
  for (std::size_t i = 0; i < messages.size(); ++i) {
    DeliveryResult result = send_burn_telegram(messages[i], token, chat_id, settings);
    if (!result.ok) return result;
    if (i + 1 < messages.size()) host::sleep_for(telegram::PAUSE_BETWEEN_MESSAGES);
  }
  return {true, ""};
}

DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id) {
  return send_burn_telegram_messages(text, token, chat_id, std::nullopt);
}

}  // namespace corvane_burn_watch
