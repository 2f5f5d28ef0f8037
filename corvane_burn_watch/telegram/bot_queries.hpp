#pragma once
// Asking Telegram about the bot and the chat before anything is sent: getMe
// and getChat, through the same HTTP client, settings, time-out and token
// masking as sendMessage. The answers come back as values; nothing here
// throws for a refusal, a broken answer or a network failure, only (as
// sendMessage does) for a token or chat id with a control character.
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/settings.hpp"

namespace corvane_burn_watch {

// What getMe says about the bot behind a token.
struct TelegramBot {
  bool ok = false;
  std::string username;  // without the "@"
  std::string detail;    // why not, when !ok; never holds the token
  bool operator==(const TelegramBot&) const = default;
};

// What getChat says about the chat the watch reports to.
struct TelegramChat {
  bool ok = false;
  std::string title;        // a group's title, or a private chat's name
  std::string type;         // "private", "group", "supergroup" or "channel"
  std::string migrated_to;  // a group that became a supergroup: the new chat id
  std::string detail;       // why not, when !ok; never holds the token
  bool operator==(const TelegramChat&) const = default;
};

// `settings` empty: the environment is read for the request.
TelegramBot get_telegram_bot(std::string_view token,
                             const std::optional<Settings>& settings = std::nullopt);
TelegramChat get_telegram_chat(std::string_view token, std::string_view chat_id,
                               const std::optional<Settings>& settings = std::nullopt);

}  // namespace corvane_burn_watch
