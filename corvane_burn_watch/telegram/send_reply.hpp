#pragma once
// Reading the Bot API's answer to one sendMessage request.
#include <string>
#include <vector>

#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace corvane_burn_watch::telegram {

// The delivery result an answer stands for:
// - success status: (true, "") when the JSON object's "ok" is true, else
//   (false, the object's text form);
// - error status: (false, a true "description"), else (false, the first 300
//   code points of a JSON object body), else (false, the whole non-JSON body),
//   else, for an empty body, (false, "HTTP Error <status>: <reason>").
// Throws UnicodeDecodeError for a body that is not UTF-8, json::SyntaxError
// for a success body that is not JSON (saying it came from Telegram and
// showing its first 200 code points) and ValueError for JSON that is not an
// object: those are broken answers, not refusals. Any of `secrets` in the
// body is redacted before a part of it is cut for a detail or an error, so no
// cut leaves a piece of one behind; the caller redacts the detail as a whole.
// With `ok_must_be_true`, only a boolean true in "ok" is a success.
DeliveryResult read_send_reply(const http::Response& response,
                               const std::vector<std::string>& secrets = {},
                               bool ok_must_be_true = false);

}  // namespace corvane_burn_watch::telegram
