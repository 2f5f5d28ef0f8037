#pragma once
// Turning the fetched subnet rows into the burn map that is stored and compared.
#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::driver {

// subnet id text -> owner burn text for every row that has a "netuid", in row
// order. A later row with the same key replaces the value but keeps the first
// position. Throws TypeError for a row that is not an object.
BurnMap build_burn_map(const json::Array& rows);

}  // namespace corvane_burn_watch::driver
