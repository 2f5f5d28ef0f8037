#pragma once
// The JSON value model: everything a JSON answer can carry or a Python host
// can pass. Objects keep member order; whole numbers keep their exact digits.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvane_burn_watch::json {

class Value;
struct Member;
using Array = std::vector<Value>;

// The deepest nesting of lists and objects a value may have: `[]` is one
// level, `[[]]` two. Decoding refuses a deeper document as malformed, and a
// host's converter refuses a deeper value (RecursionError), so the code that
// walks a value recursively (writers, text forms, comparison, destruction)
// never goes deeper than this.
inline constexpr std::size_t kMaxDepth = 512;

// A whole number of any length, kept as canonical decimal digits:
// an optional '-', no leading zeros, and "0" never negative.
struct Integer {
  std::string digits;
  static Integer from(long long value) { return Integer{std::to_string(value)}; }
  bool operator==(const Integer&) const = default;
};

// An object with member order kept and unique keys (a later set() replaces the
// value in place, as a Python dict does).
class Object {
 public:
  Object() = default;
  Object(std::initializer_list<Member> members);
  // Declared here and defaulted below, where Member is complete: some
  // compilers (clang) otherwise instantiate them while Value is still being
  // defined, when std::vector<Member> cannot be copied yet.
  Object(const Object&);
  Object(Object&&) noexcept;
  Object& operator=(const Object&);
  Object& operator=(Object&&) noexcept;
  ~Object();

  using const_iterator = std::vector<Member>::const_iterator;
  using iterator = std::vector<Member>::iterator;

  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;
  iterator begin();
  iterator end();

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  // Replaces the value of an existing key in place, or appends the member.
  void set(std::string key, Value value);
  // Appends without looking for the key; the caller knows it is new, or calls
  // remove_duplicate_keys() afterwards.
  void append(std::string key, Value value);
  // Keeps each key once, at its first position, with its last value.
  void remove_duplicate_keys();
  void reserve(std::size_t n);

  bool operator==(const Object& other) const;

 private:
  std::vector<Member> members_;
};

class Value {
 public:
  using Storage = std::variant<std::nullptr_t, bool, Integer, double, std::string, Array, Object>;
  enum class Kind { null, boolean, integer, number, text, list, object };

  Value() : storage_(nullptr) {}
  Value(std::nullptr_t) : storage_(nullptr) {}
  Value(bool b) : storage_(b) {}
  Value(Integer i) : storage_(std::move(i)) {}
  Value(int i) : storage_(Integer::from(i)) {}
  Value(long long i) : storage_(Integer::from(i)) {}
  Value(double d) : storage_(d) {}
  Value(std::string s) : storage_(std::move(s)) {}
  Value(std::string_view s) : storage_(std::string(s)) {}
  Value(const char* s) : storage_(std::string(s)) {}
  Value(Array a) : storage_(std::move(a)) {}
  Value(Object o) : storage_(std::move(o)) {}

  Kind kind() const { return static_cast<Kind>(storage_.index()); }
  bool is_null() const { return kind() == Kind::null; }
  bool is_text() const { return kind() == Kind::text; }
  bool is_list() const { return kind() == Kind::list; }
  bool is_object() const { return kind() == Kind::object; }
  bool is_number() const { return kind() == Kind::integer || kind() == Kind::number; }

  // Null when the value is of another kind.
  const bool* as_bool() const { return std::get_if<bool>(&storage_); }
  const Integer* as_integer() const { return std::get_if<Integer>(&storage_); }
  const double* as_double() const { return std::get_if<double>(&storage_); }
  const std::string* as_text() const { return std::get_if<std::string>(&storage_); }
  const Array* as_list() const { return std::get_if<Array>(&storage_); }
  const Object* as_object() const { return std::get_if<Object>(&storage_); }
  std::string* as_text() { return std::get_if<std::string>(&storage_); }
  Object* as_object() { return std::get_if<Object>(&storage_); }
  Array* as_list() { return std::get_if<Array>(&storage_); }

  // Python's truth value: null, false, zero, "", [] and {} are false.
  bool truthy() const;

  // What a message calls this kind: "None", "bool", "int", "float", "str",
  // "list", "dict" — the names a Python host knows.
  const char* kind_name() const;

  const Storage& storage() const { return storage_; }
  bool operator==(const Value& other) const { return storage_ == other.storage_; }

 private:
  Storage storage_;
};

struct Member {
  std::string key;
  Value value;
  bool operator==(const Member&) const = default;
};

inline Object::Object(const Object&) = default;
inline Object::Object(Object&&) noexcept = default;
inline Object& Object::operator=(const Object&) = default;
inline Object& Object::operator=(Object&&) noexcept = default;
inline Object::~Object() = default;

inline std::size_t Object::size() const {
  return members_.size();
}
inline bool Object::empty() const {
  return members_.empty();
}
inline Object::const_iterator Object::begin() const {
  return members_.begin();
}
inline Object::const_iterator Object::end() const {
  return members_.end();
}
inline Object::iterator Object::begin() {
  return members_.begin();
}
inline Object::iterator Object::end() {
  return members_.end();
}
inline void Object::reserve(std::size_t n) {
  members_.reserve(n);
}

}  // namespace corvane_burn_watch::json

namespace corvane_burn_watch {
// The library's operations speak in these.
using json::Array;
using json::Object;
using json::Value;
}  // namespace corvane_burn_watch
