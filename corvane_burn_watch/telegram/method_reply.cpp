#include "corvane_burn_watch/telegram/method_reply.hpp"

#include <utility>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::telegram {
namespace {

// The answer as a JSON object, or nullopt when it is not one (a proxy's HTML
// page, a cut body, bytes that are not UTF-8).
std::optional<json::Object> reply_object(const std::string& body) {
  try {
    utf8::require_valid(body);
    json::Value value = json::parse(body);
    if (json::Object* object = value.as_object()) return std::move(*object);
  } catch (const UnicodeDecodeError&) {
  } catch (const json::SyntaxError&) {
  }
  return std::nullopt;
}

}  // namespace

MethodReply read_method_reply(const http::Response& response) {
  MethodReply reply;
  std::optional<json::Object> object = reply_object(response.body);
  if (object) {
    const json::Value* ok = object->find("ok");
    if (response.is_success() && ok && ok->truthy()) {
      const json::Value* result = object->find("result");
      reply.result = result ? *result : json::Value();
      return reply;
    }
    if (const json::Value* parameters = object->find("parameters"); parameters)
      if (const json::Object* members = parameters->as_object()) reply.parameters = *members;
    if (const json::Value* description = object->find("description");
        description && description->truthy()) {
      reply.refusal = python_text::plain_text(*description);
      return reply;
    }
  }
  reply.refusal = response.is_success()
                      ? "HTTP " + std::to_string(response.status) + " answer is no Bot API reply"
                      : "HTTP Error " + std::to_string(response.status) + ": " + response.reason;
  return reply;
}

}  // namespace corvane_burn_watch::telegram
