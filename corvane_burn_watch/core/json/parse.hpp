#pragma once
// JSON decoding into the value model: simdjson for what it takes as it stands,
// RapidJSON's SAX reader for everything else.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/document.hpp"
#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::json {

// Malformed JSON text. `what()` is the parser's message with its position.
struct SyntaxError : ValueError {
  using ValueError::ValueError;
};

// Members to keep in the rows of a list: the objects held in the list under
// `list_key` of the top-level object keep only the members named in `keep`.
// With `whole_rows`, that list is also kept whole there, as the decoder holds
// it, for a host that builds its own values from the rows (left as it is when
// the member is no list). An empty `list_key` keeps everything.
struct RowProjection {
  std::string_view list_key;
  std::span<const std::string_view> keep;
  std::optional<Document>* whole_rows = nullptr;
};

// How much spare capacity a string needs after its text for parse() to decode
// the text where it lies instead of from a copy.
inline constexpr std::size_t kReadAhead = 64;

// Decodes one JSON document, white space around it allowed. The text must be
// valid UTF-8 (check with utf8::require_valid first). Also accepts NaN,
// Infinity and -Infinity, as a Python host's own decoder does. Throws
// SyntaxError. (simdjson decodes what it takes as it stands; the RapidJSON
// reader decides everything else, and every refusal.)
//
// With `rows`, a caller that reads only some members of each row gets the
// others checked but never built: a text is accepted or refused, with the
// same message, exactly as without, and the result is the same but for those
// members. The text is decoded where it lies, without a copy, when the
// string's capacity leaves kReadAhead bytes after it (reserve that much when
// reading a large answer or file into a string).
Value parse(const std::string& text, const RowProjection& rows = {});

}  // namespace corvane_burn_watch::json
