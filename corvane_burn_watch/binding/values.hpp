#pragma once
// Conversions between Python objects and the library's value model.
//
// Texts: the library holds text as UTF-8 in which a lone surrogate, which a
// Python str may hold, is written as its own three bytes (what Python's
// "surrogatepass" error handler writes), and so texts go back and forth.
//
// Nesting: a value nested deeper than json::kMaxDepth raises RecursionError
// while it is converted, on any thread, before the core sees it.
#include <nanobind/nanobind.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/burn_watch.hpp"

namespace corvane_burn_watch::binding {

namespace nb = nanobind;

// A new reference from the C API, or the Python error it set.
PyObject* checked(PyObject* created);

// A str's text: its UTF-8 (which Python keeps with the str), or, for a str
// holding lone surrogates, their "surrogatepass" bytes in `storage`.
std::string_view text_of(PyObject* str, std::string& storage);
std::string text_of(PyObject* str);
PyObject* str_from(std::string_view text);
const char* type_name(PyObject* object);
json::Integer integer_of(PyObject* number);

// Python objects -> the value model. `depth` counts the containers around
// the object being converted.
json::Value value_of(PyObject* object, std::size_t depth);
json::Object object_of(PyObject* dict, std::size_t depth);
void enter_container(std::size_t depth);

// The burn map's members as plain str pairs, and back.
PyObject* burn_map_to_python(const BurnMap& burns);
BurnMap burn_map_of(PyObject* dict);

// The members a subnet row is read for, and nothing else of the dict.
SubnetRow subnet_row_of(PyObject* dict);

// The JsonValue alias the stubs name: what a JSON document can hold.
nb::object json_value_alias();

// The value model -> Python objects, the way Python's own decoder builds
// them: each member name that repeats from row to row becomes one str, kept
// in a small cache (a shared str also keeps its hash).
class PythonValues {
 public:
  PythonValues() = default;
  PythonValues(const PythonValues&) = delete;
  PythonValues& operator=(const PythonValues&) = delete;
  ~PythonValues() {
    for (Slot& slot : names_) Py_XDECREF(slot.name);
  }

  PyObject* value(const json::Value& value, std::size_t depth = 0) {
    using Kind = json::Value::Kind;
    switch (value.kind()) {
      case Kind::null:
        return Py_NewRef(Py_None);
      case Kind::boolean:
        return Py_NewRef(*value.as_bool() ? Py_True : Py_False);
      case Kind::integer:
        return integer(*value.as_integer());
      case Kind::number:
        return checked(PyFloat_FromDouble(*value.as_double()));
      case Kind::text:
        return str_from(*value.as_text());
      case Kind::list:
        return list(*value.as_list(), depth);
      case Kind::object:
        return object(*value.as_object(), depth);
    }
    return Py_NewRef(Py_None);
  }

  PyObject* object(const json::Object& object, std::size_t depth = 0) {
    enter_container(depth);
    nb::object out = nb::steal(checked(PyDict_New()));
    for (const json::Member& member : object) {
      nb::object key = nb::steal(name(member.key));
      nb::object item = nb::steal(value(member.value, depth + 1));
      if (PyDict_SetItem(out.ptr(), key.ptr(), item.ptr()) != 0) throw nb::python_error();
    }
    return out.release().ptr();
  }

