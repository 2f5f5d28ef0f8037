#pragma once
// JSON decoding into the value model, on RapidJSON's SAX reader.
#include <string_view>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json_value.hpp"

namespace corvane_burn_watch::json {

// Malformed JSON text. `what()` is the parser's message with its position.
struct SyntaxError : ValueError {
  using ValueError::ValueError;
};

// Decodes one JSON document, white space around it allowed. The text must be
// valid UTF-8 (check with utf8::require_valid first). Also accepts NaN,
// Infinity and -Infinity, as a Python host's own decoder does. Throws
// SyntaxError.
Value parse(std::string_view text);

}  // namespace corvane_burn_watch::json
