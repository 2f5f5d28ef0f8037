// The Python binding: converts values, maps errors, releases the GIL around
// every call into the core and installs the host seams. No logic lives here.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/http/client.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"

namespace nb = nanobind;
using namespace nb::literals;
namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;

namespace {

// ---- Values ------------------------------------------------------------------

json::Value to_value(nb::handle obj);

json::Object to_object(nb::handle obj) {
  json::Object out;
  out.reserve(static_cast<std::size_t>(PyDict_Size(obj.ptr())));
  for (auto [key, value] : nb::borrow<nb::dict>(obj)) {
    if (!nb::isinstance<nb::str>(key))
      throw cbw::TypeError("mapping keys must be str, not " +
                           std::string(nb::type_name(key.type()).c_str()));
    out.append(nb::cast<std::string>(key), to_value(value));  // dict keys are unique
  }
  return out;
}

json::Value to_value(nb::handle obj) {
  if (obj.is_none()) return nullptr;
  if (PyBool_Check(obj.ptr())) return obj.ptr() == Py_True;
  if (PyLong_Check(obj.ptr())) {
    int overflow = 0;
    long long small = PyLong_AsLongLongAndOverflow(obj.ptr(), &overflow);
    if (!overflow) {
      if (small == -1 && PyErr_Occurred()) throw nb::python_error();
      return json::Integer::from(small);
    }
    return json::Integer{nb::cast<std::string>(nb::str(nb::steal(PyNumber_Long(obj.ptr()))))};
  }
  if (PyFloat_Check(obj.ptr())) return PyFloat_AS_DOUBLE(obj.ptr());
  if (PyUnicode_Check(obj.ptr())) return nb::cast<std::string>(obj);
  if (PyDict_Check(obj.ptr())) return to_object(obj);
  if (PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr())) {
    json::Array out;
    nb::sequence seq = nb::borrow<nb::sequence>(obj);
    out.reserve(nb::len(seq));
    for (nb::handle item : seq) out.push_back(to_value(item));
    return out;
  }
  throw cbw::TypeError("a value of type " + std::string(nb::type_name(obj.type()).c_str()) +
                       " cannot be represented as JSON");
}

// Builds the Python objects of one returned value. Like Python's own JSON
// decoder it makes each distinct member name once: the rows of an answer all
// carry the same dozen names, and a shared str also keeps its hash.
class PythonValues {
 public:
  nb::object from(const json::Value& value) {
    using Kind = json::Value::Kind;
    switch (value.kind()) {
      case Kind::null:
        return nb::none();
      case Kind::boolean:
        return nb::bool_(*value.as_bool());
      case Kind::integer:
        return from(*value.as_integer());
      case Kind::number:
        return nb::float_(*value.as_double());
      case Kind::text:
        return nb::str(value.as_text()->data(), value.as_text()->size());
      case Kind::list:
        return from(*value.as_list());
      case Kind::object:
        return from(*value.as_object());
    }
    return nb::none();
  }

  nb::dict from(const json::Object& object) {
    nb::dict out;
    for (const json::Member& member : object)
      if (PyDict_SetItem(out.ptr(), name(member.key).ptr(), from(member.value).ptr()) != 0)
        throw nb::python_error();
    return out;
  }

 private:
  nb::object from(const json::Integer& integer) {
    const std::string& digits = integer.digits;
    long long small = 0;
    // Up to 18 digits always fits a long long; longer ones go through Python's own reader.
    if (digits.size() <= 18 &&
        std::from_chars(digits.data(), digits.data() + digits.size(), small).ec == std::errc())
      return nb::steal(checked(PyLong_FromLongLong(small)));
    return nb::steal(checked(PyLong_FromString(digits.c_str(), nullptr, 10)));
  }

