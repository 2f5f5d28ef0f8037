#include "corvane_burn_watch/driver/pass_rules.hpp"

#include <limits>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/driver/baseline.hpp"

namespace corvane_burn_watch::driver {

PassRules::PassRules(const WatchOptions& options, const std::string& state_path, double threshold,
                     PassRecord& record)
    : rules_(options.rules), changes_(change_rules(options)) {
  if (options.rules_source) {
    RulesUpdate update = options.rules_source();
    if (!update.warning.empty()) host::log(host::LogLevel::warning, update.warning);
    rules_ = std::move(update.rules);
  }
  threshold_ = rules_.threshold.value_or(threshold);
  if (!rules_.honour_mutes) return;
  try {
    mutes_ = active_mutes(load_mutes(mutes_file_path(state_path, rules_)), record.clock_reading());
  } catch (const Error& error) {
    host::log(host::LogLevel::warning, std::string(error.what()) + ": no subnet is muted");
  }
  record.set_muted(mutes_.size());
}

bool PassRules::filters() const {
  return rules_.watched.has_value() || !rules_.ignored.ranges.empty();
}

double PassRules::threshold_for(std::string_view subnet_id) const {
  if (rules_.subnet_thresholds.empty()) return threshold_;
  const std::optional<long long> id = subnet_number(subnet_id);
  if (!id) return threshold_;
  const auto own = rules_.subnet_thresholds.find(*id);
  return own == rules_.subnet_thresholds.end() ? threshold_ : own->second;
}

const char* PassRules::suppressed(std::string_view subnet_id) const {
  if (!filters() && mutes_.empty()) return nullptr;
  const std::optional<long long> id = subnet_number(subnet_id);
  if (id && rules_.ignored.contains(*id)) return "ignored";
  if (rules_.watched && !(id && rules_.watched->contains(*id))) return "unwatched";
  if (id && mutes_.contains(*id)) return "muted";
  return nullptr;
}

bool PassRules::shown(std::string_view subnet_id) const {
  if (!filters()) return true;
  const std::optional<long long> id = subnet_number(subnet_id);
  if (id && rules_.ignored.contains(*id)) return false;
  return !rules_.watched || (id && rules_.watched->contains(*id));
}

ChangeList PassRules::changes(const BurnMap& base, const BurnMap& current,
                              PassRecord& record) const {
  // Without thresholds of their own, every subnet is measured as diff_burns
  // measures. With them, a change by more than any threshold is a change by
  // more than minus infinity: diff_burns gives every candidate, each then
  // measured with its own threshold.
  const bool own = !rules_.subnet_thresholds.empty();
  ChangeList all = burns::diff_burns(
      base, current, own ? -std::numeric_limits<double>::infinity() : threshold_, changes_);
  ChangeList kept;
  kept.reserve(all.size());
  for (ChangeTriple& change : all) {
    if (own &&
        !owner_burn_changed(change.old_burn, change.new_burn, threshold_for(change.subnet_id)))
      continue;
    if (const char* reason = suppressed(change.subnet_id)) {
      record.count_suppressed(reason);
      continue;
    }
    kept.push_back(std::move(change));
  }
  return kept;
}

void drop_suppressed(PendingAlerts& pending, const PassRules& rules) {
  std::erase_if(pending.alerts, [&](const PendingAlert& alert) {
    return rules.suppressed(alert.subnet_id) != nullptr;
  });
}

}  // namespace corvane_burn_watch::driver
