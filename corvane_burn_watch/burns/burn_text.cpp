#include "corvane_burn_watch/burns/burn_text.hpp"

#include "corvane_burn_watch/core/json_text.hpp"
#include "corvane_burn_watch/core/numbers.hpp"

namespace corvane_burn_watch::burns {

std::string burn_text_of(const json::Value& value) {
  using Kind = json::Value::Kind;
  switch (value.kind()) {
    case Kind::text:
      return *value.as_text();
    case Kind::integer:
      return value.as_integer()->digits;
    case Kind::number:
      return numbers::write_double(*value.as_double());
    case Kind::boolean:
      return *value.as_bool() ? "True" : "False";
    case Kind::null:
      return "None";
    case Kind::list:
    case Kind::object:
      break;
  }
  return json::text_form(value);
}

}  // namespace corvane_burn_watch::burns
