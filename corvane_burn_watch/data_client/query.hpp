#pragma once
// The request URL of one GET on the data service.
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::data_client {

// "key=value" pairs joined by "&", in the mapping's order. Pairs whose value is
// null or the empty text are left out. Nothing is percent-encoded: the service
// is asked with the very characters the caller gave.
std::string query_text(const json::Object& params);

// base + path, then "?" + query only when the query is not empty.
std::string request_url(std::string_view base, std::string_view path, const json::Object& params);

}  // namespace corvane_burn_watch::data_client
