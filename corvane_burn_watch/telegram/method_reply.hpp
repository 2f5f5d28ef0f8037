#pragma once
// Reading the Bot API's answer to a method whose result the caller reads
// (getMe, getChat): the "result" of a success, or why the call was refused.
#include <optional>
#include <string>

#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::telegram {

struct MethodReply {
  std::optional<json::Value> result;  // the "result" of {"ok": true, ...}; null when absent
  std::string refusal;                // otherwise: why not, in one line
  json::Object parameters;            // a refusal's "parameters" (migrate_to_chat_id)
};

// A success status with a JSON object whose "ok" is true gives its "result".
// Anything else is a refusal: the object's "description" when it has one,
// else "HTTP Error <status>: <reason>" for an error status, else a note that
// the answer is no Bot API reply. Never throws for what the server sent.
MethodReply read_method_reply(const http::Response& response);

}  // namespace corvane_burn_watch::telegram
