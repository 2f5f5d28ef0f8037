#include "corvane_burn_watch/binding/values.hpp"

#include <charconv>
#include <utility>

namespace corvane_burn_watch::binding {

PyObject* checked(PyObject* created) {
  if (created == nullptr) throw nb::python_error();
  return created;
}

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

void enter_container(std::size_t depth) {
  if (depth >= json::kMaxDepth)
    throw RecursionError("a value nested more than " + std::to_string(json::kMaxDepth) +
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
      throw TypeError(std::string("mapping keys must be str, not ") + type_name(key));
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
  throw TypeError(std::string("a value of type ") + type_name(object) +
                  " cannot be represented as JSON");
}

PyObject* burn_map_to_python(const BurnMap& burns) {
  nb::object out = nb::steal(checked(PyDict_New()));
  for (const json::Member& member : burns) {
    nb::object key = nb::steal(str_from(member.key));
    const std::string* text = member.value.as_text();
    nb::object item = nb::steal(text ? str_from(*text) : PythonValues().value(member.value, 1));
    if (PyDict_SetItem(out.ptr(), key.ptr(), item.ptr()) != 0) throw nb::python_error();
  }
  return out.release().ptr();
}

BurnMap burn_map_of(PyObject* dict) {
  BurnMap out;
  out.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
  Py_ssize_t position = 0;
  PyObject *key, *value;
  while (PyDict_Next(dict, &position, &key, &value)) {
    if (!PyUnicode_Check(key))
      throw TypeError(std::string("mapping keys must be str, not ") + type_name(key));
    out.append(text_of(key),
               PyUnicode_Check(value) ? json::Value(text_of(value)) : value_of(value, 1));
  }
  return out;
}

// Python objects straight from a decoded document, event by event, with
// member names cached as PythonValues does.
// The members a subnet row is read for, and nothing else of the dict.
SubnetRow subnet_row_of(PyObject* dict) {
  static const auto names = [] {
    std::array<PyObject*, SubnetRow::kFields.size()> interned{};
    for (std::size_t i = 0; i < interned.size(); ++i)
      interned[i] = checked(PyUnicode_InternFromString(
          std::string(SubnetRow::kFields[i].first).c_str()));  // kept for the process
    return interned;
  }();
  SubnetRow row;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (PyObject* member = PyDict_GetItemWithError(dict, names[i]))
      row.*SubnetRow::kFields[i].second = value_of(member, 1);
    else if (PyErr_Occurred())
      throw nb::python_error();
  return row;
}

// Built with the `|` of the built-in types (types.UnionType) rather than
// typing.Union: importing typing would cost every start of the program.
nb::object json_value_alias() {
  const auto type = [](PyTypeObject* t) { return nb::handle(reinterpret_cast<PyObject*>(t)); };
  const auto either = [](nb::handle a, nb::handle b) {
    return nb::steal(checked(PyNumber_Or(a.ptr(), b.ptr())));
  };
  nb::str self("JsonValue");
  nb::object alias = either(type(&PyBool_Type), type(&PyLong_Type));
  alias = either(alias, type(&PyFloat_Type));
  alias = either(alias, type(&PyUnicode_Type));
  alias = either(alias, type(&PyList_Type)[self]);
  alias = either(alias, type(&PyDict_Type)[nb::make_tuple(type(&PyUnicode_Type), self)]);
  return either(alias, nb::none());
}

}  // namespace corvane_burn_watch::binding
