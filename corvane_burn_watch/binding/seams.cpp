#include "corvane_burn_watch/binding/seams.hpp"

#include <chrono>

namespace corvane_burn_watch::binding {

PyCallable hold_callable(nb::handle fn) {
  return PyCallable(fn.inc_ref().ptr(), [](PyObject* p) {
    if (!Py_IsInitialized()) return;  // the interpreter is gone: nothing to release
    nb::gil_scoped_acquire gil;
    Py_DECREF(p);
  });
}

// Python runs signal handlers (Ctrl-C, the host's SIGTERM handler) on its main
// thread only, so only there is there anything to check. The check takes the
// GIL, which other Python threads may hold: a long transfer checks at most
// every 100 ms rather than on each of libcurl's progress calls.
void install_interrupt_check() {
  const unsigned long main_thread = nb::cast<unsigned long>(
      nb::module_::import_("threading").attr("main_thread")().attr("ident"));
  host::set_interrupt_check([main_thread] {
    if (PyThread_get_thread_ident() != main_thread) return;
    using clock = std::chrono::steady_clock;
    static thread_local clock::time_point last_check;
    const clock::time_point now = clock::now();
    if (now - last_check < std::chrono::milliseconds(100)) return;
    last_check = now;
    nb::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      auto error = std::make_exception_ptr(nb::python_error());
      throw Interrupted{error};
    }
  });
}

// Messages of a dry run go to sys.stdout, so that they keep their place
// among what the host itself prints there.
void install_output() {
  host::set_output([](std::string_view text) {
    call_host([&] {
      nb::object out = nb::module_::import_("sys").attr("stdout");
      if (out.is_none()) return;
      out.attr("write")(nb::steal(str_from(text)));
      out.attr("flush")();
    });
  });
}

void clear_host_seams() {
  host::set_sleep({});
  host::set_clock({});
  host::set_log({});
  host::set_interrupt_check({});
  host::set_output({});
  set_cycle_observer({});
}

const char* level_name(host::LogLevel level) {
  switch (level) {
    case host::LogLevel::info:
      return "info";
    case host::LogLevel::warning:
      return "warning";
    case host::LogLevel::error:
      return "error";
  }
  return "info";
}

}  // namespace corvane_burn_watch::binding
