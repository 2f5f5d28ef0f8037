#include "corvane_burn_watch/binding/classes.hpp"

#include <nanobind/operators.h>
#include <nanobind/stl/map.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include <string>
#include <utility>

#include "corvane_burn_watch/binding/casters.hpp"
#include "corvane_burn_watch/binding/seams.hpp"
#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::binding {

namespace nb = nanobind;
using namespace nb::literals;

void bind_settings(nb::module_& m) {
  nb::class_<Settings>(
      m, "Settings",
      "Where the outside services are and how they are reached. A member left None takes the "
      "service's default.")
      .def(nb::init<std::optional<std::string>, std::optional<std::string>,
                    std::optional<std::string>, std::optional<std::string>,
                    std::optional<std::string>, std::optional<std::string>>(),
           nb::kw_only(), "api_base"_a = nb::none(), "api_key"_a = nb::none(),
           "user_agent"_a = nb::none(), "telegram_api_base"_a = nb::none(),
           "ca_bundle"_a = nb::none(), "ca_fallback"_a = nb::none())
      .def_static("from_environment", &Settings::from_environment,
                  "The settings the environment gives now (ORBISCA_API_BASE, ORBISCA_API_KEY, "
                  "ORBISCA_USER_AGENT, BURN_TELEGRAM_API_BASE, SSL_CERT_FILE).")
      .def_ro("api_base", &Settings::api_base, "Data service base URL.")
      .def_ro("api_key", &Settings::api_key, "Data service API key.")
      .def_ro("user_agent", &Settings::user_agent, "User-Agent sent to the data service.")
      .def_ro("telegram_api_base", &Settings::telegram_api_base, "Bot API base URL.")
      .def_ro("ca_bundle", &Settings::ca_bundle, "CA bundle to trust for HTTPS.")
      .def_ro("ca_fallback", &Settings::ca_fallback,
              "CA bundle to trust when neither the environment nor the system has one "
              "(certifi's, say).")
      .def(nb::self == nb::self, nb::sig("def __eq__(self, other: object, /) -> bool"));
}

// Built by name: a field moved in the record cannot silently take another's value.
void bind_watch_options(nb::module_& m) {
  const WatchOptions defaults;
  nb::class_<WatchOptions>(
      m, "WatchOptions",
      "What a long-running watch asks of the driver operations; the defaults change nothing.")
      .def(
          "__init__",
          [](WatchOptions* self, bool skip_bad_rows, bool keep_corrupt_state, bool warn_full_page,
             double request_deadline_seconds, bool redeliver, std::string pending_path,
             double max_retry_after_seconds, double startup_threshold, bool startup_table,
             bool quiet_startup_table, std::string message_thread_id, bool dry_run,
             bool strict_telegram_ok, bool non_finite_changes, double keep_absent_days,
             bool check_duplicate_rows, bool one_line_logs, WatchRules rules,
             RulesSourceFn rules_source) {
            new (self) WatchOptions{
                .skip_bad_rows = skip_bad_rows,
                .keep_corrupt_state = keep_corrupt_state,
                .warn_full_page = warn_full_page,
                .request_deadline_seconds = request_deadline_seconds,
                .redeliver = redeliver,
                .pending_path = std::move(pending_path),
                .max_retry_after_seconds = max_retry_after_seconds,
                .startup_threshold = startup_threshold,
                .startup_table = startup_table,
                .quiet_startup_table = quiet_startup_table,
                .message_thread_id = std::move(message_thread_id),
                .dry_run = dry_run,
                .strict_telegram_ok = strict_telegram_ok,
                .non_finite_changes = non_finite_changes,
                .keep_absent_days = keep_absent_days,
                .check_duplicate_rows = check_duplicate_rows,
                .one_line_logs = one_line_logs,
                .rules = std::move(rules),
                .rules_source = std::move(rules_source),
            };
          },
          nb::kw_only(), "skip_bad_rows"_a = defaults.skip_bad_rows,
          "keep_corrupt_state"_a = defaults.keep_corrupt_state,
          "warn_full_page"_a = defaults.warn_full_page,
          "request_deadline_seconds"_a = defaults.request_deadline_seconds,
          "redeliver"_a = defaults.redeliver, "pending_path"_a = defaults.pending_path,
          "max_retry_after_seconds"_a = defaults.max_retry_after_seconds,
          "startup_threshold"_a = defaults.startup_threshold,
          "startup_table"_a = defaults.startup_table,
          "quiet_startup_table"_a = defaults.quiet_startup_table,
          "message_thread_id"_a = defaults.message_thread_id, "dry_run"_a = defaults.dry_run,
          "strict_telegram_ok"_a = defaults.strict_telegram_ok,
          "non_finite_changes"_a = defaults.non_finite_changes,
          "keep_absent_days"_a = defaults.keep_absent_days,
          "check_duplicate_rows"_a = defaults.check_duplicate_rows,
          "one_line_logs"_a = defaults.one_line_logs, "rules"_a = defaults.rules,
          "rules_source"_a.none() = nb::none())
      .def_static(
          "service",
          [](RulesSourceFn rules_source) {
            WatchOptions options = WatchOptions::service();
            options.rules_source = std::move(rules_source);
            return options;
          },
          nb::kw_only(), "rules_source"_a.none() = nb::none(),
          "The options of the long-running service, which burn-watch's commands and its demo "
          "start from: every service feature on, requests bounded by 300 s, at most 60 s of rate "
          "limit waited out per pass, a missing subnet kept for 7 days; `rules_source` as for "
          "the constructor.")
      .def_rw("skip_bad_rows", &WatchOptions::skip_bad_rows)
      .def_rw("keep_corrupt_state", &WatchOptions::keep_corrupt_state)
      .def_rw("warn_full_page", &WatchOptions::warn_full_page)
      .def_rw("request_deadline_seconds", &WatchOptions::request_deadline_seconds)
      .def_rw("redeliver", &WatchOptions::redeliver)
      .def_rw("pending_path", &WatchOptions::pending_path)
      .def_rw("max_retry_after_seconds", &WatchOptions::max_retry_after_seconds)
      .def_rw("startup_threshold", &WatchOptions::startup_threshold)
      .def_rw("startup_table", &WatchOptions::startup_table)
      .def_rw("quiet_startup_table", &WatchOptions::quiet_startup_table)
      .def_rw("message_thread_id", &WatchOptions::message_thread_id)
      .def_rw("dry_run", &WatchOptions::dry_run)
      .def_rw("strict_telegram_ok", &WatchOptions::strict_telegram_ok)
      .def_rw("non_finite_changes", &WatchOptions::non_finite_changes)
      .def_rw("keep_absent_days", &WatchOptions::keep_absent_days)
      .def_rw("check_duplicate_rows", &WatchOptions::check_duplicate_rows)
      .def_rw("one_line_logs", &WatchOptions::one_line_logs)
      .def_rw("rules", &WatchOptions::rules);
}

