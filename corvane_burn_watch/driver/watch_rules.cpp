#include "corvane_burn_watch/driver/watch_rules.hpp"

#include <charconv>
#include <cmath>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"

namespace corvane_burn_watch {
namespace {

constexpr int kMinutesPerDay = 24 * 60;

std::string_view trimmed(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

long long read_id(std::string_view item, std::string_view list) {
  long long id = -1;
  const std::string_view digits = trimmed(item);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() || id < 0)
    throw ValueError("\"" + std::string(trimmed(item)) + "\" in \"" + std::string(list) +
                     "\" is not a subnet id (a whole number, 0 or more)");
  return id;
}

// "HH:MM" as minutes after midnight.
std::optional<int> read_clock(std::string_view text) {
  text = trimmed(text);
  if (text.size() != 5 || text[2] != ':') return std::nullopt;
  int hours = 0;
  int minutes = 0;
  if (std::from_chars(text.data(), text.data() + 2, hours).ptr != text.data() + 2 ||
      std::from_chars(text.data() + 3, text.data() + 5, minutes).ptr != text.data() + 5)
    return std::nullopt;
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
  return hours * 60 + minutes;
}

std::string clock_text(int minute) {
  const auto two = [](int n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
  return two(minute / 60) + ":" + two(minute % 60);
}

}  // namespace

bool SubnetSet::contains(long long id) const {
  for (const auto& [first, last] : ranges)
    if (first <= id && id <= last) return true;
  return false;
}

SubnetSet parse_subnet_set(std::string_view text) {
  SubnetSet set;
  if (trimmed(text).empty()) throw ValueError("the list of subnets is empty");
  std::string_view rest = text;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    if (trimmed(item).empty()) throw ValueError("\"" + std::string(text) + "\" has an empty item");
    // A range "64-70"; ids are never negative, so a '-' is always the range's.
    const std::size_t dash = item.find('-');
    const long long first = read_id(item.substr(0, dash), text);
    const long long last =
        dash == std::string_view::npos ? first : read_id(item.substr(dash + 1), text);
    if (last < first)
      throw ValueError("the range \"" + std::string(trimmed(item)) + "\" in \"" +
                       std::string(text) + "\" ends before it starts");
    set.ranges.emplace_back(first, last);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return set;
}

std::string subnet_set_text(const SubnetSet& set) {
  std::string text;
  for (const auto& [first, last] : set.ranges) {
    if (!text.empty()) text += ",";
    text += std::to_string(first);
    if (last != first) text += "-" + std::to_string(last);
  }
  return text;
}

std::optional<long long> subnet_number(std::string_view id_text) {
  const std::optional<json::Integer> whole = numbers::read_integer(id_text);
  if (!whole) return std::nullopt;
  long long id = 0;
  const std::string& digits = whole->digits;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return id;
}

bool QuietHours::contains(double posix_seconds) const {
  const double local_minutes = std::floor((posix_seconds + utc_offset_seconds) / 60.0);
  const int minute = static_cast<int>(
      std::fmod(std::fmod(local_minutes, kMinutesPerDay) + kMinutesPerDay, kMinutesPerDay));
  if (start_minute <= end_minute) return start_minute <= minute && minute < end_minute;
  return minute >= start_minute || minute < end_minute;
}

QuietHours parse_quiet_hours(std::string_view text) {
  const std::size_t dash = text.find('-');
  const std::optional<int> start =
      dash == std::string_view::npos ? std::nullopt : read_clock(text.substr(0, dash));
  const std::optional<int> end =
      dash == std::string_view::npos ? std::nullopt : read_clock(text.substr(dash + 1));
  if (!start || !end)
    throw ValueError("\"" + std::string(text) +
                     "\" is not a window of local time HH:MM-HH:MM (such as 22:00-07:00)");
  if (*start == *end)
    throw ValueError("the window \"" + std::string(text) + "\" starts where it ends");
  return QuietHours{*start, *end, 0};
}

std::string quiet_hours_text(const QuietHours& quiet) {
  return clock_text(quiet.start_minute) + "-" + clock_text(quiet.end_minute);
}

std::string told_file_path(const std::string& state_path, const WatchRules& rules) {
  return rules.told_path.empty() ? state_path + ".told.json" : rules.told_path;
}

std::string mutes_file_path(const std::string& state_path, const WatchRules& rules) {
  return rules.mutes_path.empty() ? state_path + ".mutes.json" : rules.mutes_path;
}

}  // namespace corvane_burn_watch
