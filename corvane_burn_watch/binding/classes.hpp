#pragma once
// The library's record types as Python classes: the settings, the watch
// options, a pass's report, the state lock, and what getMe and getChat say.
#include <nanobind/nanobind.h>

namespace corvane_burn_watch::binding {

void bind_settings(nanobind::module_& m);
void bind_watch_options(nanobind::module_& m);
void bind_cycle_report(nanobind::module_& m);
void bind_state_lock(nanobind::module_& m);
void bind_telegram_checks(nanobind::module_& m);

}  // namespace corvane_burn_watch::binding
