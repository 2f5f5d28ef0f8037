#pragma once
// Decoding with simdjson, several times faster than the RapidJSON reader, for
// the texts it takes as they stand. Used by parse() before the reader; only
// parse.cpp includes it.
#include <optional>
#include <string_view>

#include "corvane_burn_watch/core/json/parse.hpp"

namespace corvane_burn_watch::json {

// What parse() gives for `text` (with `rows`, when not null), or nullopt for
// any text simdjson does not take as it stands: NaN and Infinity, whole
// numbers beyond 64 bits, numbers beyond the range of a double, lone
// surrogates, deep nesting, texts over a few megabytes (which would make the
// reusable decoding buffers large), and every malformed text. The RapidJSON
// reader then decides, so each refusal and its message are the reader's.
std::optional<Value> fast_decode(std::string_view text, const RowProjection* rows);

}  // namespace corvane_burn_watch::json
