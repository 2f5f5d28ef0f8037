#pragma once
// The burn state file as a long-running watch reads it: the stored burn map,
// or why the file that is there cannot be used, so that the watch can keep
// that file before replacing it.
#include <string>

#include "corvane_burn_watch/burns/burns.hpp"

namespace corvane_burn_watch::burns {

struct StoredState {
  BurnMap burns;  // empty when there is no usable file
  // Why the file at the path cannot be used, in a few words ("is not valid
  // JSON (...)", "has no \"owner_burn_rate\" map"); empty when it is usable
  // or there is none.
  std::string unusable;
  bool unreadable = false;  // the file could not even be read
  std::string content;      // the bytes of an unusable file, to keep a copy of
};

// Never throws for what the file holds, unlike load_burn_state, which raises
// for a file that is not UTF-8 or whose top level is not an object.
StoredState read_burn_state(const std::string& path);

}  // namespace corvane_burn_watch::burns
