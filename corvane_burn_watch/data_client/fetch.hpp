#pragma once
// The data client's requests for a caller that reads only some members of each
// subnet row: the watch driver reads two of the dozen or more a row carries,
// and building the others was most of a watch cycle's work. These behave as
// http_get_json, with_retries and fetch_all_subnets_latest do, except that the
// rows of a success answer hold only the members asked for; the others are
// still checked while the answer is decoded, so an answer is accepted or
// refused exactly as before.
#include <span>
#include <string_view>

#include "corvane_burn_watch/core/json_parse.hpp"
#include "corvane_burn_watch/core/json_value.hpp"

namespace corvane_burn_watch::data_client {

inline constexpr long long DEFAULT_MAX_RETRIES = 6;

// http_get_json; `rows` (nullptr: keep everything) projects the answer's rows.
json::Value get_json(std::string_view path, const json::Object& params, std::string_view auth,
                     const json::RowProjection* rows);

// with_retries, with get_json's projection on every attempt.
json::Value get_json_with_retries(std::string_view path, const json::Object& params,
                                  std::string_view auth, long long max_retries,
                                  const json::RowProjection* rows);

// fetch_all_subnets_latest, with each row holding only the `members` named.
json::Value fetch_subnet_rows(std::string_view auth, std::span<const std::string_view> members);

}  // namespace corvane_burn_watch::data_client
