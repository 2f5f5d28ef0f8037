#pragma once
// Turning the fetched subnet rows into the burn map that is stored and compared.
#include <string>

#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::driver {

// The key a row's "netuid" takes in a burn map: a text unchanged, an integer
// as its digits, another number by the number-writing rule ("7.0"), null as
// "None", booleans as "True"/"False", lists and objects in their text form.
std::string netuid_text(const json::Value& netuid);

// subnet id text -> owner burn text for every row that has a "netuid", in row
// order. A later row with the same key replaces the value but keeps the first
// position. Throws TypeError for a row that is not an object.
BurnMap build_burn_map(const json::Array& rows);

}  // namespace corvane_burn_watch::driver
