#include "corvane_burn_watch/core/settings.hpp"

#include <cstdlib>

namespace corvane_burn_watch {
namespace {

std::optional<std::string> variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace

Settings Settings::from_environment() {
  Settings settings;
  settings.api_base = variable("ORBISCA_API_BASE");
  settings.api_key = variable("ORBISCA_API_KEY");
  settings.user_agent = variable("ORBISCA_USER_AGENT");
  settings.telegram_api_base = variable("BURN_TELEGRAM_API_BASE");
  if (auto bundle = variable("SSL_CERT_FILE"); bundle && !bundle->empty())
    settings.ca_bundle = std::move(bundle);
  return settings;
}

}  // namespace corvane_burn_watch
