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
  unsigned mode = 0;        // its permission bits (0: not known)
  // Subnets kept in the map although the service left them out: id -> the
  // UTC timestamp text of the pass that first missed them. Only a watch that
  // keeps absent subnets writes this member ("absent_since_utc").
  json::Object absent_since;
};

// Never throws for what the file holds, unlike load_burn_state, which raises
// for a file that is not UTF-8 or whose top level is not an object.
StoredState read_burn_state(const std::string& path);

// save_burn_state, with the member "absent_since_utc" added when
// `absent_since` is not empty (the file is then exactly save_burn_state's).
void save_burn_state(const std::string& path, const BurnMap& burns, const std::string& updated_at,
                     const json::Object& absent_since);

}  // namespace corvane_burn_watch::burns
