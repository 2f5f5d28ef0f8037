#include "corvane_burn_watch/binding/errors.hpp"

#include <nanobind/nanobind.h>

#include <string_view>

#include "corvane_burn_watch/binding/casters.hpp"
#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::binding {

namespace nb = nanobind;

namespace {

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

// Raises `type` with a message that may hold any text the library holds.
void raise(PyObject* type, std::string_view message) {
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return;  // the decoder's own error stands
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

void raise_instance(PyObject* exception) {
  if (exception == nullptr) return;  // its constructor's error stands
  PyErr_SetObject(PyExceptionInstance_Class(exception), exception);
  Py_DECREF(exception);
}

}  // namespace

void translate_error(const std::exception_ptr& error, void*) {
  try {
    std::rethrow_exception(error);
  } catch (const Interrupted& e) {
    if (e.original) return restore_original(e.original);
    PyErr_SetNone(PyExc_KeyboardInterrupt);
  } catch (const HostError& e) {
    restore_original(e.original);
  } catch (const UnicodeDecodeError& e) {
    raise_instance(PyUnicodeDecodeError_Create(
        "utf-8", e.data.data(), static_cast<Py_ssize_t>(e.data.size()),
        static_cast<Py_ssize_t>(e.start), static_cast<Py_ssize_t>(e.end), e.reason.c_str()));
  } catch (const UnicodeEncodeError& e) {
    PyObject* text = PyUnicode_DecodeUTF8(e.text.data(), static_cast<Py_ssize_t>(e.text.size()),
                                          "surrogatepass");
    if (text == nullptr) return;
    raise_instance(PyObject_CallFunction(PyExc_UnicodeEncodeError, "sOnns", "utf-8", text,
                                         static_cast<Py_ssize_t>(e.start),
                                         static_cast<Py_ssize_t>(e.end), "surrogates not allowed"));
    Py_DECREF(text);
  } catch (const OsError& e) {
    nb::object exc = e.filename.empty()
                         ? nb::handle(PyExc_OSError)(e.errno_value, e.what())
                         : nb::handle(PyExc_OSError)(e.errno_value, e.what(), e.filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  } catch (const NetworkError& e) {
    using Kind = NetworkError::Kind;
    raise(e.kind == Kind::connection ? PyExc_ConnectionError
          : e.kind == Kind::timeout  ? PyExc_TimeoutError
                                     : PyExc_OSError,
          e.what());
  } catch (const RecursionError& e) {
    raise(PyExc_RecursionError, e.what());
  } catch (const TypeError& e) {
    raise(PyExc_TypeError, e.what());
  } catch (const ValueError& e) {
    raise(PyExc_ValueError, e.what());
  }
}

}  // namespace corvane_burn_watch::binding