  nb::list from(const json::Array& items) {
    nb::list out = nb::steal<nb::list>(checked(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i)
      PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), from(items[i]).release().ptr());
    return out;
  }

  // A new reference from the C API, or the Python error it set (MemoryError).
  static PyObject* checked(PyObject* created) {
    if (created == nullptr) throw nb::python_error();
    return created;
  }

  const nb::str& name(const std::string& key) {
    auto [entry, added] = names_.try_emplace(key);
    if (added) entry->second = nb::str(key.data(), key.size());
    return entry->second;
  }

  // Views into the value being converted, which outlives this object.
  std::unordered_map<std::string_view, nb::str> names_;
};

nb::object from_value(const json::Value& value) {
  return PythonValues().from(value);
}

nb::dict from_object(const json::Object& object) {
  return PythonValues().from(object);
}

const std::string& burn_text(const json::Value& burn) {
  if (const std::string* text = burn.as_text()) return *text;
  throw cbw::TypeError(std::string("a burn value must be str, not ") + burn.kind_name());
}

cbw::ChangeList to_changes(nb::handle changes) {
  json::Value list = to_value(changes);
  cbw::ChangeList out;
  for (const json::Value& change : *list.as_list()) {
    const json::Array* items = change.as_list();
    if (!items)
      throw cbw::TypeError(std::string("a change must be a sequence of 3 items, not ") +
                           change.kind_name());
    if (items->size() != 3)
      throw cbw::ValueError(
          "a change must hold exactly 3 items (subnet id, old burn, new burn), got " +
          std::to_string(items->size()));
    out.push_back({cbw::python_text::plain_text((*items)[0]), burn_text((*items)[1]),
                   burn_text((*items)[2])});
  }
  return out;
}

std::vector<cbw::SubnetRow> to_rows(nb::handle rows) {
  json::Value list = to_value(rows);
  std::vector<cbw::SubnetRow> out;
  for (json::Value& row : *list.as_list())
    out.push_back(cbw::SubnetRow::from_value(std::move(row), "a subnet row"));
  return out;
}

// A delivery result as the (ok, detail) pair a host unpacks.
std::pair<bool, std::string> as_pair(cbw::DeliveryResult result) {
  return {result.ok, std::move(result.detail)};
}

// Runs `f` with the GIL released: every call into the core goes through here,
// so a host's other threads keep running while the library waits.
template <class F>
auto without_gil(F&& f) {
  nb::gil_scoped_release release;
  return f();
}

// ---- Host seams --------------------------------------------------------------

// A Python callable that may be copied and dropped on any thread, GIL or not.
using PyCallable = std::shared_ptr<PyObject>;

PyCallable hold_callable(nb::handle fn) {
  return PyCallable(nb::handle(fn).inc_ref().ptr(), [](PyObject* p) {
    if (!Py_IsInitialized()) return;  // the interpreter is gone: nothing to release
    nb::gil_scoped_acquire gil;
    Py_DECREF(p);
  });
}

// Calls into the host with the GIL held. An ordinary Python exception becomes
// a HostError (so a watch cycle can report it); KeyboardInterrupt, SystemExit
// and their kind become Interrupted, which nothing in the library catches.
template <class F>
auto call_host(F&& f) {
  nb::gil_scoped_acquire gil;
  try {
    return f();
  } catch (nb::python_error& e) {
    if (e.matches(PyExc_Exception)) {
      std::string message = nb::cast<std::string>(nb::str(e.value()));
      throw cbw::HostError(message, std::current_exception());
    }
    throw cbw::Interrupted{std::current_exception()};
  }
}

// Python runs signal handlers (Ctrl-C, the host's SIGTERM handler) on its main
// thread only, so only there is there anything to check. The check takes the
// GIL, which other Python threads may hold: a long transfer checks at most
// every 100 ms rather than on each of libcurl's progress calls.
void install_interrupt_check() {
  const unsigned long main_thread = nb::cast<unsigned long>(
      nb::module_::import_("threading").attr("main_thread")().attr("ident"));
  cbw::host::set_interrupt_check([main_thread] {
    if (PyThread_get_thread_ident() != main_thread) return;
    using clock = std::chrono::steady_clock;
    static thread_local clock::time_point last_check;
    const clock::time_point now = clock::now();
    if (now - last_check < std::chrono::milliseconds(100)) return;
    last_check = now;
    nb::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      auto error = std::make_exception_ptr(nb::python_error());
      throw cbw::Interrupted{error};
    }
  });
}

