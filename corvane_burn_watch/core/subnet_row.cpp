#include "corvane_burn_watch/core/subnet_row.hpp"

#include <string>
#include <utility>

#include "corvane_burn_watch/core/errors.hpp"

namespace corvane_burn_watch {

SubnetRow SubnetRow::from_object(json::Object object) {
  SubnetRow row;
  // Decoded objects hold each key once, so the first match is the value.
  for (json::Member& member : object) {
    for (const auto& [name, field] : kFields) {
      if (member.key == name && !(row.*field)) {
        row.*field = std::move(member.value);
        break;
      }
    }
  }
  return row;
}

SubnetRow SubnetRow::from_value(json::Value value, std::string_view what) {
  json::Object* object = value.as_object();
  if (object == nullptr)
    throw TypeError(std::string(what) + " must be a dict, not " + value.kind_name());
  return from_object(std::move(*object));
}

}  // namespace corvane_burn_watch
