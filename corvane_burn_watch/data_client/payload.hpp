#pragma once
// Turns one HTTP answer of the data service into the value callers get back.
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::data_client {

// One answer of the data service: what kind it was, its HTTP status, and the
// payload the data client's public operations give for it.
struct Answer {
  enum class Kind {
    decoded,     // a success status with a JSON body: the payload is that JSON
    unparsable,  // a success status whose body is not JSON: the parse-failure payload
    http_error,  // any other status: the HTTP-error payload, or the error body's object
  };
  Kind kind = Kind::decoded;
  long status = 0;
  json::Value payload;
};

// Characters of a non-JSON success body kept under "raw".
inline constexpr std::size_t RAW_PREFIX_LENGTH = 500;

// A success answer gives its JSON object, null, or a parse-failure payload
// {"parse_error", "raw"}. Any other status gives the decoded error object with
// "http_status" set, or {"status_code", "message", "http_status"} when the
// error body is not JSON. Throws UnicodeDecodeError for a body that is not
// UTF-8 and ValueError for JSON of a kind that cannot be a payload. With
// `rows`, the rows of a success answer hold only the members it names (and
// are kept whole in rows->whole_rows, when given; reset for any other answer).
Answer answer_from_response(const http::Response& response,
                            const json::RowProjection* rows = nullptr);

}  // namespace corvane_burn_watch::data_client
