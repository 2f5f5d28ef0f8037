// The Python binding: type casters between Python objects and the library's
// types, the exception translation, and one definition per operation. Every
// rule is the core's; the casters only convert.
//
// Texts: the library holds text as UTF-8 in which a lone surrogate, which a
// Python str may hold, is written as its own three bytes (what Python's
// "surrogatepass" error handler writes), and so texts go back and forth.
//
// Nesting: a value nested deeper than json::kMaxDepth raises RecursionError
// while it is converted, on any thread, before the core sees it.
#include <nanobind/nanobind.h>
#include <nanobind/operators.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "corvane_burn_watch/burn_watch.hpp"
#include "corvane_burn_watch/core/http/client.hpp"

namespace nb = nanobind;
using namespace nb::literals;
namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;
namespace host = corvane_burn_watch::host;

namespace {

// ---- Conversions of values ---------------------------------------------------

// A new reference from the C API, or the Python error it set.
PyObject* checked(PyObject* created) {
  if (created == nullptr) throw nb::python_error();
  return created;
}

// A str's text: its UTF-8 (which Python keeps with the str), or, for a str
// holding lone surrogates, their "surrogatepass" bytes in `storage`.
std::string_view text_of(PyObject* str, std::string& storage) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(str, &size))
    return std::string_view(data, static_cast<std::size_t>(size));
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw nb::python_error();
  PyErr_Clear();
  nb::object bytes = nb::steal(checked(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass")));
  storage.assign(PyBytes_AS_STRING(bytes.ptr()),
                 static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
  return storage;
}

std::string text_of(PyObject* str) {
  std::string storage;
  std::string_view text = text_of(str, storage);
  return storage.empty() ? std::string(text) : std::move(storage);
}

PyObject* str_from(std::string_view text) {
  return checked(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

const char* type_name(PyObject* object) {
  return Py_TYPE(object)->tp_name;
}

json::Integer integer_of(PyObject* number) {
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(number, &overflow);
  if (!overflow) {
    if (small == -1 && PyErr_Occurred()) throw nb::python_error();
    return json::Integer::from(small);
  }
  // int's own repr: an int subclass's methods (which could run any code, even
  // change the container being read) are never called.
  return json::Integer{text_of(nb::steal(checked(PyLong_Type.tp_repr(number))).ptr())};
}

// Python objects -> the value model. `depth` counts the containers around
// the object being converted.
json::Value value_of(PyObject* object, std::size_t depth);

void enter_container(std::size_t depth) {
  if (depth >= json::kMaxDepth)
    throw cbw::RecursionError("a value nested more than " + std::to_string(json::kMaxDepth) +
                              " levels deep cannot be converted");
}

json::Object object_of(PyObject* dict, std::size_t depth) {
  enter_container(depth);
  json::Object out;
  out.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
  Py_ssize_t position = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &position, &key, &value)) {
    if (!PyUnicode_Check(key))
      throw cbw::TypeError(std::string("mapping keys must be str, not ") + type_name(key));
    out.append(text_of(key), value_of(value, depth + 1));  // dict keys are unique
  }
  return out;
}

json::Value value_of(PyObject* object, std::size_t depth) {
  if (object == Py_None) return nullptr;
  if (object == Py_True) return true;
  if (object == Py_False) return false;
  if (PyUnicode_Check(object)) return text_of(object);
  if (PyFloat_Check(object)) return PyFloat_AS_DOUBLE(object);
  if (PyLong_Check(object)) return integer_of(object);
  if (PyDict_Check(object)) return object_of(object, depth);
  if (PyList_Check(object) || PyTuple_Check(object)) {
    enter_container(depth);
    PyObject* const* items = PySequence_Fast_ITEMS(object);
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(object);
    json::Array out;
    out.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) out.push_back(value_of(items[i], depth + 1));
    return out;
  }
  throw cbw::TypeError(std::string("a value of type ") + type_name(object) +
                       " cannot be represented as JSON");
}

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
PyObject* burn_map_to_python(const cbw::BurnMap& burns) {
  nb::object out = nb::steal(checked(PyDict_New()));
  for (const json::Member& member : burns) {
    nb::object key = nb::steal(str_from(member.key));
    const std::string* text = member.value.as_text();
    nb::object item = nb::steal(text ? str_from(*text) : PythonValues().value(member.value, 1));
    if (PyDict_SetItem(out.ptr(), key.ptr(), item.ptr()) != 0) throw nb::python_error();
  }
  return out.release().ptr();
}

cbw::BurnMap burn_map_of(PyObject* dict) {
  cbw::BurnMap out;
  out.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
  Py_ssize_t position = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &position, &key, &value)) {
    if (!PyUnicode_Check(key))
      throw cbw::TypeError(std::string("mapping keys must be str, not ") + type_name(key));
    out.append(text_of(key),
               PyUnicode_Check(value) ? json::Value(text_of(value)) : value_of(value, 1));
  }
  return out;
}

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

