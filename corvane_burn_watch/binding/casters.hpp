#pragma once
// Type casters between Python objects and the library's types. Every rule is
// the core's; the casters only convert.
#include <nanobind/nanobind.h>

#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane_burn_watch/binding/values.hpp"
#include "corvane_burn_watch/burn_watch.hpp"

// A caster's from_python may not throw: it answers only whether the object is
// of the right kind. Conversions that can fail for other reasons (a value too
// deeply nested, a key that is no str, a change of the wrong length) record
// what they threw, and the caster throws it again when the call takes the
// value, where the exception translator makes it the matching Python error.

namespace nanobind::detail {

namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;
namespace binding = corvane_burn_watch::binding;
namespace nb = nanobind;

template <class T>
struct converted {
  T value{};
  std::exception_ptr failure;

  template <class Convert>
  bool convert(Convert&& convert) noexcept {
    try {
      value = convert();
    } catch (...) {
      failure = std::current_exception();
    }
    return true;
  }
  T& get() {
    if (failure) std::rethrow_exception(failure);
    return value;
  }
};

#define BURN_WATCH_CASTER(Type, descr) \
  using Value = Type;                  \
  static constexpr auto Name = descr;  \
  template <typename T_>               \
  using Cast = movable_cast_t<T_>;     \
  template <typename T_>               \
  static constexpr bool can_cast() {   \
    return true;                       \
  }                                    \
  converted<Type> held;                \
  explicit operator Type*() {          \
    return &held.get();                \
  }                                    \
  explicit operator Type&() {          \
    return held.get();                 \
  }                                    \
  explicit operator Type&&() {         \
    return std::move(held.get());      \
  }

// Texts. A str always converts; only a failing allocation could stop it,
// which then reads as the wrong kind (a string caster may sit inside
// nanobind's own casters, which take no deferred errors).
template <>
struct type_caster<std::string> {
  NB_TYPE_CASTER(std::string, const_name("str"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    if (!PyUnicode_Check(src.ptr())) return false;
    try {
      value = binding::text_of(src.ptr());
      return true;
    } catch (nb::python_error&) {
      return false;  // the error is dropped with the exception
    }
  }
  static handle from_cpp(std::string_view text, rv_policy, cleanup_list*) noexcept {
    try {
      return binding::str_from(text);
    } catch (nb::python_error& e) {
      e.restore();
      return handle();
    }
  }
};

template <>
struct type_caster<std::string_view> {
  NB_TYPE_CASTER(std::string_view, const_name("str"))
  std::string storage;  // the text of a str with lone surrogates
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    if (!PyUnicode_Check(src.ptr())) return false;
    try {
      value = binding::text_of(src.ptr(), storage);
      return true;
    } catch (nb::python_error&) {
      return false;
    }
  }
  static handle from_cpp(std::string_view text, rv_policy policy, cleanup_list* cleanup) noexcept {
    return type_caster<std::string>::from_cpp(text, policy, cleanup);
  }
};

// Builds a Python object from C++, the way a caster's from_cpp reports failure.
template <class F>
handle made(F&& make) noexcept {
  try {
    return make();
  } catch (nb::python_error& e) {
    e.restore();
  } catch (const cbw::RecursionError& e) {
    PyErr_SetString(PyExc_RecursionError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  }
  return handle();
}

// Any JSON value; named in the stubs by the JsonValue alias.
template <>
struct type_caster<json::Value> {
  BURN_WATCH_CASTER(json::Value, const_name("JsonValue"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return held.convert([&] { return binding::value_of(src.ptr(), 0); });
  }
  static handle from_cpp(const json::Value& value, rv_policy, cleanup_list*) noexcept {
    return made([&] { return binding::PythonValues().value(value); });
  }
};

// A decoded document: Python objects are built straight from it.
template <>
struct type_caster<json::Document> {
  BURN_WATCH_CASTER(json::Document, const_name("JsonValue"))
  static handle from_cpp(const json::Document& document, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      binding::PythonBuilder builder;
      document.emit(builder);
      return builder.take().release().ptr();
    });
  }
};

template <>
struct type_caster<json::Object> {
  BURN_WATCH_CASTER(json::Object, const_name("dict[str, JsonValue]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyDict_Check(src.ptr()) &&
           held.convert([&] { return binding::object_of(src.ptr(), 0); });
  }
  static handle from_cpp(const json::Object& object, rv_policy, cleanup_list*) noexcept {
    return made([&] { return binding::PythonValues().object(object); });
  }
};

template <>
struct type_caster<cbw::BurnMap> {
  BURN_WATCH_CASTER(cbw::BurnMap, const_name("dict[str, str]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyDict_Check(src.ptr()) && held.convert([&] { return binding::burn_map_of(src.ptr()); });
  }
  static handle from_cpp(const cbw::BurnMap& burns, rv_policy, cleanup_list*) noexcept {
    return made([&] { return binding::burn_map_to_python(burns); });
  }
};

// A list of changes: each a list or tuple of id, old burn and new burn.
template <>
struct type_caster<cbw::ChangeList> {
  BURN_WATCH_CASTER(cbw::ChangeList, const_name("list[tuple[str, str, str]]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyList_Check(src.ptr()) && held.convert([&] {
      cbw::ChangeList changes;
      changes.reserve(static_cast<std::size_t>(PyList_GET_SIZE(src.ptr())));
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(src.ptr()); ++i)
        changes.push_back(
            cbw::change_from_value(binding::value_of(PyList_GET_ITEM(src.ptr(), i), 1)));
      return changes;
    });
  }
  static handle from_cpp(const cbw::ChangeList& changes, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      nb::object out =
          nb::steal(binding::checked(PyList_New(static_cast<Py_ssize_t>(changes.size()))));
      for (std::size_t i = 0; i < changes.size(); ++i) {
        const cbw::ChangeTriple& change = changes[i];
        nb::object id = nb::steal(binding::str_from(change.subnet_id));
        nb::object old_burn = nb::steal(binding::str_from(change.old_burn));
        nb::object new_burn = nb::steal(binding::str_from(change.new_burn));
        PyList_SET_ITEM(
            out.ptr(), static_cast<Py_ssize_t>(i),
            binding::checked(PyTuple_Pack(3, id.ptr(), old_burn.ptr(), new_burn.ptr())));
      }
      return out.release().ptr();
    });
  }
};

