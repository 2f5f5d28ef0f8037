#include "corvane_burn_watch/driver/pending_alerts.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/burns/json_file.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/key_index.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/driver/baseline.hpp"

namespace corvane_burn_watch::driver {
namespace {

constexpr std::string_view kAlertsKey = "alerts";
constexpr std::string_view kMigrationsKey = "chat_migrations";
constexpr std::string_view kToldKey = "told";
constexpr std::string_view kLatestKey = "latest";
constexpr std::string_view kMaybeToldKey = "maybe_told";
// Longest chain of migrations followed; Telegram moves a chat once.
constexpr int kMigrationHops = 8;

// Ascending numeric order; an id that is not a whole number (only a hand-made
// file holds one) goes last.
void sort_by_id(std::vector<PendingAlert>& alerts) {
  std::vector<std::pair<std::optional<json::Integer>, PendingAlert>> keyed;
  keyed.reserve(alerts.size());
  for (PendingAlert& alert : alerts)
    keyed.emplace_back(numbers::read_integer(alert.subnet_id), std::move(alert));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    if (!a.first || !b.first) return a.first && !b.first;
    return numbers::compare_integers(*a.first, *b.first) < 0;
  });
  alerts.clear();
  for (auto& entry : keyed) alerts.push_back(std::move(entry.second));
}

// The pending file is the system's own: a link there (planted, or left by
// mistake) would have its target rewritten or its target's copy kept.
void require_no_link(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
    throw OsError(ELOOP, "pending alerts file is a symbolic link, which is not followed: remove it",
                  path);
}

bool is_chat_id(std::string_view text) {
  const std::string_view digits = text.substr(!text.empty() && text.front() == '-' ? 1 : 0);
  return !digits.empty() && digits.size() <= 20 &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const std::string* text_member(const json::Object& object, std::string_view key) {
  const json::Value* value = object.find(key);
  return value ? value->as_text() : nullptr;
}

}  // namespace

void merge_changes(PendingAlerts& pending, const ChangeList& changes, const BurnMap& current) {
  std::unordered_map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < pending.alerts.size(); ++i)
    index.emplace(pending.alerts[i].subnet_id, i);
  // Subnets pending before this pass follow the service, changed or not: the
  // line the chat gets runs to the value of now. Looked up through an index:
  // a scan of the map per pending subnet costs n² with many of both.
  const json::Member* members = current.empty() ? nullptr : &*current.begin();
  json::KeyIndex now(current.size());
  for (std::size_t i = 0; i < current.size(); ++i) now.insert(members[i].key, i);
  for (PendingAlert& alert : pending.alerts)
    if (const std::size_t at = now.find(alert.subnet_id);
        at != json::KeyIndex::npos && members[at].value.is_text())
      alert.latest = *members[at].value.as_text();
  for (const ChangeTriple& change : changes) {
    if (auto found = index.find(change.subnet_id); found != index.end())
      pending.alerts[found->second].latest = change.new_burn;
    else
      pending.alerts.push_back({change.subnet_id, change.old_burn, change.new_burn, {}});
  }
  sort_by_id(pending.alerts);
}

void drop_settled(PendingAlerts& pending, double threshold, const burns::ChangeRules& rules) {
  drop_settled(
      pending, [threshold](std::string_view) { return threshold; }, rules);
}

void drop_settled(PendingAlerts& pending,
                  const std::function<double(std::string_view subnet_id)>& threshold_for,
                  const burns::ChangeRules& rules) {
  std::erase_if(pending.alerts, [&](const PendingAlert& alert) {
    const double threshold = threshold_for(alert.subnet_id);
    const auto settled = [&](const std::string& held) {
      return !burns::burn_changed(held, alert.latest, threshold, rules);
    };
    return settled(alert.told) &&
           std::all_of(alert.maybe_told.begin(), alert.maybe_told.end(), settled);
  });
}

ChangeList pending_changes(const PendingAlerts& pending) {
  ChangeList changes;
  changes.reserve(pending.alerts.size());
  for (const PendingAlert& alert : pending.alerts)
    changes.push_back({alert.subnet_id, alert.told, alert.latest});
  return changes;
}

std::string chat_after_migrations(PendingAlerts& pending, const std::string& configured) {
  json::Object chain;
  std::string chat = configured;
  for (int hop = 0; hop < kMigrationHops; ++hop) {
    const std::string* next = text_member(pending.chat_migrations, chat);
    // Only a chat id is followed: a value Telegram never sends (an earlier
    // version kept whatever came) is dropped, not put in a log line.
    if (next == nullptr || !is_chat_id(*next) || chain.find(chat) != nullptr) break;
    chain.set(chat, *next);
    chat = *next;
  }
  pending.chat_migrations = std::move(chain);
  return chat;
}

