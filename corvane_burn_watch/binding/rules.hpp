#pragma once
// The watch rules as a Python class, and the mutes file's operations.
#include <nanobind/nanobind.h>

namespace corvane_burn_watch::binding {

// WatchRules; before the watch options, whose `rules` it is.
void bind_watch_rules(nanobind::module_& m);
// load_mutes, mute_subnets, unmute_subnets, parse_duration_seconds.
void bind_mutes(nanobind::module_& m);

}  // namespace corvane_burn_watch::binding
