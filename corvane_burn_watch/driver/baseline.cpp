#include "corvane_burn_watch/driver/baseline.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <sstream>
#include <utility>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/key_index.hpp"
#include "corvane_burn_watch/driver/row_checks.hpp"

namespace corvane_burn_watch::driver {
namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

constexpr double kSecondsPerDay = 86400;

// POSIX seconds of a "%Y-%m-%dT%H:%M:%SZ" text; nullopt for any other text.
std::optional<double> parse_utc_timestamp(const std::string& text) {
  std::tm parts{};
  const char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return static_cast<double>(::timegm(&parts));
}

std::string days_text(double days) {
  std::ostringstream out;
  out << days;
  return out.str();
}

}  // namespace

std::string corrupt_copy_path(const std::string& path, std::string_view updated_at) {
  std::string stamp(updated_at);  // 2026-03-01T12:00:00Z
  stamp.erase(
      std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == ':'; }),
      stamp.end());
  const std::string base = path + ".corrupt-" + stamp;
  std::string candidate = base;
  for (int n = 2; exists(candidate); ++n) candidate = base + "-" + std::to_string(n);
  return candidate;
}

std::string keep_corrupt_copy(const std::string& path, std::string_view updated_at,
                              std::string_view content, unsigned mode) {
  const std::string copy = corrupt_copy_path(path, updated_at);
  burns::replace_file_atomically(
      copy, content, {.follow_links = false, .mode = static_cast<mode_t>(mode != 0 ? mode : 0600)});
  return copy;
}

Baseline::Baseline(std::string path, const WatchOptions& options)
    : path_(std::move(path)), options_(options) {
  if (options_.keep_corrupt_state) {
    stored_ = burns::read_burn_state(path_);
    return;
  }
  stored_.burns = load_burn_state(path_);
  if (options_.keep_absent_days > 0)
    stored_.absent_since = std::move(burns::read_burn_state(path_).absent_since);
}

burns::ChangeRules change_rules(const WatchOptions& options) {
  return {.non_finite_changes = options.non_finite_changes};
}

AbsentKept keep_absent(const BurnMap& stored, const json::Object& absent_since,
                       const BurnMap& current, const std::string& updated_at, double keep_days) {
  AbsentKept kept;
  kept.burns = current;
  const json::Member* members = current.empty() ? nullptr : &*current.begin();
  json::KeyIndex present(current.size());
  for (std::size_t i = 0; i < current.size(); ++i) present.insert(members[i].key, i);
  const std::optional<double> now = parse_utc_timestamp(updated_at);
  std::vector<std::pair<std::string, std::string>> since;  // id -> first missed
  for (const json::Member& member : absent_since)
    if (const std::string* text = member.value.as_text()) since.emplace_back(member.key, *text);
  std::sort(since.begin(), since.end());
  for (const json::Member& member : stored) {
    if (present.find(member.key) != json::KeyIndex::npos) continue;
    const auto found = std::lower_bound(
        since.begin(), since.end(), member.key,
        [](const auto& entry, const std::string& key) { return entry.first < key; });
    const bool known = found != since.end() && found->first == member.key;
    const std::string first_missed = known ? found->second : updated_at;
    const std::optional<double> then = parse_utc_timestamp(first_missed);
    if (known && now && then && *now - *then > keep_days * kSecondsPerDay) {
      kept.forgotten.push_back(member.key);
      continue;
    }
    if (!known) kept.went_missing.push_back(member.key);
    kept.burns.append(member.key, member.value);
    kept.absent_since.append(member.key, first_missed);
  }
  // The state file holds ids in text order ("1", "10", "2"); the lines name
  // them in numeric order.
  const auto numeric = [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  };
  std::sort(kept.went_missing.begin(), kept.went_missing.end(), numeric);
  std::sort(kept.forgotten.begin(), kept.forgotten.end(), numeric);
  return kept;
}

void Baseline::replace(const BurnMap& current, const std::string& updated_at) {
  if (options_.dry_run) {
    if (!stored_.unusable.empty())
      host::log(host::LogLevel::warning, "burn state file " + path_ + " " + stored_.unusable +
                                             ": it would be kept and replaced (dry run: left "
                                             "as it is)");
    return;
  }
  if (!stored_.unusable.empty()) {
    if (stored_.unreadable)
      throw OsError(EACCES,
                    "burn state file " + path_ + " " + stored_.unusable +
                        ": not replacing it, as no copy of it can be kept",
                    path_);
    const std::string copy = keep_corrupt_copy(path_, updated_at, stored_.content, stored_.mode);
    host::log(host::LogLevel::warning, "burn state file " + path_ + " " + stored_.unusable +
                                           ": kept as " + copy + "; starting a new baseline");
    stored_ = {};  // kept once; the file is about to hold the new map
  }
  if (options_.keep_absent_days <= 0) return save_burn_state(path_, current, updated_at);
  AbsentKept kept = keep_absent(stored_.burns, stored_.absent_since, current, updated_at,
                                options_.keep_absent_days);
  burns::save_burn_state(path_, kept.burns, updated_at, kept.absent_since);
  if (!kept.went_missing.empty())
    host::log(host::LogLevel::warning,
              std::to_string(kept.went_missing.size()) +
                  " subnet(s) missing from the answer, kept at their last rates for up to " +
                  days_text(options_.keep_absent_days) + " day(s): " + ids_text(kept.went_missing));
  if (!kept.forgotten.empty())
    host::log(host::LogLevel::info, std::to_string(kept.forgotten.size()) +
                                        " subnet(s) missing for more than " +
                                        days_text(options_.keep_absent_days) +
                                        " day(s) forgotten: " + ids_text(kept.forgotten));
  stored_.burns = std::move(kept.burns);
  stored_.absent_since = std::move(kept.absent_since);
}

}  // namespace corvane_burn_watch::driver
