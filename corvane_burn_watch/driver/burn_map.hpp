#pragma once
// Turning the fetched subnet rows into the burn map that is stored and compared.
#include <span>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/subnet_row.hpp"

namespace corvane_burn_watch::driver {

// subnet id text -> owner burn text for every row that has a "netuid", in row
// order. A later row with the same key replaces the value but keeps the first
// position.
BurnMap build_burn_map(std::span<const SubnetRow> rows);

}  // namespace corvane_burn_watch::driver
