// The Python module: one definition per operation. Conversions, casters,
// seams, errors and the classes live in binding/.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include <string_view>

#include "corvane_burn_watch/binding/casters.hpp"
#include "corvane_burn_watch/binding/classes.hpp"
#include "corvane_burn_watch/binding/driver_calls.hpp"
#include "corvane_burn_watch/binding/errors.hpp"
#include "corvane_burn_watch/binding/library_info.hpp"
#include "corvane_burn_watch/binding/rules.hpp"
#include "corvane_burn_watch/binding/seams.hpp"
#include "corvane_burn_watch/binding/values.hpp"
#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/http/client.hpp"

namespace nb = nanobind;
using namespace nb::literals;
namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;
namespace host = corvane_burn_watch::host;
namespace binding = corvane_burn_watch::binding;

NB_MODULE(burn_watch, m) {
  m.doc() =
      "Watches the owner burn rate of every Corvane subnet, keeps the last values in a JSON "
      "state file and reports changes to one Telegram chat.";

  nb::register_exception_translator(binding::translate_error);
  // An interrupted start-up may leave a few objects to the interpreter's last
  // collection, after nanobind takes stock: its report would then be the last
  // lines a service prints. The sanitizer builds check the library's memory.
  nb::set_leak_warnings(false);
  cbw::http::global_init();
  binding::install_interrupt_check();
  binding::install_output();
  nb::module_::import_("atexit").attr("register")(nb::cpp_function(binding::clear_host_seams));

  // Operations that may wait (files, the network, sleeping) let other Python
  // threads run meanwhile.
  const auto waits = nb::call_guard<nb::gil_scoped_release>();

  m.attr("JsonValue") = binding::json_value_alias();

  m.def("_set_sleep", &host::set_sleep, "fn"_a.none(),
        "Route every library sleep through fn(seconds); None restores real sleeping.");
  m.def("_set_clock", &host::set_clock, "fn"_a.none(),
        "Take the UTC time from fn() (POSIX seconds); None restores the real clock.");
  m.def("_set_cycle_observer", &cbw::set_cycle_observer, "fn"_a.none(),
        "Call fn(CycleReport) after every watch cycle and startup snapshot; None removes it. "
        "An exception fn raises is logged as an error line and never breaks the watch.");
  m.def("_set_log", &host::set_log, "fn"_a.none(),
        "Send every log line to fn(level, message), level 'info', 'warning' or 'error'; None "
        "restores the '[burn] ' lines on standard error.");
  m.def("_curl_features", &binding::curl_features,
        nb::sig("def _curl_features() -> dict[str, str | list[str]]"),
        "The libcurl in use: its version, TLS library, protocols and features.");
  m.def("_ca_certificates", &binding::ca_certificates, "settings"_a,
        nb::sig("def _ca_certificates(settings: Settings) -> tuple[str, str] | None"),
        "(path, origin) of the CA certificates HTTPS requests with settings trust, or None.");

  // ---- Settings ----
  binding::bind_settings(m);

  // ---- Burn values and state ----
  m.attr("OWNER_BURN_DECIMALS") = cbw::OWNER_BURN_DECIMALS;
  m.def("owner_burn_from_row", nb::overload_cast<const cbw::SubnetRow&>(&cbw::owner_burn_from_row),
        "row"_a, "The burn text of a subnet row's \"incentive_burn\" field.");
  m.def("format_owner_burn", &cbw::format_owner_burn, "value"_a,
        "A burn text with 4 decimals, or unchanged when it is not a number.");
  m.def("owner_burn_changed", &cbw::owner_burn_changed, "old"_a, "new"_a, "threshold"_a,
        "Whether two burn texts differ by more than threshold (texts that are not numbers: "
        "whether they differ at all).");
  m.def("load_burn_state", &cbw::load_burn_state, waits, "path"_a,
        "The burn map stored at path; empty when there is nothing usable.");
  m.def("save_burn_state", &cbw::save_burn_state, waits, "path"_a, "burns"_a, "updated_at"_a,
        "Replace the state file at path atomically with the burn map and its time.");
  m.def("diff_burns", &cbw::diff_burns, "prev"_a, "current"_a, "threshold"_a,
        "(id, old, new) for each subnet whose burn changed by more than threshold, by numeric id.");

  // ---- Subnet data client ----
  m.def("api_base", nb::overload_cast<>(&cbw::api_base),
        "Base URL of the data service (ORBISCA_API_BASE or the default) without trailing '/'.");
  m.def("orbisca_auth", nb::overload_cast<>(&cbw::orbisca_auth),
        "The API key from ORBISCA_API_KEY with white space stripped, or None when empty.");
  m.def("request_headers", &cbw::request_headers, "auth"_a,
        nb::sig("def request_headers(auth: str) -> dict[str, str]"),
        "The data service's request headers, in order.");
  m.def("http_get_json", &cbw::http_get_json, waits, "path"_a, "params"_a, "auth"_a,
        nb::sig("def http_get_json(path: str, params: dict[str, JsonValue], auth: str) "
                "-> dict[str, JsonValue] | None"),
        "One GET on the data service: the JSON object, None, or a failure payload.");
  m.def("is_rate_limited", &cbw::is_rate_limited, "payload"_a,
        "Whether a payload is a rate-limit refusal of the data service.");
  m.def("with_retries", &cbw::with_retries, waits, "path"_a, "params"_a, "auth"_a, nb::kw_only(),
        "max_retries"_a = 6,
        nb::sig("def with_retries(path: str, params: dict[str, JsonValue], auth: str, *, "
                "max_retries: int = 6) -> dict[str, JsonValue]"),
        "http_get_json, retried with growing pauses while the service refuses for rate limit.");
  m.def("fetch_all_subnets_latest", &cbw::fetch_all_subnets_latest_document, waits, "auth"_a,
        nb::sig("def fetch_all_subnets_latest(auth: str) "
                "-> list[dict[str, JsonValue]] | dict[str, JsonValue]"),
        "Every subnet's latest row, or {'error': 'no_subnet_rows', 'response': payload}.");

  // ---- Telegram reporting ----
  m.def("format_burn_alert", &cbw::format_burn_alert, "changes"_a, "updated_at"_a,
        "The alert text: header, then one line per (id, old, new).");
  m.def("format_burn_snapshot", &cbw::format_burn_snapshot, "rows"_a, "updated_at"_a,
        "The snapshot table of every row's burn, in numeric subnet order.");
  m.def("_chunk_text",
        nb::overload_cast<std::string_view, const cbw::ChunkLimit&>(&cbw::chunk_text), "text"_a,
        "max_len"_a = cbw::ChunkLimit(json::Integer::from(cbw::DEFAULT_CHUNK_LENGTH)),
        "Split text into chunks of at most max_len code points that repeat its header lines.");
  m.def("send_burn_telegram",
        nb::overload_cast<std::string_view, std::string_view, std::string_view>(
            &cbw::send_burn_telegram),
        waits, "text"_a, "token"_a, "chat_id"_a,
        "Post one message to the chat; (True, '') on success, else (False, what went wrong).");
  m.def("send_burn_telegram_messages",
        nb::overload_cast<std::string_view, std::string_view, std::string_view>(
            &cbw::send_burn_telegram_messages),
        waits, "text"_a, "token"_a, "chat_id"_a,
        "Post a whole text in numbered chunks 0.4 s apart; stops at the first failed chunk.");

  // ---- Watch options, cycle reports and the state lock ----
  binding::bind_watch_rules(m);
  binding::bind_watch_options(m);
  binding::bind_mutes(m);
  binding::bind_cycle_report(m);
  binding::bind_state_lock(m);

  // ---- Watch driver ----
  // Keyword-only, as a host names every argument. Without settings, the
  // environment is read on every call.
  m.def("run_burn_watch_once", &binding::watch_once, waits, nb::kw_only(), "state_path"_a,
        "threshold"_a, "burn_token"_a, "burn_chat_id"_a, "settings"_a = nb::none(),
        "options"_a = nb::none(),
        "One watch cycle: fetch every subnet, store the burns, alert on changes. Returns 0 when "
        "it completed and any alert was delivered, else 1; with options.redeliver, 2 when "
        "Telegram refuses the bot or the chat (restarting cannot help).");
  m.def("run_burn_startup_snapshot", &binding::startup_snapshot, waits, nb::kw_only(),
        "state_path"_a, "burn_token"_a, "burn_chat_id"_a, "settings"_a = nb::none(),
        "options"_a = nb::none(),
        "Fetch all subnets and send full burn-rate snapshot to burn Telegram. Returns 0 or 1 (2 "
        "as run_burn_watch_once does); with options.redeliver it first alerts what changed since "
        "the state file was saved.");
  m.def("run_burn_poll_loop", &binding::poll_loop, waits, nb::kw_only(), "state_path"_a,
        "threshold"_a, "interval_minutes"_a, "burn_token"_a, "burn_chat_id"_a, "pause_path"_a = "",
        "settings"_a = nb::none(), "options"_a = nb::none(),
        "Run a watch cycle every interval (at least one minute; the first after one interval) "
        "until the pause file appears. Errors of a cycle are logged and the loop goes on.");
  m.def("_burn_is_paused", &cbw::burn_is_paused, waits, "pause_path"_a,
        "Whether pause_path names an existing regular file; False when empty.");
  m.def("_sleep_until_interval", &cbw::sleep_until_interval, waits, "interval_seconds"_a,
        "pause_path"_a, "Sleep in 1s steps. Returns False if paused before interval elapsed.");

  // ---- Telegram checks: getMe and getChat ----
  binding::bind_telegram_checks(m);
  m.def("get_telegram_bot", &cbw::get_telegram_bot, waits, "token"_a, "settings"_a = nb::none(),
        "getMe: the bot's username, or (ok False) why the token is refused.");
  m.def("get_telegram_chat", &cbw::get_telegram_chat, waits, "token"_a, "chat_id"_a,
        "settings"_a = nb::none(),
        "getChat: the chat's title and type, or (ok False) why not; migrated_to names the new "
        "chat of a group that became a supergroup.");
  m.def("send_burn_test_message", &binding::test_message, waits, nb::kw_only(), "state_path"_a,
        "burn_token"_a, "burn_chat_id"_a, "text"_a, "settings"_a = nb::none(),
        "options"_a = nb::none(),
        "One message the way alerts go (topic, rate limit, a moved chat); (True, '') when "
        "delivered, else (False, why). Writes nothing.");
}