// The members a subnet row is read for, and nothing else of the dict.
cbw::SubnetRow subnet_row_of(PyObject* dict) {
  static const auto names = [] {
    std::array<PyObject*, cbw::SubnetRow::kFields.size()> interned{};
    for (std::size_t i = 0; i < interned.size(); ++i)
      interned[i] = checked(PyUnicode_InternFromString(
          std::string(cbw::SubnetRow::kFields[i].first).c_str()));  // kept for the process
    return interned;
  }();
  cbw::SubnetRow row;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (PyObject* member = PyDict_GetItemWithError(dict, names[i]))
      row.*cbw::SubnetRow::kFields[i].second = value_of(member, 1);
    else if (PyErr_Occurred())
      throw nb::python_error();
  return row;
}

}  // namespace

// ---- Type casters -------------------------------------------------------------
//
// A caster's from_python may not throw: it answers only whether the object is
// of the right kind. Conversions that can fail for other reasons (a value too
// deeply nested, a key that is no str, a change of the wrong length) record
// what they threw, and the caster throws it again when the call takes the
// value, where the exception translator makes it the matching Python error.

namespace nanobind::detail {

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
      value = text_of(src.ptr());
      return true;
    } catch (nb::python_error&) {
      return false;  // the error is dropped with the exception
    }
  }
  static handle from_cpp(std::string_view text, rv_policy, cleanup_list*) noexcept {
    try {
      return str_from(text);
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
      value = text_of(src.ptr(), storage);
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
    return held.convert([&] { return value_of(src.ptr(), 0); });
  }
  static handle from_cpp(const json::Value& value, rv_policy, cleanup_list*) noexcept {
    return made([&] { return PythonValues().value(value); });
  }
};

// A decoded document: Python objects are built straight from it.
template <>
struct type_caster<json::Document> {
  BURN_WATCH_CASTER(json::Document, const_name("JsonValue"))
  static handle from_cpp(const json::Document& document, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      PythonBuilder builder;
      document.emit(builder);
      return builder.take().release().ptr();
    });
  }
};

template <>
struct type_caster<json::Object> {
  BURN_WATCH_CASTER(json::Object, const_name("dict[str, JsonValue]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyDict_Check(src.ptr()) && held.convert([&] { return object_of(src.ptr(), 0); });
  }
  static handle from_cpp(const json::Object& object, rv_policy, cleanup_list*) noexcept {
    return made([&] { return PythonValues().object(object); });
  }
};

template <>
struct type_caster<cbw::BurnMap> {
  BURN_WATCH_CASTER(cbw::BurnMap, const_name("dict[str, str]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyDict_Check(src.ptr()) && held.convert([&] { return burn_map_of(src.ptr()); });
  }
  static handle from_cpp(const cbw::BurnMap& burns, rv_policy, cleanup_list*) noexcept {
    return made([&] { return burn_map_to_python(burns); });
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
        changes.push_back(cbw::change_from_value(value_of(PyList_GET_ITEM(src.ptr(), i), 1)));
      return changes;
    });
  }
  static handle from_cpp(const cbw::ChangeList& changes, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      nb::object out = nb::steal(checked(PyList_New(static_cast<Py_ssize_t>(changes.size()))));
      for (std::size_t i = 0; i < changes.size(); ++i) {
        const cbw::ChangeTriple& change = changes[i];
        nb::object id = nb::steal(str_from(change.subnet_id));
        nb::object old_burn = nb::steal(str_from(change.old_burn));
        nb::object new_burn = nb::steal(str_from(change.new_burn));
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i),
                        checked(PyTuple_Pack(3, id.ptr(), old_burn.ptr(), new_burn.ptr())));
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
      nb::object detail = nb::steal(str_from(result.detail));
      return checked(PyTuple_Pack(2, result.ok ? Py_True : Py_False, detail.ptr()));
    });
  }
};

