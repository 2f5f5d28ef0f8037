#pragma once
// The subnet data client: where the data service is, which key and headers it
// gets, one JSON GET with its failure payloads, rate-limit retries, and the
// fetch of the whole subnet list.
//
// The operations without a Settings argument read the environment on every
// call (ORBISCA_API_BASE, ORBISCA_API_KEY, ORBISCA_USER_AGENT, SSL_CERT_FILE).
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "corvane_burn_watch/core/json/document.hpp"
#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/core/subnet_row.hpp"

namespace corvane_burn_watch {

// Base URL of the data service (ORBISCA_API_BASE or the default), without
// trailing "/".
std::string api_base();
std::string api_base(const Settings& settings);
// The API key from ORBISCA_API_KEY, trimmed; nullopt when empty.
std::optional<std::string> orbisca_auth();
std::optional<std::string> orbisca_auth(const Settings& settings);
// The request headers, in order: Authorization, User-Agent, Accept,
// Accept-Language.
json::Object request_headers(std::string_view auth);
// One GET on the data service. Returns the decoded object, null, a
// parse-failure payload or an HTTP-error payload. Throws ValueError, before
// any request, when `auth` or the User-Agent holds a control character.
json::Value http_get_json(std::string_view path, const json::Object& params, std::string_view auth);
// Whether a payload is a rate-limit refusal.
bool is_rate_limited(const json::Object& payload);
// http_get_json, repeated with growing pauses while the answer is a rate-limit
// refusal, at most `max_retries` times. Throws ValueError when max_retries < 1.
json::Value with_retries(std::string_view path, const json::Object& params, std::string_view auth,
                         long long max_retries = 6);
// The list of subnet rows, or {"error": "no_subnet_rows", "response": payload}.
json::Value fetch_all_subnets_latest(std::string_view auth);
// The same, for a host that builds values of its own: the rows stay as the
// decoder holds them (Document::value() gives what the above gives), which
// spares building and freeing the value model's copy of a large answer.
json::Document fetch_all_subnets_latest_document(std::string_view auth);

// ---- The subnet list as the watch reads it ----

// The rows one fetch asks for: the list is one page, and subnets beyond a
// full page are not fetched.
inline constexpr long long SUBNET_PAGE_LIMIT = 1024;

// Limits a long-running watch puts on every request.
struct RequestLimits {
  double deadline_seconds = 0;  // whole exchange, connecting included; 0: none
};

// Why a fetch of the subnet list gave no rows.
struct FetchFailure {
  enum class Kind {
    no_rows,     // an answer decoded as JSON, without a non-empty "data" member
    unparsable,  // a success status whose body is not JSON
    http_error,  // an error status (after any rate-limit retries)
    error_data,  // "data" itself is a mapping whose "error" is true
  };
  Kind kind = Kind::no_rows;
  long status = 0;  // the HTTP status of the last answer
  // The last answer's payload (what http_get_json gives for it); for
  // error_data, the "data" mapping.
  json::Value body;

  // What fetch_all_subnets_latest gives for it: {"error": "no_subnet_rows",
  // "response": body}, or for error_data the "data" mapping itself.
  json::Value result() const;
};

// What fetch_subnet_rows found: the rows, or why there are none.
using SubnetRows = std::vector<SubnetRow>;
using SubnetFetch = std::variant<SubnetRows, FetchFailure>;

// fetch_all_subnets_latest, each row read as a SubnetRow: only the members
// SubnetRow names are built. `settings` empty: the environment is read for
// each request. Throws TypeError for a non-empty "data" that is neither a
// list nor a failure mapping, and for an item of the list that is not an
// object.
SubnetFetch fetch_subnet_rows(std::string_view auth, const std::optional<Settings>& settings,
                              const RequestLimits& limits = {});

}  // namespace corvane_burn_watch
