#include "corvane_burn_watch/driver/mutes.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

#include "corvane_burn_watch/burns/atomic_file.hpp"
#include "corvane_burn_watch/burns/json_file.hpp"
#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/host/seams.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/driver/watch_rules.hpp"

namespace corvane_burn_watch {
namespace {

constexpr std::string_view kMutesKey = "mutes";
constexpr std::string_view kUntilKey = "until";

// "2026-03-01T12:00:00Z" as POSIX seconds.
std::optional<double> read_utc_timestamp(std::string_view text) {
  std::tm utc{};
  const std::string copy(text);
  const char* end = strptime(copy.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return static_cast<double>(timegm(&utc));
}

ValueError not_mutes(const std::string& path, std::string_view why) {
  return ValueError("mutes file " + path + " " + std::string(why));
}

}  // namespace

Mutes load_mutes(const std::string& path) {
  burns::JsonFile file = burns::read_json_file(path);
  if (file.status == burns::JsonFile::Status::missing) return {};
  if (file.status == burns::JsonFile::Status::unreadable)
    throw OsError(EACCES, "mutes file " + path + " " + file.problem, path);
  if (file.status != burns::JsonFile::Status::parsed) throw not_mutes(path, file.problem);
  const json::Object* top = file.document.as_object();
  const json::Value* members = top ? top->find(kMutesKey) : nullptr;
  if (!members || !members->as_object()) throw not_mutes(path, "has no \"mutes\" object");
  Mutes mutes;
  for (const json::Member& member : *members->as_object()) {
    const std::optional<long long> id = subnet_number(member.key);
    const json::Object* mute = member.value.as_object();
    const json::Value* until = mute ? mute->find(kUntilKey) : nullptr;
    if (!id || !until) throw not_mutes(path, "has an entry that is not a mute: " + member.key);
    if (until->is_null()) {
      mutes[*id] = std::nullopt;
      continue;
    }
    const std::optional<double> end =
        until->is_text() ? read_utc_timestamp(*until->as_text()) : std::nullopt;
    if (!end) throw not_mutes(path, "has an end that is no UTC time: " + member.key);
    mutes[*id] = end;
  }
  return mutes;
}

void save_mutes(const std::string& path, const Mutes& mutes) {
  if (mutes.empty()) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      const int error = errno;
      throw OsError(error, std::strerror(error), path);
    }
    return;
  }
  json::Object entries;
  for (const auto& [id, until] : mutes)
    entries.set(std::to_string(id),
                json::Object{
                    {std::string(kUntilKey), until ? json::Value(host::format_utc_timestamp(*until))
                                                   : json::Value(nullptr)}});
  burns::replace_file_atomically(
      path,
      json::write_indented_sorted(json::Object{{std::string(kMutesKey), std::move(entries)}}) +
          "\n");
}

Mutes active_mutes(const Mutes& mutes, double now) {
  Mutes active;
  for (const auto& [id, until] : mutes)
    if (!until || *until > now) active.emplace(id, until);
  return active;
}

Mutes mute_subnets(const std::string& path, const std::vector<long long>& ids,
                   std::optional<double> seconds) {
  const double now = host::now_seconds();
  Mutes mutes = active_mutes(load_mutes(path), now);
  // Whole seconds, as the file keeps them.
  std::optional<double> until;
  if (seconds) until = std::floor(now + *seconds);
  for (long long id : ids) mutes[id] = until;
  save_mutes(path, mutes);
  return mutes;
}

Mutes unmute_subnets(const std::string& path, const std::vector<long long>& ids) {
  Mutes mutes = active_mutes(load_mutes(path), host::now_seconds());
  if (ids.empty()) mutes.clear();
  for (long long id : ids) mutes.erase(id);
  save_mutes(path, mutes);
  return mutes;
}

double parse_duration_seconds(std::string_view text) {
  const auto bad = [&] {
    return ValueError("\"" + std::string(text) +
                      "\" is not a duration: a whole number and s, m, h or d (90s, 30m, 6h, 2d)");
  };
  if (text.size() < 2) throw bad();
  double unit = 0;
  switch (text.back()) {
    case 's':
      unit = 1;
      break;
    case 'm':
      unit = 60;
      break;
    case 'h':
      unit = 3600;
      break;
    case 'd':
      unit = 86400;
      break;
    default:
      throw bad();
  }
  long long count = 0;
  const std::string_view digits = text.substr(0, text.size() - 1);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (error != std::errc{} || end != digits.data() + digits.size() || count <= 0) throw bad();
  return static_cast<double>(count) * unit;
}

}  // namespace corvane_burn_watch