  // The str of a member name (a new reference): from the cache when the name has been seen
  // (looked for in a few slots from its hash), else made and kept in a free
  // slot there, if any.
  PyObject* name(std::string_view key) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : key) hash = (hash ^ c) * 16777619u;
    Slot* free = nullptr;
    for (std::size_t probe = 0; probe < 4; ++probe) {
      Slot& slot = names_[(hash + probe) % names_.size()];
      if (slot.name == nullptr) {
        free = &slot;
        break;
      }
      if (slot.key == key) return Py_NewRef(slot.name);
    }
    PyObject* made = str_from(key);
    if (free != nullptr) *free = {key, Py_NewRef(made)};
    return made;
  }

 private:
  static PyObject* integer(const json::Integer& integer) {
    const std::string& digits = integer.digits;
    long long small = 0;
    // Up to 18 digits always fits a long long; longer ones go through Python's own reader.
    if (digits.size() <= 18 &&
        std::from_chars(digits.data(), digits.data() + digits.size(), small).ec == std::errc())
      return checked(PyLong_FromLongLong(small));
    return checked(PyLong_FromString(digits.c_str(), nullptr, 10));
  }

  PyObject* list(const json::Array& items, std::size_t depth) {
    enter_container(depth);
    nb::object out = nb::steal(checked(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i)
      PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), value(items[i], depth + 1));
    return out.release().ptr();
  }

  // Views into the value being converted, which outlives this object.
  struct Slot {
    std::string_view key;
    PyObject* name = nullptr;
  };

  std::array<Slot, 128> names_;
};

// The burn map's members as plain str pairs: its ids are all different, so
// there is nothing to share.

// Python objects straight from a decoded document, event by event, with
// member names cached as PythonValues does.
class PythonBuilder final : public json::Sink {
 public:
  void null() override { add(Py_NewRef(Py_None)); }
  void boolean(bool value) override { add(Py_NewRef(value ? Py_True : Py_False)); }
  void integer(std::int64_t value) override {
    add(checked(PyLong_FromLongLong(static_cast<long long>(value))));
  }
  void big_integer(std::string_view digits) override {
    add(checked(PyLong_FromString(std::string(digits).c_str(), nullptr, 10)));
  }
  void number(double value) override { add(checked(PyFloat_FromDouble(value))); }
  void text(std::string_view value) override { add(str_from(value)); }
  void begin_list(std::size_t size) override {
    open(checked(PyList_New(static_cast<Py_ssize_t>(size))), size);
  }
  void end_list() override {
    Open& list = open_.back();
    // A size given too large (simdjson caps what it counts) leaves slots to drop.
    if (list.filled < list.size &&
        PyList_SetSlice(list.container.ptr(), static_cast<Py_ssize_t>(list.filled),
                        static_cast<Py_ssize_t>(list.size), nullptr) != 0)
      throw nb::python_error();
    close();
  }
  void begin_object(std::size_t) override { open(checked(PyDict_New()), 0); }
  void key(std::string_view name) override { open_.back().key = nb::steal(names_.name(name)); }
  void end_object() override { close(); }

  nb::object take() { return std::move(result_); }

 private:
  struct Open {
    nb::object container;
    std::size_t size = 0;    // slots made for a list
    std::size_t filled = 0;  // items in a list
    nb::object key;          // the member being read, in a dict
  };

  void open(PyObject* container, std::size_t size) {
    open_.push_back(Open{nb::steal(container), size, 0, {}});
  }
  void close() {
    nb::object done = std::move(open_.back().container);
    open_.pop_back();
    add(done.release().ptr());
  }
  // Takes the new reference `item`.
  void add(PyObject* item) {
    nb::object held = nb::steal(item);
    if (open_.empty()) {
      result_ = std::move(held);
      return;
    }
    Open& parent = open_.back();
    if (PyList_Check(parent.container.ptr())) {
      if (parent.filled < parent.size)
        PyList_SET_ITEM(parent.container.ptr(), static_cast<Py_ssize_t>(parent.filled),
                        held.release().ptr());
      else if (PyList_Append(parent.container.ptr(), held.ptr()) != 0)
        throw nb::python_error();
      parent.size = std::max(parent.size, ++parent.filled);
    } else if (PyDict_SetItem(parent.container.ptr(), parent.key.ptr(), held.ptr()) != 0) {
      throw nb::python_error();
    }
  }

  std::vector<Open> open_;
  nb::object result_;
  PythonValues names_;
};

}  // namespace corvane_burn_watch::binding