template <>
struct type_caster<cbw::DeliveryResult> {
  BURN_WATCH_CASTER(cbw::DeliveryResult, const_name("tuple[bool, str]"))
  static handle from_cpp(const cbw::DeliveryResult& result, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      nb::object detail = nb::steal(binding::str_from(result.detail));
      return binding::checked(PyTuple_Pack(2, result.ok ? Py_True : Py_False, detail.ptr()));
    });
  }
};

// A subnet row: a dict, of which only the members SubnetRow names are read.
template <>
struct type_caster<cbw::SubnetRow> {
  BURN_WATCH_CASTER(cbw::SubnetRow, const_name("dict[str, JsonValue]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyDict_Check(src.ptr()) &&
           held.convert([&] { return binding::subnet_row_of(src.ptr()); });
  }
};

template <>
struct type_caster<std::span<const cbw::SubnetRow>> {
  BURN_WATCH_CASTER(std::span<const cbw::SubnetRow>, const_name("list[dict[str, JsonValue]]"))
  std::vector<cbw::SubnetRow> rows;
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyList_Check(src.ptr()) && held.convert([&] {
      rows.reserve(static_cast<std::size_t>(PyList_GET_SIZE(src.ptr())));
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(src.ptr()); ++i) {
        PyObject* row = PyList_GET_ITEM(src.ptr(), i);
        rows.push_back(PyDict_Check(row)
                           ? binding::subnet_row_of(row)
                           : cbw::SubnetRow::from_value(binding::value_of(row, 1), "a subnet row"));
      }
      return std::span<const cbw::SubnetRow>(rows);
    });
  }
};

// A chunk length: a Python int of any size, or a float.
template <>
struct type_caster<cbw::ChunkLimit> {
  BURN_WATCH_CASTER(cbw::ChunkLimit, const_name("int | float"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    if (PyFloat_Check(src.ptr()))
      return held.convert([&] { return cbw::ChunkLimit(PyFloat_AS_DOUBLE(src.ptr())); });
    return PyLong_Check(src.ptr()) &&
           held.convert([&] { return cbw::ChunkLimit(binding::integer_of(src.ptr())); });
  }
  static handle from_cpp(const cbw::ChunkLimit& limit, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      if (const double* fraction = std::get_if<double>(&limit))
        return binding::checked(PyFloat_FromDouble(*fraction));
      return binding::PythonValues().value(std::get<json::Integer>(limit));
    });
  }
};

}  // namespace nanobind::detail
