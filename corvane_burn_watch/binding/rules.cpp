#include "corvane_burn_watch/binding/rules.hpp"

#include <nanobind/stl/map.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include <string>
#include <utility>

#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::binding {

namespace nb = nanobind;
using namespace nb::literals;

namespace {

// Subnet sets cross as their texts ("1,7,64-70"); None: no set.
std::optional<std::string> set_text(const std::optional<SubnetSet>& set) {
  if (!set) return std::nullopt;
  return subnet_set_text(*set);
}
std::optional<SubnetSet> set_from(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return parse_subnet_set(*text);
}

CompareTo compare_from(const std::string& text) {
  if (text == "last") return CompareTo::last;
  if (text == "alerted") return CompareTo::alerted;
  throw ValueError("compare_to is \"last\" or \"alerted\", not \"" + text + "\"");
}
std::string compare_text(CompareTo compare) {
  return compare == CompareTo::alerted ? "alerted" : "last";
}

void set_quiet(WatchRules& rules, const std::optional<std::string>& text) {
  const int offset = rules.quiet_hours ? rules.quiet_hours->utc_offset_seconds : 0;
  rules.quiet_hours.reset();
  if (!text) return;
  rules.quiet_hours = parse_quiet_hours(*text);
  rules.quiet_hours->utc_offset_seconds = offset;
}

}  // namespace

void bind_watch_rules(nb::module_& m) {
  nb::class_<WatchRules>(
      m, "WatchRules",
      "Which subnets the chat hears of, and how: a watchlist, ignored subnets, per-subnet "
      "thresholds, drift from the values last told, mutes and quiet hours. Subnet lists are "
      "texts such as '1,7,64-70'; the defaults change nothing.")
      .def(
          "__init__",
          [](WatchRules* self, std::optional<double> threshold, std::optional<std::string> watched,
             std::optional<std::string> ignored, std::map<long long, double> subnet_thresholds,
             const std::string& compare_to, std::string told_path, bool honour_mutes,
             std::string mutes_path, std::optional<std::string> quiet_hours,
             int utc_offset_seconds) {
            WatchRules rules{
                .threshold = threshold,
                .watched = set_from(watched),
                .ignored = set_from(ignored).value_or(SubnetSet{}),
                .subnet_thresholds = std::move(subnet_thresholds),
                .compare_to = compare_from(compare_to),
                .told_path = std::move(told_path),
                .honour_mutes = honour_mutes,
                .mutes_path = std::move(mutes_path),
            };
            set_quiet(rules, quiet_hours);
            if (rules.quiet_hours) rules.quiet_hours->utc_offset_seconds = utc_offset_seconds;
            new (self) WatchRules(std::move(rules));
          },
          nb::kw_only(), "threshold"_a = nb::none(), "watched"_a = nb::none(),
          "ignored"_a = nb::none(), "subnet_thresholds"_a = std::map<long long, double>{},
          "compare_to"_a = "last", "told_path"_a = "", "honour_mutes"_a = false,
          "mutes_path"_a = "", "quiet_hours"_a = nb::none(), "utc_offset_seconds"_a = 0)
      .def_rw("threshold", &WatchRules::threshold,
              "Replaces the threshold the operation was given (None: keep it).")
      .def_prop_rw(
          "watched", [](const WatchRules& r) { return set_text(r.watched); },
          [](WatchRules& r, std::optional<std::string> text) { r.watched = set_from(text); },
          nb::arg("subnets").none(), "Only these subnets are alerted and tabled; None: all.")
      .def_prop_rw(
          "ignored",
          [](const WatchRules& r) -> std::optional<std::string> {
            if (r.ignored.ranges.empty()) return std::nullopt;
            return subnet_set_text(r.ignored);
          },
          [](WatchRules& r, std::optional<std::string> text) {
            r.ignored = set_from(text).value_or(SubnetSet{});
          },
          nb::arg("subnets").none(), "These subnets are never alerted nor tabled; None: none.")
      .def_rw("subnet_thresholds", &WatchRules::subnet_thresholds,
              "A subnet's own threshold, by subnet id.")
      .def_prop_rw(
          "compare_to", [](const WatchRules& r) { return compare_text(r.compare_to); },
          [](WatchRules& r, const std::string& text) { r.compare_to = compare_from(text); },
          nb::arg("compare_to"),
          "'last' (the previous pass) or 'alerted' (the value last told to the chat).")
      .def_rw("told_path", &WatchRules::told_path,
              "The told values file; '': '<state file>.told.json'.")
      .def_rw("honour_mutes", &WatchRules::honour_mutes, "Read the mutes file at every pass.")
      .def_rw("mutes_path", &WatchRules::mutes_path,
              "The mutes file; '': '<state file>.mutes.json'.")
      .def_prop_rw(
          "quiet_hours",
          [](const WatchRules& r) -> std::optional<std::string> {
            if (!r.quiet_hours) return std::nullopt;
            return quiet_hours_text(*r.quiet_hours);
          },
          [](WatchRules& r, std::optional<std::string> text) { set_quiet(r, text); },
          nb::arg("window").none(), "'HH:MM-HH:MM' of local time (may wrap midnight); None: none.")
      .def_prop_rw(
          "utc_offset_seconds",
          [](const WatchRules& r) { return r.quiet_hours ? r.quiet_hours->utc_offset_seconds : 0; },
          [](WatchRules& r, int offset) {
            if (r.quiet_hours) r.quiet_hours->utc_offset_seconds = offset;
          },
          "The local zone's distance from UTC now, in seconds east, for the quiet hours.")
      .def(
          "in_quiet_hours",
          [](const WatchRules& r, double posix_seconds) {
            return r.quiet_hours && r.quiet_hours->contains(posix_seconds);
          },
          "posix_seconds"_a, "Whether a message sent at that time would make no sound.");
}

void bind_mutes(nb::module_& m) {
  m.def("load_mutes", &load_mutes, "path"_a,
        "The mutes in the file: subnet id -> POSIX second the mute ends (None: until "
        "unmuted); {} without a file. ValueError for a file that holds no mutes.");
  m.def("mute_subnets", &mute_subnets, "path"_a, "ids"_a, "seconds"_a.none(),
        "Mutes the subnets for that long from now (None: until unmuted), replacing the file "
        "atomically; returns the mutes in force.");
  m.def("unmute_subnets", &unmute_subnets, "path"_a, "ids"_a,
        "Ends the subnets' mutes (every mute when ids is empty); returns the mutes in force.");
  m.def("parse_duration_seconds", &parse_duration_seconds, "duration"_a,
        "'90s', '30m', '6h' or '2d' as seconds; ValueError otherwise.");
}

}  // namespace corvane_burn_watch::binding