void set_sleep(nb::object fn) {
  if (fn.is_none()) return cbw::host::set_sleep({});
  if (!PyCallable_Check(fn.ptr())) throw cbw::TypeError("sleep function must be callable");
  cbw::host::set_sleep([held = hold_callable(fn)](double seconds) {
    call_host([&] { nb::handle(held.get())(seconds); });
  });
}

void set_clock(nb::object fn) {
  if (fn.is_none()) return cbw::host::set_clock({});
  if (!PyCallable_Check(fn.ptr())) throw cbw::TypeError("clock function must be callable");
  cbw::host::set_clock([held = hold_callable(fn)] {
    return call_host([&] {
      nb::object result = nb::handle(held.get())();
      double seconds = PyFloat_AsDouble(result.ptr());
      if (seconds == -1.0 && PyErr_Occurred()) throw nb::python_error();
      return seconds;
    });
  });
}

// Messages of a dry run go to sys.stdout, so that they keep their place
// among what the host itself prints there.
void install_output() {
  cbw::host::set_output([](std::string_view text) {
    call_host([&] {
      nb::object out = nb::module_::import_("sys").attr("stdout");
      if (out.is_none()) return;
      out.attr("write")(nb::str(text.data(), text.size()));
      out.attr("flush")();
    });
  });
}

void set_cycle_observer(nb::object fn) {
  if (fn.is_none()) return cbw::set_cycle_observer({});
  if (!PyCallable_Check(fn.ptr())) throw cbw::TypeError("cycle observer must be callable");
  cbw::set_cycle_observer([held = hold_callable(fn)](const cbw::CycleReport& report) {
    call_host([&] { nb::handle(held.get())(nb::cast(report)); });
  });
}

void clear_host_seams() {
  cbw::host::set_sleep({});
  cbw::host::set_clock({});
  cbw::host::set_interrupt_check({});
  cbw::host::set_output({});
  cbw::set_cycle_observer({});
}

// ---- Errors ------------------------------------------------------------------

// Puts the host's own exception back. nanobind restores a python_error only
// when a bound function throws it, not when a translator does (it would turn
// into RuntimeError), so it is restored here; anything else goes on down the
// translator chain.
void restore_original(const std::exception_ptr& original) {
  try {
    std::rethrow_exception(original);
  } catch (nb::python_error& e) {
    e.restore();
  }
}

void translate_error(const std::exception_ptr& error, void*) {
  try {
    std::rethrow_exception(error);
  } catch (const cbw::Interrupted& e) {
    if (e.original) return restore_original(e.original);
    PyErr_SetNone(PyExc_KeyboardInterrupt);
  } catch (const cbw::HostError& e) {
    restore_original(e.original);
  } catch (const cbw::UnicodeDecodeError& e) {
    PyObject* exc = PyUnicodeDecodeError_Create(
        "utf-8", e.data.data(), static_cast<Py_ssize_t>(e.data.size()),
        static_cast<Py_ssize_t>(e.start), static_cast<Py_ssize_t>(e.end), e.reason.c_str());
    if (exc) {
      PyErr_SetObject(PyExceptionInstance_Class(exc), exc);
      Py_DECREF(exc);
    }
  } catch (const cbw::OsError& e) {
    nb::object exc = e.filename.empty()
                         ? nb::handle(PyExc_OSError)(e.errno_value, e.what())
                         : nb::handle(PyExc_OSError)(e.errno_value, e.what(), e.filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  } catch (const cbw::NetworkError& e) {
    using Kind = cbw::NetworkError::Kind;
    PyObject* type = e.kind == Kind::connection ? PyExc_ConnectionError
                     : e.kind == Kind::timeout  ? PyExc_TimeoutError
                                                : PyExc_OSError;
    PyErr_SetString(type, e.what());
  } catch (const cbw::TypeError& e) {
    PyErr_SetString(PyExc_TypeError, e.what());
  } catch (const cbw::ValueError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  }
}

}  // namespace

