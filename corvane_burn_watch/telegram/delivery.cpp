// Posting texts to the Telegram chat through the Bot API's sendMessage.
//
// The bot token travels inside the request URL, so every detail handed back
// has it replaced: a server that echoes the path, or a network message that
// quotes the URL, must never carry it into a log line.
#include <string>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/telegram/form_encoding.hpp"
#include "corvane_burn_watch/telegram/send_message.hpp"
#include "corvane_burn_watch/telegram/send_reply.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

constexpr const char* kDefaultApiBase = "https://api.telegram.org";
constexpr long kTimeoutSeconds = 30;

http::Request send_message_request(std::string_view text, std::string_view token,
                                   std::string_view chat_id,
                                   const telegram::MessageOptions& options,
                                   const Settings& settings) {
  http::Request request;
  request.method = "POST";
  request.url = settings.telegram_api_base.value_or(kDefaultApiBase) + "/bot" + std::string(token) +
                "/sendMessage";
  request.ca_bundle = settings.ca_bundle.value_or("");
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  std::vector<telegram::FormField> fields{
      {"chat_id", chat_id}, {"text", text}, {"disable_web_page_preview", "true"}};
  if (!options.thread_id.empty()) fields.emplace_back("message_thread_id", options.thread_id);
  if (options.disable_notification) fields.emplace_back("disable_notification", "true");
  request.body = telegram::form_encode(fields);
  request.timeout_seconds = kTimeoutSeconds;
  request.deadline_seconds = options.deadline_seconds;
  request.secrets = {std::string(token)};
  return request;
}

// Overwrites every occurrence of each secret in `bytes` with as many '*'.
void mask_secrets(std::string& bytes, const std::vector<std::string>& secrets) {
  for (const auto& secret : secrets) {
    if (secret.empty()) continue;
    for (auto pos = bytes.find(secret); pos != std::string::npos;
         pos = bytes.find(secret, pos + secret.size()))
      bytes.replace(pos, secret.size(), secret.size(), '*');
  }
}

}  // namespace

telegram::SendOutcome telegram::send_message(std::string_view text, std::string_view token,
                                             std::string_view chat_id,
                                             const MessageOptions& options,
                                             const std::optional<Settings>& settings) {
  if (token.empty() || chat_id.empty())
    return {SendStatus::not_configured, 0, std::nullopt, "", "burn telegram not configured"};
  // Read on every call so that a host (or a test) can redirect it at any time.
  const http::Request request = send_message_request(
      text, token, chat_id, options, settings ? *settings : Settings::from_environment());
  SendOutcome outcome;
  try {
    const http::Response response = http::perform(request);
    outcome = classify_send_reply(response, read_send_reply(response));
  } catch (const NetworkError& e) {
    outcome.status = SendStatus::network;
    outcome.detail = e.what();
    outcome.maybe_delivered = !e.nothing_sent;
  } catch (UnicodeDecodeError& e) {
    // The undecodable bytes travel with the error (a Python host shows them
    // in its repr); a server that quotes the request path would put the token
    // there. Masked byte for byte, so the error's positions stay right.
    mask_secrets(e.data, request.secrets);
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
  const std::vector<std::string> chunks = chunk_text(text);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const std::string message = telegram::numbered_message(chunks[i], i + 1, chunks.size());
    DeliveryResult result = send_burn_telegram(message, token, chat_id, settings);
    if (!result.ok) return result;
    if (i + 1 < chunks.size()) host::sleep_for(telegram::PAUSE_BETWEEN_MESSAGES);
  }
  return {true, ""};
}

DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id) {
  return send_burn_telegram_messages(text, token, chat_id, std::nullopt);
}

}  // namespace corvane_burn_watch
