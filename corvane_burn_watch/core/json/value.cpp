#include "corvane_burn_watch/core/json/value.hpp"

#include <cstdint>
#include <string_view>

#include "corvane_burn_watch/core/json/key_index.hpp"

namespace corvane_burn_watch::json {

Object::Object(std::initializer_list<Member> members) {
  for (const auto& member : members) set(member.key, member.value);
}

const Value* Object::find(std::string_view key) const {
  for (const auto& member : members_)
    if (member.key == key) return &member.value;
  return nullptr;
}

Value* Object::find(std::string_view key) {
  for (auto& member : members_)
    if (member.key == key) return &member.value;
  return nullptr;
}

void Object::set(std::string key, Value value) {
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  members_.push_back(Member{std::move(key), std::move(value)});
}

void Object::append(std::string key, Value value) {
  members_.push_back(Member{std::move(key), std::move(value)});
}

namespace {

constexpr std::size_t kLinearLimit = 16;  // small objects: a scan beats hashing

// Duplicates are rare (a decoded document almost never has them), so the
// common case is told apart first, without moving anything.
bool has_duplicate_keys(const std::vector<Member>& members) {
  if (members.size() <= kLinearLimit) {
    // A 64-bit sketch of length and end characters rules out nearly every
    // pair without comparing the keys.
    std::uint64_t seen = 0;
    for (auto a = members.begin(); a != members.end(); ++a) {
      const std::string& key = a->key;
      const std::uint64_t bit =
          std::uint64_t{1} << ((key.size() * 7 + (key.empty() ? 0 : key.front() * 3 + key.back())) &
                               63);
      if (seen & bit)
        for (auto b = members.begin(); b != a; ++b)
          if (a->key == b->key) return true;
      seen |= bit;
    }
    return false;
  }
  KeyIndex seen(members.size());
  for (std::size_t i = 0; i < members.size(); ++i)
    if (seen.insert(members[i].key, i) != KeyIndex::npos) return true;
  return false;
}

}  // namespace

void Object::remove_duplicate_keys() {
  if (!has_duplicate_keys(members_)) return;
  std::vector<Member> unique;
  unique.reserve(members_.size());
  if (members_.size() <= kLinearLimit) {
    for (auto& member : members_) {
      auto it = unique.begin();
      while (it != unique.end() && it->key != member.key) ++it;
      if (it == unique.end())
        unique.push_back(std::move(member));
      else
        it->value = std::move(member.value);
    }
  } else {
    KeyIndex position(members_.size());
    // `unique` never reallocates (reserved above), so views of its keys stay valid.
    for (auto& member : members_) {
      if (const std::size_t at = position.find(member.key); at != KeyIndex::npos) {
        unique[at].value = std::move(member.value);
      } else {
        unique.push_back(std::move(member));
        position.insert(unique.back().key, unique.size() - 1);
      }
    }
  }
  members_ = std::move(unique);
}

bool Object::operator==(const Object& other) const {
  return members_ == other.members_;
}

bool Value::truthy() const {
  switch (kind()) {
    case Kind::null:
      return false;
    case Kind::boolean:
      return *as_bool();
    case Kind::integer:
      return as_integer()->digits != "0";
    case Kind::number:
      return *as_double() != 0.0;  // NaN is true, as in Python
    case Kind::text:
      return !as_text()->empty();
    case Kind::list:
      return !as_list()->empty();
    case Kind::object:
      return !as_object()->empty();
  }
  return false;
}

const char* Value::kind_name() const {
  switch (kind()) {
    case Kind::null:
      return "None";
    case Kind::boolean:
      return "bool";
    case Kind::integer:
      return "int";
    case Kind::number:
      return "float";
    case Kind::text:
      return "str";
    case Kind::list:
      return "list";
    case Kind::object:
      return "dict";
  }
  return "unknown";
}

}  // namespace corvane_burn_watch::json
