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
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "corvane_burn_watch/telegram/form_encoding.hpp"
#include "corvane_burn_watch/telegram/send_reply.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch {
namespace {

constexpr const char* kDefaultApiBase = "https://api.telegram.org";
constexpr long kTimeoutSeconds = 30;
constexpr double kPauseBetweenChunks = 0.4;

// Overwrites every occurrence of each secret in `bytes` with as many '*'.
void mask_secrets(std::string& bytes, const std::vector<std::string>& secrets) {
  for (const auto& secret : secrets) {
    if (secret.empty()) continue;
    for (auto pos = bytes.find(secret); pos != std::string::npos;
         pos = bytes.find(secret, pos + secret.size()))
      bytes.replace(pos, secret.size(), secret.size(), '*');
  }
}

http::Request send_message_request(std::string_view text, std::string_view token,
                                   std::string_view chat_id, const Settings& settings) {
  // The form body and the request line go out as UTF-8 bytes, which a lone
  // surrogate has none of.
  utf8::require_encodable(chat_id);
  utf8::require_encodable(text);
  http::Request request;
  request.method = "POST";
  request.url = settings.telegram_api_base.value_or(kDefaultApiBase) + "/bot" + std::string(token) +
                "/sendMessage";
  request.ca_bundle = settings.ca_bundle.value_or("");
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.body = telegram::form_encode(
      {{"chat_id", chat_id}, {"text", text}, {"disable_web_page_preview", "true"}});
  request.timeout_seconds = kTimeoutSeconds;
  request.secrets = {std::string(token)};
  try {
    utf8::require_encodable(request.url);
  } catch (UnicodeEncodeError& e) {
    mask_secrets(e.text, request.secrets);  // the URL carries the token
    throw;
  }
  return request;
}

}  // namespace

DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id,
                                  const std::optional<Settings>& settings) {
  if (token.empty() || chat_id.empty()) return {false, "burn telegram not configured"};
  // Read on every call so that a host (or a test) can redirect it at any time.
  const http::Request request = send_message_request(
      text, token, chat_id, settings ? *settings : Settings::from_environment());
  DeliveryResult result;
  try {
    result = telegram::read_send_reply(http::perform(request));
  } catch (const NetworkError& e) {
    result = {false, e.what()};
  } catch (UnicodeDecodeError& e) {
    // The undecodable bytes travel with the error (a Python host shows them
    // in its repr); a server that quotes the request path would put the token
    // there. Masked byte for byte, so the error's positions stay right.
    mask_secrets(e.data, request.secrets);
    throw;
  }
  result.detail = http::redact(std::move(result.detail), request.secrets);
  return result;
}

DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id) {
  return send_burn_telegram(text, token, chat_id, std::nullopt);
}

DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id,
                                           const std::optional<Settings>& settings) {
  const std::vector<std::string> chunks = chunk_text(text);
  const std::string total = std::to_string(chunks.size());
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const std::string message = chunks.size() > 1
                                    ? "(" + std::to_string(i + 1) + "/" + total + ")\n" + chunks[i]
                                    : chunks[i];
    DeliveryResult result = send_burn_telegram(message, token, chat_id, settings);
    if (!result.ok) return result;
    if (i + 1 < chunks.size()) host::sleep_for(kPauseBetweenChunks);
  }
  return {true, ""};
}

DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id) {
  return send_burn_telegram_messages(text, token, chat_id, std::nullopt);
}

}  // namespace corvane_burn_watch
