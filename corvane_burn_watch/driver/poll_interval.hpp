#pragma once
// How long the poll loop waits between watch cycles.

namespace corvane_burn_watch::driver {

// Minutes above 1 count in full (1.5 gives 90 s); anything else, not-a-number
// included, gives the one-minute floor.
inline double poll_interval_seconds(double interval_minutes) {
  return interval_minutes > 1 ? interval_minutes * 60 : 60.0;
}

}  // namespace corvane_burn_watch::driver
