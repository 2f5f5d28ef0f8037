#pragma once
// Reading the Bot API's answer to one sendMessage request.
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
// object: those are broken answers, not refusals.
DeliveryResult read_send_reply(const http::Response& response);

}  // namespace corvane_burn_watch::telegram