NB_MODULE(burn_watch, m) {
  m.doc() =
      "Watches the owner burn rate of every Corvane subnet, keeps the last values in a JSON "
      "state file and reports changes to one Telegram chat.";

  nb::register_exception_translator(translate_error);
  cbw::http::global_init();
  install_interrupt_check();
  install_output();
  nb::module_::import_("atexit").attr("register")(nb::cpp_function(clear_host_seams));

  m.def("_set_sleep", &set_sleep, "fn"_a.none(),
        "Route every library sleep through fn(seconds); None restores real sleeping.");
  m.def("_set_clock", &set_clock, "fn"_a.none(),
        "Take the UTC time from fn() (POSIX seconds); None restores the real clock.");
  m.def("_set_cycle_observer", &set_cycle_observer, "fn"_a.none(),
        "Call fn(CycleReport) after every watch cycle and startup snapshot; None removes it. "
        "An exception fn raises is logged as an error line and never breaks the watch.");

  // ---- Burn values and state ----
  m.attr("OWNER_BURN_DECIMALS") = cbw::OWNER_BURN_DECIMALS;
  m.def(
      "owner_burn_from_row",
      [](nb::dict row) {
        json::Value value = to_object(row);
        return without_gil([&] { return cbw::owner_burn_from_row(value); });
      },
      "row"_a, "The burn text of a subnet row's \"incentive_burn\" field.");
  m.def(
      "format_owner_burn",
      [](const std::string& value) {
        return without_gil([&] { return cbw::format_owner_burn(value); });
      },
      "value"_a, "A burn text with 4 decimals, or unchanged when it is not a number.");
  m.def(
      "owner_burn_changed",
      [](const std::string& old_burn, const std::string& new_burn, double threshold) {
        return without_gil([&] { return cbw::owner_burn_changed(old_burn, new_burn, threshold); });
      },
      "old"_a, "new"_a, "threshold"_a,
      "Whether two burn texts differ by more than threshold (texts that are not numbers: "
      "whether they differ at all).");
  m.def(
      "load_burn_state",
      [](const std::string& path) {
        json::Object burns = without_gil([&] { return cbw::load_burn_state(path); });
        return from_object(burns);
      },
      "path"_a, "The burn map stored at path; empty when there is nothing usable.");
  m.def(
      "save_burn_state",
      [](const std::string& path, nb::dict burns, const std::string& updated_at) {
        json::Object map = to_object(burns);
        without_gil([&] { cbw::save_burn_state(path, map, updated_at); });
      },
      "path"_a, "burns"_a, "updated_at"_a,
      "Replace the state file at path atomically with the burn map and its time.");
  m.def(
      "diff_burns",
      [](nb::dict prev, nb::dict current, double threshold) {
        json::Object prev_map = to_object(prev);
        json::Object current_map = to_object(current);
        cbw::ChangeList changes =
            without_gil([&] { return cbw::diff_burns(prev_map, current_map, threshold); });
        nb::list out;
        for (const auto& change : changes)
          out.append(nb::make_tuple(change.subnet_id, change.old_burn, change.new_burn));
        return out;
      },
      "prev"_a, "current"_a, "threshold"_a,
      "(id, old, new) for each subnet whose burn changed by more than threshold, by numeric id.");

  // ---- Subnet data client ----
  m.def(
      "api_base", [] { return cbw::api_base(); },
      "Base URL of the data service (ORBISCA_API_BASE or the default) without trailing '/'.");
  m.def(
      "orbisca_auth", [] { return cbw::orbisca_auth(); },
      "The API key from ORBISCA_API_KEY with white space stripped, or None when empty.");
  m.def(
      "request_headers",
      [](const std::string& auth) { return from_object(cbw::request_headers(auth)); }, "auth"_a,
      "The data service's request headers, in order.");
  m.def(
      "http_get_json",
      [](const std::string& path, nb::dict params, const std::string& auth) {
        json::Object query = to_object(params);
        json::Value payload = without_gil([&] { return cbw::http_get_json(path, query, auth); });
        return from_value(payload);
      },
      "path"_a, "params"_a, "auth"_a,
      "One GET on the data service: the JSON object, None, or a failure payload.");
  m.def(
      "is_rate_limited",
      [](nb::dict payload) {
        json::Object object = to_object(payload);
        return without_gil([&] { return cbw::is_rate_limited(object); });
      },
      "payload"_a, "Whether a payload is a rate-limit refusal of the data service.");
  m.def(
      "with_retries",
      [](const std::string& path, nb::dict params, const std::string& auth, long long max_retries) {
        json::Object query = to_object(params);
        json::Value payload =
            without_gil([&] { return cbw::with_retries(path, query, auth, max_retries); });
        return from_value(payload);
      },
      "path"_a, "params"_a, "auth"_a, nb::kw_only(), "max_retries"_a = 6,
      "http_get_json, retried with growing pauses while the service refuses for rate limit.");
  m.def(
      "fetch_all_subnets_latest",
      [](const std::string& auth) {
        json::Value rows = without_gil([&] { return cbw::fetch_all_subnets_latest(auth); });
        return from_value(rows);
      },
      "auth"_a, "Every subnet's latest row, or {'error': 'no_subnet_rows', 'response': payload}.");

  // ---- Telegram reporting ----
  m.def(
      "format_burn_alert",
      [](nb::list changes, const std::string& updated_at) {
        cbw::ChangeList list = to_changes(changes);
        return without_gil([&] { return cbw::format_burn_alert(list, updated_at); });
      },
      "changes"_a, "updated_at"_a, "The alert text: header, then one line per (id, old, new).");
  m.def(
      "format_burn_snapshot",
      [](nb::list rows, const std::string& updated_at) {
        std::vector<cbw::SubnetRow> list = to_rows(rows);
        return without_gil([&] { return cbw::format_burn_snapshot(list, updated_at); });
      },
      "rows"_a, "updated_at"_a, "The startup table of every row's burn, in numeric subnet order.");
  // A limit beyond the range of long long splits exactly as the nearest one
  // inside it does, so huge values are clamped rather than refused.
  auto chunk_limit = [](nb::handle max_len) -> long long {
    if (PyLong_Check(max_len.ptr())) {
      int overflow = 0;
      long long limit = PyLong_AsLongLongAndOverflow(max_len.ptr(), &overflow);
      if (overflow) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
      if (limit == -1 && PyErr_Occurred()) throw nb::python_error();
      return limit;
    }
    if (PyFloat_Check(max_len.ptr())) {
      double limit = PyFloat_AS_DOUBLE(max_len.ptr());
      if (std::isnan(limit)) throw cbw::ValueError("max_len cannot be NaN");
      if (limit >= 0x1p63) return LLONG_MAX;
      if (limit < -0x1p63) return LLONG_MIN;
      return static_cast<long long>(limit);  // cuts toward zero
    }
    throw cbw::TypeError("max_len must be a number, not " +
                         std::string(nb::type_name(max_len.type()).c_str()));
  };
  m.def(
      "_chunk_text",
      [chunk_limit](const std::string& text, nb::object max_len) {
        long long limit = chunk_limit(max_len);
        return without_gil([&] { return cbw::chunk_text(text, limit); });
      },
      "text"_a, "max_len"_a = cbw::DEFAULT_CHUNK_LENGTH,
      "Split text into chunks of at most max_len code points that repeat its header lines.");
  m.def(
      "send_burn_telegram",
      [](const std::string& text, const std::string& token, const std::string& chat_id) {
        return as_pair(without_gil([&] { return cbw::send_burn_telegram(text, token, chat_id); }));
      },
      "text"_a, "token"_a, "chat_id"_a,
      "Post one message to the chat; (True, '') on success, else (False, what went wrong).");
  m.def(
      "send_burn_telegram_messages",
      [](const std::string& text, const std::string& token, const std::string& chat_id) {
        return as_pair(
            without_gil([&] { return cbw::send_burn_telegram_messages(text, token, chat_id); }));
      },
      "text"_a, "token"_a, "chat_id"_a,
      "Post a whole text in numbered chunks 0.4 s apart; stops at the first failed chunk.");

  // ---- Watch options, cycle reports and the state lock ----
  const cbw::WatchOptions defaults;
  nb::class_<cbw::WatchOptions>(
      m, "WatchOptions",
      "What a long-running watch asks of the driver operations; the defaults change nothing.")
      .def(
          "__init__",
          [](cbw::WatchOptions* self, bool skip_bad_rows, bool keep_corrupt_state,
             bool warn_full_page, double request_deadline_seconds, bool redeliver,
             std::string pending_path, double max_retry_after_seconds, double startup_threshold,
             bool startup_table, bool quiet_startup_table, std::string message_thread_id,
             bool dry_run) {
            new (self) cbw::WatchOptions{skip_bad_rows,
                                         keep_corrupt_state,
                                         warn_full_page,
                                         request_deadline_seconds,
                                         redeliver,
                                         std::move(pending_path),
                                         max_retry_after_seconds,
                                         startup_threshold,
                                         startup_table,
                                         quiet_startup_table,
                                         std::move(message_thread_id),
                                         dry_run};
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
          "message_thread_id"_a = defaults.message_thread_id, "dry_run"_a = defaults.dry_run)
      .def_rw("skip_bad_rows", &cbw::WatchOptions::skip_bad_rows)
      .def_rw("keep_corrupt_state", &cbw::WatchOptions::keep_corrupt_state)
      .def_rw("warn_full_page", &cbw::WatchOptions::warn_full_page)
      .def_rw("request_deadline_seconds", &cbw::WatchOptions::request_deadline_seconds)
      .def_rw("redeliver", &cbw::WatchOptions::redeliver)
      .def_rw("pending_path", &cbw::WatchOptions::pending_path)
      .def_rw("max_retry_after_seconds", &cbw::WatchOptions::max_retry_after_seconds)
      .def_rw("startup_threshold", &cbw::WatchOptions::startup_threshold)
      .def_rw("startup_table", &cbw::WatchOptions::startup_table)
      .def_rw("quiet_startup_table", &cbw::WatchOptions::quiet_startup_table)
      .def_rw("message_thread_id", &cbw::WatchOptions::message_thread_id)
      .def_rw("dry_run", &cbw::WatchOptions::dry_run);
  nb::class_<cbw::CycleReport>(m, "CycleReport", "What one pass of the watch came to.")
      .def_ro("kind", &cbw::CycleReport::kind)
      .def_ro("result", &cbw::CycleReport::result)
      .def_ro("error", &cbw::CycleReport::error)
      .def_ro("started", &cbw::CycleReport::started)
      .def_ro("finished", &cbw::CycleReport::finished)
      .def_prop_ro("burns",
                   [](const cbw::CycleReport& r) -> nb::object {
                     return r.burns ? nb::object(from_object(*r.burns)) : nb::none();
                   })
      .def_ro("alerts_sent", &cbw::CycleReport::alerts_sent)
      .def_ro("telegram_failures", &cbw::CycleReport::telegram_failures)
      .def_ro("pending_subnets", &cbw::CycleReport::pending_subnets)
      .def_ro("summary", &cbw::CycleReport::summary);
  nb::class_<cbw::StateLock>(
      m, "StateLock",
      "An exclusive lock on <state_path>.lock for one watch per state file; BlockingIOError "
      "naming the holder's pid when another process has it. A context manager.")
      .def(nb::init<const std::string&>(), "state_path"_a)
      .def_prop_ro("path", &cbw::StateLock::path)
      .def_prop_ro("held", &cbw::StateLock::held)
      .def("release", &cbw::StateLock::release, "Let go of the lock now.")
      .def(
          "__enter__", [](cbw::StateLock& lock) -> cbw::StateLock& { return lock; },
          nb::rv_policy::reference)
      .def(
          "__exit__",
          [](cbw::StateLock& lock, nb::handle, nb::handle, nb::handle) { lock.release(); },
          nb::arg("exc_type").none(), nb::arg("exc").none(), nb::arg("traceback").none());

  // ---- Watch driver ----
  // Keyword-only, as a host names every argument; the GIL is released for the
  // whole call so a host may run the loop on a thread of its own.
  m.def(
      "run_burn_watch_once",
      [](std::string state_path, double threshold, std::string burn_token, std::string burn_chat_id,
         std::optional<cbw::WatchOptions> options) {
        cbw::WatchOnceArgs args{std::move(state_path), threshold, std::move(burn_token),
                                std::move(burn_chat_id)};
        return without_gil(
            [&] { return cbw::run_burn_watch_once(args, options.value_or(cbw::WatchOptions{})); });
      },
      nb::kw_only(), "state_path"_a, "threshold"_a, "burn_token"_a, "burn_chat_id"_a,
      "options"_a = nb::none(),
      "One watch cycle: fetch every subnet, store the burns, alert on changes. Returns 0 when it "
      "completed and any alert was delivered, else 1; with options.redeliver, 2 when Telegram "
      "refuses the bot or the chat (restarting cannot help).");
  m.def(
      "run_burn_startup_snapshot",
      [](std::string state_path, std::string burn_token, std::string burn_chat_id,
         std::optional<cbw::WatchOptions> options) {
        cbw::StartupSnapshotArgs args{std::move(state_path), std::move(burn_token),
                                      std::move(burn_chat_id)};
        return without_gil([&] {
          return cbw::run_burn_startup_snapshot(args, options.value_or(cbw::WatchOptions{}));
        });
      },
      nb::kw_only(), "state_path"_a, "burn_token"_a, "burn_chat_id"_a, "options"_a = nb::none(),
      "Fetch all subnets and send full burn-rate snapshot to burn Telegram. Returns 0 or 1 (2 as "
      "run_burn_watch_once does); with options.redeliver it first alerts what changed since the "
      "state file was saved.");
  m.def(
      "run_burn_poll_loop",
      [](std::string state_path, double threshold, double interval_minutes, std::string burn_token,
         std::string burn_chat_id, std::string pause_path,
         std::optional<cbw::WatchOptions> options) {
        cbw::PollLoopArgs args{std::move(state_path),   threshold,
                               interval_minutes,        std::move(burn_token),
                               std::move(burn_chat_id), std::move(pause_path)};
        without_gil([&] { cbw::run_burn_poll_loop(args, options.value_or(cbw::WatchOptions{})); });
      },
      nb::kw_only(), "state_path"_a, "threshold"_a, "interval_minutes"_a, "burn_token"_a,
      "burn_chat_id"_a, "pause_path"_a = "", "options"_a = nb::none(),
      "Run a watch cycle every interval (at least one minute; the first after one interval) "
      "until the pause file appears. Errors of a cycle are logged and the loop goes on.");
  m.def(
      "_burn_is_paused",
      [](const std::string& pause_path) {
        return without_gil([&] { return cbw::burn_is_paused(pause_path); });
      },
      "pause_path"_a, "Whether pause_path names an existing regular file; False when empty.");
  m.def(
      "_sleep_until_interval",
      [](double interval_seconds, const std::string& pause_path) {
        return without_gil([&] { return cbw::sleep_until_interval(interval_seconds, pause_path); });
      },
      "interval_seconds"_a, "pause_path"_a,
      "Sleep in 1s steps. Returns False if paused before interval elapsed.");
}
