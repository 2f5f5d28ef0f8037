#pragma once
// Where the outside services are and how they are reached: one record, built
// once by the host and passed down, or read from the environment on every
// call when the caller gives none.
#include <optional>
#include <string>

namespace corvane_burn_watch {

// Each member left empty (nullopt) takes the service's own default.
struct Settings {
  std::optional<std::string> api_base;    // data service base URL (ORBISCA_API_BASE)
  std::optional<std::string> api_key;     // data service key (ORBISCA_API_KEY)
  std::optional<std::string> user_agent;  // User-Agent to the data service (ORBISCA_USER_AGENT)
  std::optional<std::string> telegram_api_base;  // Bot API base URL (BURN_TELEGRAM_API_BASE)
  std::optional<std::string> ca_bundle;          // CA bundle to trust for HTTPS (SSL_CERT_FILE)
  // A bundle to trust when neither the environment nor the system has one
  // (the program passes certifi's); never read from the environment.
  std::optional<std::string> ca_fallback;

  // The record as the environment gives it now: a variable that is set, even
  // to the empty text, sets its member; an empty SSL_CERT_FILE counts as unset.
  static Settings from_environment();

  bool operator==(const Settings&) const = default;
};

}  // namespace corvane_burn_watch
