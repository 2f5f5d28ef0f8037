#pragma once
// The quick way to decode a large answer whose rows are read only in part.
#include <optional>
#include <string_view>

#include "corvane_burn_watch/core/json_parse.hpp"

namespace corvane_burn_watch::json::detail {

// Decodes `text` with simdjson and keeps only the projected members of the
// rows. Gives nullopt for anything simdjson does not take as it stands (NaN,
// whole numbers beyond 64 bits, deep nesting, malformed text): the RapidJSON
// reader then decides, so every text is accepted or refused, with the same
// result, exactly as a full decode does.
std::optional<Value> decode_rows_with_simdjson(std::string_view text, const RowProjection& rows);

}  // namespace corvane_burn_watch::json::detail
