#include "corvane_burn_watch/driver/burn_map.hpp"

#include "corvane_burn_watch/core/text/python_text.hpp"

namespace corvane_burn_watch::driver {

BurnMap build_burn_map(std::span<const SubnetRow> rows) {
  BurnMap burns;
  burns.reserve(rows.size());
  for (const SubnetRow& row : rows) {
    if (!row.netuid) continue;
    // The key first, then the value. The key is the id's plain text form: a
    // text unchanged, 7 as "7", 7.0 as "7.0", null as "None".
    std::string key = python_text::plain_text(*row.netuid);
    burns.append(std::move(key), owner_burn_from_row(row));
  }
  // A repeated subnet id keeps its first position and takes the later row's
  // value; looking each key up as it comes would cost n² on a long list.
  burns.remove_duplicate_keys();
  return burns;
}

}  // namespace corvane_burn_watch::driver
