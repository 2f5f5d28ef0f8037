#include "corvane_burn_watch/driver/told_values.hpp"

#include <cstddef>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/burns/json_file.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/key_index.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/driver/pass_rules.hpp"

namespace corvane_burn_watch::driver {
namespace {

constexpr std::string_view kToldKey = "told";

// Where each key of `map` stands: a map is looked up once per subnet of
// another, which a scan per lookup would make quadratic.
json::KeyIndex index_of(const BurnMap& map) {
  json::KeyIndex index(map.size());
  std::size_t position = 0;
  for (const json::Member& member : map) index.insert(member.key, position++);
  return index;
}

const json::Value* find_in(const BurnMap& map, const json::KeyIndex& index, std::string_view key) {
  const std::size_t at = index.find(key);
  return at == json::KeyIndex::npos ? nullptr : &map.begin()[static_cast<std::ptrdiff_t>(at)].value;
}

}  // namespace

ToldFile::ToldFile(std::string path, bool dry_run) : path_(std::move(path)), dry_run_(dry_run) {
  burns::JsonFile file = burns::read_json_file(path_);
  if (file.status == burns::JsonFile::Status::missing) return;
  const json::Object* top = file.document.as_object();
  const json::Value* told = top ? top->find(kToldKey) : nullptr;
  if (file.status == burns::JsonFile::Status::parsed && told && told->as_object()) {
    for (const json::Member& member : *told->as_object())
      if (member.value.is_text()) values_.append(member.key, member.value);
    values_.remove_duplicate_keys();
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
  const json::KeyIndex index = index_of(values_);
  for (const json::Member& member : stored) {
    const json::Value* told = find_in(values_, index, member.key);
    base.append(member.key, told ? *told : member.value);
  }
  return base;
}

void ToldFile::follow(const BurnMap& base, const BurnMap& current, const PassRules& rules) {
  BurnMap next;
  next.reserve(current.size());
  const json::KeyIndex index = index_of(base);
  for (const json::Member& member : current) {
    const json::Value* before = find_in(base, index, member.key);
    const bool now = before == nullptr || rules.suppressed(member.key) != nullptr;
    next.append(member.key, now ? member.value : *before);
  }
  if (!(next == values_)) {
    values_ = std::move(next);
    changed_ = true;
  }
}

void ToldFile::told(const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  BurnMap before = values_;
  for (const auto& [subnet_id, value] : values) values_.append(subnet_id, value);
  values_.remove_duplicate_keys();  // each subnet at its first place, with its last value
  if (!(values_ == before)) changed_ = true;
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
    std::vector<std::pair<std::string, std::string>> values;
    values.reserve(alerts.size());
    for (const PendingAlert& alert : alerts) values.emplace_back(alert.subnet_id, alert.latest);
    told->told(values);
    told->store();
  };
}

}  // namespace corvane_burn_watch::driver
