#pragma once
// The numeric order of subnet rows in the snapshot table.
#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::telegram {

// The whole number a row's "netuid" stands for: an integer as it is, a
// fractional number cut toward zero, a text read as a base-10 integer
// (" 7 ", "+7", "0_7"), true and false as 1 and 0. Throws ValueError for
// anything else (null, "7.0", a list, NaN, an infinity).
json::Integer subnet_sort_key(const json::Value& netuid);

}  // namespace corvane_burn_watch::telegram
