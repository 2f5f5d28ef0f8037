#include "corvane_burn_watch/data_client/payload.hpp"

#include <string>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::data_client {

namespace {

Answer success_answer(const http::Response& response, const json::RowProjection* rows) {
  const std::string& body = response.body;
  json::Value decoded;
  try {
    decoded = rows ? json::parse(body, *rows) : json::parse(body);
  } catch (const json::SyntaxError& e) {
    return {Answer::Kind::unparsable, response.status,
            json::Object{{"parse_error", e.what()},
                         {"raw", std::string(utf8::prefix(body, RAW_PREFIX_LENGTH))}}};
  }
  if (decoded.is_object() || decoded.is_null())
    return {Answer::Kind::decoded, response.status, std::move(decoded)};
  throw ValueError(std::string("expected a JSON object (dict) from the data service, got ") +
                   decoded.kind_name());
}

json::Value error_payload(const http::Response& response) {
  json::Object payload;
  try {
    json::Value decoded = json::parse(response.body);
    json::Object* object = decoded.as_object();
    if (object == nullptr)
      throw ValueError("error body of HTTP " + std::to_string(response.status) +
                       " is JSON of kind " + decoded.kind_name() + ", not an object (dict)");
    payload = std::move(*object);
  } catch (const json::SyntaxError&) {
    payload.append("status_code", json::Integer::from(response.status));
    payload.append("message", response.body.empty() ? response.reason : response.body);
  }
  payload.set("http_status", json::Integer::from(response.status));
  return payload;
}

}  // namespace

Answer answer_from_response(const http::Response& response, const json::RowProjection* rows) {
  // Rows kept from an earlier answer (one refused for rate limit) never stand for this one's.
  if (rows && rows->whole_rows) rows->whole_rows->reset();
  utf8::require_valid(response.body);
  if (response.is_success()) return success_answer(response, rows);
  return {Answer::Kind::http_error, response.status, error_payload(response)};
}

}  // namespace corvane_burn_watch::data_client
