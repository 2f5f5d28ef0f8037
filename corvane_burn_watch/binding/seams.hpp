#pragma once
// The host seams as Python installs them: callables kept across threads,
// calls into Python with the GIL held, and the casters that turn a Python
// callable (or None) into a seam of the library.
#include <nanobind/nanobind.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_burn_watch/binding/casters.hpp"
#include "corvane_burn_watch/binding/values.hpp"
#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::binding {

// A Python callable that may be copied and dropped on any thread, GIL or not.
using PyCallable = std::shared_ptr<PyObject>;

PyCallable hold_callable(nb::handle fn);

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
      std::string message = text_of(nb::str(e.value()).ptr());
      throw HostError(message, std::current_exception());
    }
    throw Interrupted{std::current_exception()};
  }
}

// Checks for Python's signals (Ctrl-C, the host's SIGTERM handler) during long waits.
void install_interrupt_check();
// Messages of a dry run go to sys.stdout.
void install_output();
// Drops every seam that holds a Python callable (at interpreter exit).
void clear_host_seams();
const char* level_name(host::LogLevel level);

}  // namespace corvane_burn_watch::binding

namespace nanobind::detail {

using corvane_burn_watch::binding::call_host;
using corvane_burn_watch::binding::hold_callable;
using corvane_burn_watch::binding::level_name;
using corvane_burn_watch::binding::PyCallable;
using corvane_burn_watch::binding::str_from;
namespace host = corvane_burn_watch::host;

// A host seam: a Python callable, or None (allowed by the argument) for the
// library's own.
template <class Fn, class Make>
bool seam_from_python(handle src, converted<Fn>& held, Make make) noexcept {
  if (src.is_none()) return held.convert([] { return Fn(); });
  return PyCallable_Check(src.ptr()) && held.convert([&] { return make(hold_callable(src)); });
}

template <>
struct type_caster<host::SleepFn> {
  BURN_WATCH_CASTER(host::SleepFn, const_name("collections.abc.Callable[[float], object]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return seam_from_python(src, held, [](PyCallable fn) {
      return host::SleepFn(
          [fn](double seconds) { call_host([&] { nb::handle(fn.get())(seconds); }); });
    });
  }
};

template <>
struct type_caster<host::ClockFn> {
  BURN_WATCH_CASTER(host::ClockFn, const_name("collections.abc.Callable[[], float]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return seam_from_python(src, held, [](PyCallable fn) {
      return host::ClockFn([fn] {
        return call_host([&] {
          nb::object result = nb::handle(fn.get())();
          const double seconds = PyFloat_AsDouble(result.ptr());
          if (seconds == -1.0 && PyErr_Occurred()) throw nb::python_error();
          return seconds;
        });
      });
    });
  }
};

template <>
struct type_caster<host::LogFn> {
  BURN_WATCH_CASTER(host::LogFn, const_name("collections.abc.Callable[[str, str], object]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return seam_from_python(src, held, [](PyCallable fn) {
      return host::LogFn([fn](host::LogLevel level, std::string_view message) {
        call_host([&] {
          nb::object text = nb::steal(str_from(message));
          nb::handle(fn.get())(level_name(level), text);
        });
      });
    });
  }
};

template <>
struct type_caster<cbw::CycleObserverFn> {
  BURN_WATCH_CASTER(cbw::CycleObserverFn,
                    const_name("collections.abc.Callable[[CycleReport], object]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return seam_from_python(src, held, [](PyCallable fn) {
      return cbw::CycleObserverFn([fn](cbw::CycleReport report) {
        call_host([&] { nb::handle(fn.get())(nb::cast(std::move(report))); });
      });
    });
  }
};

// A rules source: a Python callable returning (WatchRules, warning text).
template <>
struct type_caster<cbw::RulesSourceFn> {
  BURN_WATCH_CASTER(cbw::RulesSourceFn,
                    const_name("collections.abc.Callable[[], tuple[WatchRules, str]]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return seam_from_python(src, held, [](PyCallable fn) {
      return cbw::RulesSourceFn([fn] {
        return call_host([&] {
          nb::object result = nb::handle(fn.get())();
          nb::tuple pair = nb::cast<nb::tuple>(result);
          if (pair.size() != 2) throw nb::type_error("a rules source returns (WatchRules, str)");
          return cbw::RulesUpdate{nb::cast<cbw::WatchRules>(pair[0]),
                                  nb::cast<std::string>(pair[1])};
        });
      });
    });
  }
};

}  // namespace nanobind::detail
