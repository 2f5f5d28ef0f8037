#pragma once
// What a long-running watch counts as a change beyond owner_burn_changed: a
// burn that is not a finite number compares false with everything, so a
// subnet going 0.5 -> "NaN" -> 0.9 would never be alerted.
#include <string_view>

#include "corvane_burn_watch/burns/burns.hpp"

namespace corvane_burn_watch::burns {

struct ChangeRules {
  // A change to or from a burn that reads as NaN or an infinity counts
  // whenever the burn texts differ.
  bool non_finite_changes = false;
};

// owner_burn_changed under `rules`; with the rules at their defaults, exactly it.
bool burn_changed(std::string_view old_burn, std::string_view new_burn, double threshold,
                  const ChangeRules& rules);

// diff_burns under `rules`; with the rules at their defaults, exactly it.
ChangeList diff_burns(const BurnMap& prev, const BurnMap& current, double threshold,
                      const ChangeRules& rules);

}  // namespace corvane_burn_watch::burns
