#pragma once
// For tests and fuzzing only: the JSON decoder's slow path on its own, to check
// that it and the fast path agree on every text. The library decodes through
// parse() (parse.hpp).
#include <string_view>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::json {

// parse() by the RapidJSON reader alone (`rows` may be null): what parse()
// gives for every text, the fast way or not.
Value parse_with_reader(std::string_view text, const RowProjection* rows);

}  // namespace corvane_burn_watch::json