void bind_cycle_report(nb::module_& m) {
  nb::class_<CycleReport>(m, "CycleReport", "What one pass of the watch came to.")
      .def_ro("kind", &CycleReport::kind)
      .def_ro("result", &CycleReport::result)
      .def_ro("error", &CycleReport::error)
      .def_ro("started", &CycleReport::started)
      .def_ro("finished", &CycleReport::finished)
      .def_ro("burns", &CycleReport::burns)
      .def_ro("alerts_sent", &CycleReport::alerts_sent)
      .def_ro("telegram_failures", &CycleReport::telegram_failures)
      .def_ro("pending_subnets", &CycleReport::pending_subnets)
      .def_ro("progressed", &CycleReport::progressed)
      .def_ro("muted_subnets", &CycleReport::muted_subnets)
      .def_ro("changes_suppressed", &CycleReport::changes_suppressed)
      .def_ro("summary", &CycleReport::summary);
}

void bind_state_lock(nb::module_& m) {
  nb::class_<StateLock>(
      m, "StateLock",
      "An exclusive lock on <state_path>.lock for one watch per state file; BlockingIOError "
      "naming the holder's pid when another process has it. A context manager.")
      .def(nb::init<const std::string&>(), "state_path"_a)
      .def_prop_ro("path", &StateLock::path)
      .def_prop_ro("held", &StateLock::held)
      .def("release", &StateLock::release, "Let go of the lock now.")
      .def(
          "__enter__", [](StateLock& lock) -> StateLock& { return lock; }, nb::rv_policy::reference)
      .def(
          "__exit__", [](StateLock& lock, nb::handle, nb::handle, nb::handle) { lock.release(); },
          nb::arg("exc_type").none(), nb::arg("exc").none(), nb::arg("traceback").none());
}

void bind_telegram_checks(nb::module_& m) {
  nb::class_<TelegramBot>(m, "TelegramBot", "What getMe says about the bot behind a token.")
      .def(nb::init<>())
      .def_ro("ok", &TelegramBot::ok)
      .def_ro("username", &TelegramBot::username)
      .def_ro("detail", &TelegramBot::detail);
  nb::class_<TelegramChat>(m, "TelegramChat", "What getChat says about the chat.")
      .def(nb::init<>())
      .def_ro("ok", &TelegramChat::ok)
      .def_ro("title", &TelegramChat::title)
      .def_ro("type", &TelegramChat::type)
      .def_ro("migrated_to", &TelegramChat::migrated_to)
      .def_ro("detail", &TelegramChat::detail);
}

}  // namespace corvane_burn_watch::binding
