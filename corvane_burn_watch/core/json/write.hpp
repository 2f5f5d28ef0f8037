#pragma once
// The JSON text layouts this system writes.
#include <initializer_list>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::json {

// The state file layout: 2-space indentation, one member per line, members
// sorted by key (code point order), pure-ASCII strings. No final line feed.
std::string write_indented_sorted(const Value& value);
// A member of an object written in that layout: its key and either a value
// or an object held elsewhere, which is written where it is, not copied.
struct MemberToWrite {
  std::string_view key;
  const Value* value = nullptr;
  const Object* object = nullptr;
};
// write_indented_sorted() of the object made of `members`.
std::string write_indented_sorted(std::initializer_list<MemberToWrite> members);

// One-line JSON for log lines: ", " between items, ": " after keys, members
// in their own order, pure-ASCII strings, NaN/Infinity/-Infinity for the
// non-finite doubles.
std::string write_one_line(const Value& value);

// Appends `text` as a JSON string literal escaped to pure ASCII.
void append_ascii_json_string(std::string& out, std::string_view text);

}  // namespace corvane_burn_watch::json
