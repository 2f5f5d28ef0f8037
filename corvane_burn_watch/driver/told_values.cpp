#include "corvane_burn_watch/driver/told_values.hpp"

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/burns/json_file.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/driver/pass_rules.hpp"

namespace corvane_burn_watch::driver {
namespace {

constexpr std::string_view kToldKey = "told";

}  // namespace

ToldFile::ToldFile(std::string path, bool dry_run) : path_(std::move(path)), dry_run_(dry_run) {
  burns::JsonFile file = burns::read_json_file(path_);
  if (file.status == burns::JsonFile::Status::missing) return;
  const json::Object* top = file.document.as_object();
  const json::Value* told = top ? top->find(kToldKey) : nullptr;
  if (file.status == burns::JsonFile::Status::parsed && told && told->as_object()) {
    for (const json::Member& member : *told->as_object())
      if (member.value.is_text()) values_.set(member.key, member.value);
    return;
  }
  // Measured from the state file instead, this pass may miss a drift: said
  // once, and the file is written afresh.
  host::log(
      host::LogLevel::warning,
      "told values file " + path_ + " " +
          (file.problem.empty() ? std::string("is not a told values document") : file.problem) +
          ": measuring from the stored rates");
  changed_ = true;
}

BurnMap ToldFile::base(const BurnMap& stored) const {
  BurnMap base;
  base.reserve(stored.size());
  for (const json::Member& member : stored) {
    const json::Value* told = values_.find(member.key);
    base.append(member.key, told ? *told : member.value);
  }
  return base;
}

void ToldFile::follow(const BurnMap& base, const BurnMap& current, const PassRules& rules) {
  BurnMap next;
  next.reserve(current.size());
  for (const json::Member& member : current) {
    const json::Value* before = base.find(member.key);
    const bool now = before == nullptr || rules.suppressed(member.key) != nullptr;
    next.append(member.key, now ? member.value : *before);
  }
  if (!(next == values_)) {
    values_ = std::move(next);
    changed_ = true;
  }
}

void ToldFile::told(const std::string& subnet_id, const std::string& value) {
  if (const json::Value* held = values_.find(subnet_id);
      held && held->is_text() && *held->as_text() == value)
    return;
  values_.set(subnet_id, value);
  changed_ = true;
}

void ToldFile::store() {
  if (dry_run_ || !changed_) return;
  burns::replace_file_atomically(
      path_,
      json::write_indented_sorted(json::Object{{std::string(kToldKey), json::Object(values_)}}) +
          "\n");
  changed_ = false;
}

std::function<void(std::span<const PendingAlert>)> told_recorder(ToldFile* told) {
  if (told == nullptr) return {};
  return [told](std::span<const PendingAlert> alerts) {
    for (const PendingAlert& alert : alerts) told->told(alert.subnet_id, alert.latest);
    told->store();
  };
}

}  // namespace corvane_burn_watch::driver