// A subnet row: a dict, of which only the members SubnetRow names are read.
template <>
struct type_caster<cbw::SubnetRow> {
  BURN_WATCH_CASTER(cbw::SubnetRow, const_name("dict[str, JsonValue]"))
  bool from_python(handle src, uint8_t, cleanup_list*) noexcept {
    return PyDict_Check(src.ptr()) && held.convert([&] { return subnet_row_of(src.ptr()); });
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
                           ? subnet_row_of(row)
                           : cbw::SubnetRow::from_value(value_of(row, 1), "a subnet row"));
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
           held.convert([&] { return cbw::ChunkLimit(integer_of(src.ptr())); });
  }
  static handle from_cpp(const cbw::ChunkLimit& limit, rv_policy, cleanup_list*) noexcept {
    return made([&] {
      if (const double* fraction = std::get_if<double>(&limit))
        return checked(PyFloat_FromDouble(*fraction));
      return PythonValues().value(std::get<json::Integer>(limit));
    });
  }
};

}  // namespace nanobind::detail

// ---- Host seams ------------------------------------------------------------------

namespace {

// A Python callable that may be copied and dropped on any thread, GIL or not.
using PyCallable = std::shared_ptr<PyObject>;

PyCallable hold_callable(nb::handle fn) {
  return PyCallable(fn.inc_ref().ptr(), [](PyObject* p) {
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
      std::string message = text_of(nb::str(e.value()).ptr());
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
      throw cbw::Interrupted{error};
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
  cbw::set_cycle_observer({});
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

}  // namespace

namespace nanobind::detail {

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

}  // namespace nanobind::detail

// ---- Errors ----------------------------------------------------------------------

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

void translate_error(const std::exception_ptr& error, void*) {
  try {
    std::rethrow_exception(error);
  } catch (const cbw::Interrupted& e) {
    if (e.original) return restore_original(e.original);
    PyErr_SetNone(PyExc_KeyboardInterrupt);
  } catch (const cbw::HostError& e) {
    restore_original(e.original);
  } catch (const cbw::UnicodeDecodeError& e) {
    raise_instance(PyUnicodeDecodeError_Create(
        "utf-8", e.data.data(), static_cast<Py_ssize_t>(e.data.size()),
        static_cast<Py_ssize_t>(e.start), static_cast<Py_ssize_t>(e.end), e.reason.c_str()));
  } catch (const cbw::UnicodeEncodeError& e) {
    PyObject* text = PyUnicode_DecodeUTF8(e.text.data(), static_cast<Py_ssize_t>(e.text.size()),
                                          "surrogatepass");
    if (text == nullptr) return;
    raise_instance(PyObject_CallFunction(PyExc_UnicodeEncodeError, "sOnns", "utf-8", text,
                                         static_cast<Py_ssize_t>(e.start),
                                         static_cast<Py_ssize_t>(e.end), "surrogates not allowed"));
    Py_DECREF(text);
  } catch (const cbw::OsError& e) {
    nb::object exc = e.filename.empty()
                         ? nb::handle(PyExc_OSError)(e.errno_value, e.what())
                         : nb::handle(PyExc_OSError)(e.errno_value, e.what(), e.filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  } catch (const cbw::NetworkError& e) {
    using Kind = cbw::NetworkError::Kind;
    raise(e.kind == Kind::connection ? PyExc_ConnectionError
          : e.kind == Kind::timeout  ? PyExc_TimeoutError
                                     : PyExc_OSError,
          e.what());
  } catch (const cbw::RecursionError& e) {
    raise(PyExc_RecursionError, e.what());
  } catch (const cbw::TypeError& e) {
    raise(PyExc_TypeError, e.what());
  } catch (const cbw::ValueError& e) {
    raise(PyExc_ValueError, e.what());
  }
}

// The JsonValue alias the stubs name: what a JSON document can hold.
nb::object json_value_alias() {
  nb::module_ typing = nb::module_::import_("typing");
  nb::object self = typing.attr("ForwardRef")("JsonValue");
  nb::handle list_type(reinterpret_cast<PyObject*>(&PyList_Type));
  nb::handle dict_type(reinterpret_cast<PyObject*>(&PyDict_Type));
  nb::handle str_type(reinterpret_cast<PyObject*>(&PyUnicode_Type));
  return typing.attr(
      "Union")[nb::make_tuple(nb::none(), nb::handle(reinterpret_cast<PyObject*>(&PyBool_Type)),
                              nb::handle(reinterpret_cast<PyObject*>(&PyLong_Type)),
                              nb::handle(reinterpret_cast<PyObject*>(&PyFloat_Type)), str_type,
                              list_type[self], dict_type[nb::make_tuple(str_type, self)])];
}

}  // namespace

// ---- The module ------------------------------------------------------------------

NB_MODULE(burn_watch, m) {
  m.doc() =
      "Watches the owner burn rate of every Corvane subnet, keeps the last values in a JSON "
      "state file and reports changes to one Telegram chat.";

  nb::register_exception_translator(translate_error);
  cbw::http::global_init();
  install_interrupt_check();
  install_output();
  nb::module_::import_("atexit").attr("register")(nb::cpp_function(clear_host_seams));

  // Operations that may wait (files, the network, sleeping) let other Python
  // threads run meanwhile.
  const auto waits = nb::call_guard<nb::gil_scoped_release>();

  m.attr("JsonValue") = json_value_alias();

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

  // ---- Settings ----
  nb::class_<cbw::Settings>(
      m, "Settings",
      "Where the outside services are and how they are reached. A member left None takes the "
      "service's default.")
      .def(nb::init<std::optional<std::string>, std::optional<std::string>,
                    std::optional<std::string>, std::optional<std::string>,
                    std::optional<std::string>>(),
           nb::kw_only(), "api_base"_a = nb::none(), "api_key"_a = nb::none(),
           "user_agent"_a = nb::none(), "telegram_api_base"_a = nb::none(),
           "ca_bundle"_a = nb::none())
      .def_static("from_environment", &cbw::Settings::from_environment,
                  "The settings the environment gives now (ORBISCA_API_BASE, ORBISCA_API_KEY, "
                  "ORBISCA_USER_AGENT, BURN_TELEGRAM_API_BASE, SSL_CERT_FILE).")
      .def_ro("api_base", &cbw::Settings::api_base, "Data service base URL.")
      .def_ro("api_key", &cbw::Settings::api_key, "Data service API key.")
      .def_ro("user_agent", &cbw::Settings::user_agent, "User-Agent sent to the data service.")
      .def_ro("telegram_api_base", &cbw::Settings::telegram_api_base, "Bot API base URL.")
      .def_ro("ca_bundle", &cbw::Settings::ca_bundle, "CA bundle to trust for HTTPS.")
      .def(nb::self == nb::self, nb::sig("def __eq__(self, other: object, /) -> bool"));

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
        "The startup table of every row's burn, in numeric subnet order.");
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
      .def_ro("burns", &cbw::CycleReport::burns)
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
  // Keyword-only, as a host names every argument. Without settings, the
  // environment is read on every call.
  m.def(
      "run_burn_watch_once",
      [](std::string state_path, double threshold, std::string burn_token, std::string burn_chat_id,
         std::optional<cbw::Settings> settings, std::optional<cbw::WatchOptions> options) {
        return cbw::run_burn_watch_once({std::move(state_path), threshold, std::move(burn_token),
                                         std::move(burn_chat_id), std::move(settings)},
                                        options.value_or(cbw::WatchOptions{}));
      },
      waits, nb::kw_only(), "state_path"_a, "threshold"_a, "burn_token"_a, "burn_chat_id"_a,
      "settings"_a = nb::none(), "options"_a = nb::none(),
      "One watch cycle: fetch every subnet, store the burns, alert on changes. Returns 0 when it "
      "completed and any alert was delivered, else 1; with options.redeliver, 2 when Telegram "
      "refuses the bot or the chat (restarting cannot help).");
  m.def(
      "run_burn_startup_snapshot",
      [](std::string state_path, std::string burn_token, std::string burn_chat_id,
         std::optional<cbw::Settings> settings, std::optional<cbw::WatchOptions> options) {
        return cbw::run_burn_startup_snapshot({std::move(state_path), std::move(burn_token),
                                               std::move(burn_chat_id), std::move(settings)},
                                              options.value_or(cbw::WatchOptions{}));
      },
      waits, nb::kw_only(), "state_path"_a, "burn_token"_a, "burn_chat_id"_a,
      "settings"_a = nb::none(), "options"_a = nb::none(),
      "Fetch all subnets and send full burn-rate snapshot to burn Telegram. Returns 0 or 1 (2 as "
      "run_burn_watch_once does); with options.redeliver it first alerts what changed since the "
      "state file was saved.");
  m.def(
      "run_burn_poll_loop",
      [](std::string state_path, double threshold, double interval_minutes, std::string burn_token,
         std::string burn_chat_id, std::string pause_path, std::optional<cbw::Settings> settings,
         std::optional<cbw::WatchOptions> options) {
        cbw::run_burn_poll_loop(
            {std::move(state_path), threshold, interval_minutes, std::move(burn_token),
             std::move(burn_chat_id), std::move(pause_path), std::move(settings)},
            options.value_or(cbw::WatchOptions{}));
      },
      waits, nb::kw_only(), "state_path"_a, "threshold"_a, "interval_minutes"_a, "burn_token"_a,
      "burn_chat_id"_a, "pause_path"_a = "", "settings"_a = nb::none(), "options"_a = nb::none(),
      "Run a watch cycle every interval (at least one minute; the first after one interval) "
      "until the pause file appears. Errors of a cycle are logged and the loop goes on.");
  m.def("_burn_is_paused", &cbw::burn_is_paused, waits, "pause_path"_a,
        "Whether pause_path names an existing regular file; False when empty.");
  m.def("_sleep_until_interval", &cbw::sleep_until_interval, waits, "interval_seconds"_a,
        "pause_path"_a, "Sleep in 1s steps. Returns False if paused before interval elapsed.");

  // ---- Telegram checks: getMe and getChat ----
  nb::class_<cbw::TelegramBot>(m, "TelegramBot", "What getMe says about the bot behind a token.")
      .def(nb::init<>())
      .def_ro("ok", &cbw::TelegramBot::ok)
      .def_ro("username", &cbw::TelegramBot::username)
      .def_ro("detail", &cbw::TelegramBot::detail);
  nb::class_<cbw::TelegramChat>(m, "TelegramChat", "What getChat says about the chat.")
      .def(nb::init<>())
      .def_ro("ok", &cbw::TelegramChat::ok)
      .def_ro("title", &cbw::TelegramChat::title)
      .def_ro("type", &cbw::TelegramChat::type)
      .def_ro("migrated_to", &cbw::TelegramChat::migrated_to)
      .def_ro("detail", &cbw::TelegramChat::detail);
  m.def("get_telegram_bot", &cbw::get_telegram_bot, waits, "token"_a, "settings"_a = nb::none(),
        "getMe: the bot's username, or (ok False) why the token is refused.");
  m.def("get_telegram_chat", &cbw::get_telegram_chat, waits, "token"_a, "chat_id"_a,
        "settings"_a = nb::none(),
        "getChat: the chat's title and type, or (ok False) why not; migrated_to names the new "
        "chat of a group that became a supergroup.");
  m.def(
      "send_burn_test_message",
      [](std::string state_path, std::string burn_token, std::string burn_chat_id, std::string text,
         std::optional<cbw::Settings> settings, std::optional<cbw::WatchOptions> options) {
        return cbw::send_burn_test_message(
            {std::move(state_path), std::move(burn_token), std::move(burn_chat_id), std::move(text),
             std::move(settings)},
            options.value_or(cbw::WatchOptions{}));
      },
      waits, nb::kw_only(), "state_path"_a, "burn_token"_a, "burn_chat_id"_a, "text"_a,
      "settings"_a = nb::none(), "options"_a = nb::none(),
      "One message the way alerts go (topic, rate limit, a moved chat); (True, '') when "
      "delivered, else (False, why). Writes nothing.");
}
