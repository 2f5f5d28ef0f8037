#pragma once
// Telegram reporting: the alert and snapshot texts, splitting long texts into
// chunks, and delivery through the Bot API's sendMessage.
//
// The operations without a Settings argument read BURN_TELEGRAM_API_BASE and
// SSL_CERT_FILE on every call.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/core/subnet_row.hpp"

namespace corvane_burn_watch {

// Outcome of a Telegram delivery: success is exactly {true, ""}.
struct DeliveryResult {
  bool ok = false;
  std::string detail;
  bool operator==(const DeliveryResult&) const = default;
};

// The alert text for a change list.
std::string format_burn_alert(const ChangeList& changes, std::string_view updated_at);
// The startup snapshot table of all rows, in ascending numeric order of id.
// Throws ValueError for a "netuid" that is not an integer.
std::string format_burn_snapshot(std::span<const SubnetRow> rows, std::string_view updated_at);

// Splits a text into chunks that repeat its header lines (`_chunk_text`).
inline constexpr long long DEFAULT_CHUNK_LENGTH = 3900;
std::vector<std::string> chunk_text(std::string_view text,
                                    long long max_len = DEFAULT_CHUNK_LENGTH);

// A chunk length as a host may give it: a whole number of any size, or a
// number with a fraction.
using ChunkLimit = std::variant<json::Integer, double>;
// The length chunk_text splits at: a whole number beyond the range of long
// long splits as the nearest one inside it does, so it is clamped; a fraction
// is cut toward zero (and clamped). Throws ValueError for NaN.
long long chunk_length(const ChunkLimit& max_len);
// chunk_text with a limit as chunk_length() reads it.
std::vector<std::string> chunk_text(std::string_view text, const ChunkLimit& max_len);

// Throws ValueError, naming the setting, when the bot token or the chat id
// holds a control character: such a value can never be sent. Empty values
// pass; they mean "not configured", which a delivery reports as its result.
void require_sendable_credentials(std::string_view token, std::string_view chat_id);

// Posts one message; never throws for a failed delivery, but for credentials
// that require_sendable_credentials refuses.
DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id);
// `settings` empty: the environment is read for the request.
DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id,
                                  const std::optional<Settings>& settings);
// Posts a whole text in numbered chunks, 0.4 s apart; stops at a failure.
DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id);
DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id,
                                           const std::optional<Settings>& settings);

}  // namespace corvane_burn_watch
