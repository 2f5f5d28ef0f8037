#pragma once
// One call of a Bot API method as every request to Telegram makes it: a form
// POSTed to <base>/bot<token>/<method>, with the same time-out and CA bundle,
// and the token marked as a secret that no error message may carry. Throws
// UnicodeEncodeError (the token masked) for a field or URL with a lone
// surrogate, which cannot go on the wire.
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/settings.hpp"
#include "corvane_burn_watch/telegram/form_encoding.hpp"

namespace corvane_burn_watch::telegram {

http::Request bot_api_request(std::string_view method, std::string_view token,
                              const std::vector<FormField>& fields, const Settings& settings);

}  // namespace corvane_burn_watch::telegram
