#pragma once
// corvane_burn_watch: watches the owner burn rate of every Corvane subnet,
// keeps the last values in a JSON state file and reports changes to one
// Telegram chat. This header declares every public operation.
//
// Every operation runs on the caller's thread and blocks it. Errors are thrown
// as the types in core/errors.hpp; failures of an answer (an HTTP error, a
// body that is not JSON, a refused message) come back as values.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json_value.hpp"

namespace corvane_burn_watch {

using json::Array;
using json::Object;
using json::Value;

// A burn map: subnet id text -> burn text (both normally texts).
using BurnMap = Object;

// One subnet whose burn changed: id text, old burn text, new burn text.
struct ChangeTriple {
  std::string subnet_id;
  std::string old_burn;
  std::string new_burn;
  bool operator==(const ChangeTriple&) const = default;
};
using ChangeList = std::vector<ChangeTriple>;

// Outcome of a Telegram delivery: success is exactly {true, ""}.
struct DeliveryResult {
  bool ok = false;
  std::string detail;
  bool operator==(const DeliveryResult&) const = default;
};

// ---- Burn values and state -------------------------------------------------

// Digits after the decimal point in a displayed burn value.
inline constexpr int OWNER_BURN_DECIMALS = 4;

// The burn text of a subnet row's "incentive_burn" field. Throws TypeError
// when `row` is not an object.
std::string owner_burn_from_row(const Value& row);
// The burn text shown with OWNER_BURN_DECIMALS decimals, or unchanged when it
// does not read as a number.
std::string format_owner_burn(std::string_view value);
// Whether two burn texts differ by more than `threshold`.
bool owner_burn_changed(std::string_view old_burn, std::string_view new_burn, double threshold);

// The burn map stored at `path`; empty when there is nothing usable. Throws
// UnicodeDecodeError / ValueError for a file that is not UTF-8 or whose
// top-level JSON is not an object.
BurnMap load_burn_state(const std::string& path);
// Replaces the state file atomically (temporary file, fsync, rename). Throws
// OsError when it cannot be written; the old file is then left intact.
void save_burn_state(const std::string& path, const BurnMap& burns, const std::string& updated_at);

// Subnets present in both maps whose burn changed by more than `threshold`,
// in ascending numeric order of id. Throws ValueError for an id in `current`
// that is not an integer, TypeError for a burn that is not text.
ChangeList diff_burns(const BurnMap& prev, const BurnMap& current, double threshold);

// ---- Subnet data client ------------------------------------------------------

// Base URL of the data service (ORBISCA_API_BASE or the default), without
// trailing "/".
std::string api_base();
// The API key from ORBISCA_API_KEY, trimmed; nullopt when empty.
std::optional<std::string> orbisca_auth();
// The request headers, in order: Authorization, User-Agent, Accept,
// Accept-Language.
Object request_headers(std::string_view auth);
// One GET on the data service. Returns the decoded object, null, a
// parse-failure payload or an HTTP-error payload.
Value http_get_json(std::string_view path, const Object& params, std::string_view auth);
// Whether a payload is a rate-limit refusal.
bool is_rate_limited(const Object& payload);
// http_get_json, repeated with growing pauses while the answer is a rate-limit
// refusal, at most `max_retries` times. Throws ValueError when max_retries < 1.
Value with_retries(std::string_view path, const Object& params, std::string_view auth,
                   long long max_retries = 6);
// The list of subnet rows, or {"error": "no_subnet_rows", "response": payload}.
Value fetch_all_subnets_latest(std::string_view auth);

// ---- Telegram reporting --------------------------------------------------------

// The alert text for a change list (a list of 3-item lists).
std::string format_burn_alert(const Array& changes, std::string_view updated_at);
std::string format_burn_alert(const ChangeList& changes, std::string_view updated_at);
// The startup snapshot table of all rows.
std::string format_burn_snapshot(const Array& rows, std::string_view updated_at);
// Splits a text into chunks that repeat its header lines (`_chunk_text`).
inline constexpr long long DEFAULT_CHUNK_LENGTH = 3900;
std::vector<std::string> chunk_text(std::string_view text,
                                    long long max_len = DEFAULT_CHUNK_LENGTH);
// Posts one message; never throws for a failed delivery.
DeliveryResult send_burn_telegram(std::string_view text, std::string_view token,
                                  std::string_view chat_id);
// Posts a whole text in numbered chunks, 0.4 s apart; stops at a failure.
DeliveryResult send_burn_telegram_messages(std::string_view text, std::string_view token,
                                           std::string_view chat_id);

// ---- Watch driver ----------------------------------------------------------------

struct WatchOnceArgs {
  std::string state_path;
  double threshold = 0.0;
  std::string burn_token;
  std::string burn_chat_id;
};
struct StartupSnapshotArgs {
  std::string state_path;
  std::string burn_token;
  std::string burn_chat_id;
};
struct PollLoopArgs {
  std::string state_path;
  double threshold = 0.0;
  double interval_minutes = 0.0;
  std::string burn_token;
  std::string burn_chat_id;
  std::string pause_path;  // empty: pausing switched off
};

// One watch cycle: 0 when it completed and any alert was delivered, else 1.
int run_burn_watch_once(const WatchOnceArgs& args);
// Fetch all subnets and send full burn-rate snapshot to burn Telegram.
int run_burn_startup_snapshot(const StartupSnapshotArgs& args);
// Runs a watch cycle every interval until the pause file appears.
void run_burn_poll_loop(const PollLoopArgs& args);
// Whether `pause_path` names an existing regular file (`_burn_is_paused`).
bool burn_is_paused(std::string_view pause_path);
// Sleep in 1s steps. Returns false if paused before interval elapsed
// (`_sleep_until_interval`).
bool sleep_until_interval(double interval_seconds, std::string_view pause_path);

}  // namespace corvane_burn_watch