json::Value pending_document(const PendingAlerts& pending) {
  json::Object alerts;
  for (const PendingAlert& alert : pending.alerts) {
    json::Object entry{{std::string(kToldKey), alert.told},
                       {std::string(kLatestKey), alert.latest}};
    if (!alert.maybe_told.empty())
      entry.append(std::string(kMaybeToldKey),
                   json::Array(alert.maybe_told.begin(), alert.maybe_told.end()));
    alerts.append(alert.subnet_id, std::move(entry));
  }
  // Each subnet is pending once; set() per subnet would scan the object each time.
  alerts.remove_duplicate_keys();
  return json::Object{{std::string(kAlertsKey), std::move(alerts)},
                      {std::string(kMigrationsKey), pending.chat_migrations}};
}

std::optional<PendingAlerts> pending_from_document(const json::Value& document) {
  const json::Object* top = document.as_object();
  const json::Value* alerts = top ? top->find(kAlertsKey) : nullptr;
  const json::Value* migrations = top ? top->find(kMigrationsKey) : nullptr;
  if (!alerts || !alerts->as_object() || (migrations && !migrations->as_object()))
    return std::nullopt;
  PendingAlerts pending;
  for (const json::Member& member : *alerts->as_object()) {
    const json::Object* alert = member.value.as_object();
    const std::string* told = alert ? text_member(*alert, kToldKey) : nullptr;
    const std::string* latest = alert ? text_member(*alert, kLatestKey) : nullptr;
    if (!told || !latest) return std::nullopt;
    PendingAlert& entry = pending.alerts.emplace_back(PendingAlert{member.key, *told, *latest, {}});
    if (const json::Value* maybe = alert->find(kMaybeToldKey)) {
      if (!maybe->as_list()) return std::nullopt;
      for (const json::Value& value : *maybe->as_list()) {
        if (!value.is_text()) return std::nullopt;
        entry.maybe_told.push_back(*value.as_text());
      }
    }
  }
  sort_by_id(pending.alerts);
  if (migrations)
    for (const json::Member& member : *migrations->as_object()) {
      if (!member.value.is_text()) return std::nullopt;
      pending.chat_migrations.set(member.key, member.value);
    }
  return pending;
}

std::string pending_file_path(const std::string& state_path, const WatchOptions& options) {
  return options.pending_path.empty() ? state_path + ".pending.json" : options.pending_path;
}

PendingAlerts PendingFile::load(std::string_view updated_at) {
  require_no_link(path_);
  burns::JsonFile file = burns::read_json_file(path_);
  if (file.status == burns::JsonFile::Status::missing) return *(on_disk_ = PendingAlerts{});
  if (file.status == burns::JsonFile::Status::parsed)
    if (std::optional<PendingAlerts> pending = pending_from_document(file.document))
      return *(on_disk_ = std::move(pending));
  // A file this system did not write. Its alerts are lost to the chat either
  // way; keeping it lets a person read them.
  if (file.status == burns::JsonFile::Status::unreadable)
    throw OsError(EACCES, "pending alerts file " + path_ + " " + file.problem, path_);
  const std::string why = file.problem.empty() ? "is not a pending alerts document" : file.problem;
  if (dry_run_) {
    host::log(host::LogLevel::warning, "pending alerts file " + path_ + " " + why + ": ignored");
    return {};
  }
  const std::string copy = keep_corrupt_copy(path_, updated_at, file.content, file.mode);
  host::log(host::LogLevel::warning,
            "pending alerts file " + path_ + " " + why + ": kept as " + copy + "; starting afresh");
  // The unusable file itself is replaced or removed by the next store().
  on_disk_.reset();
  return {};
}

void PendingFile::store(const PendingAlerts& pending) {
  if (dry_run_ || (on_disk_ && pending == *on_disk_)) return;
  if (pending.empty()) {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
      const int error = errno;
      throw OsError(error, std::strerror(error), path_);
    }
  } else {
    burns::replace_file_atomically(path_,
                                   json::write_indented_sorted(pending_document(pending)) + "\n",
                                   {.follow_links = false, .mode = std::nullopt});
  }
  on_disk_ = pending;
}

}  // namespace corvane_burn_watch::driver
