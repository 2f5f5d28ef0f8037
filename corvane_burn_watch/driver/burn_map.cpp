#include "corvane_burn_watch/driver/burn_map.hpp"

#include "corvane_burn_watch/core/json_text.hpp"
#include "corvane_burn_watch/core/numbers.hpp"

namespace corvane_burn_watch::driver {

std::string netuid_text(const json::Value& netuid) {
  using Kind = json::Value::Kind;
  switch (netuid.kind()) {
    case Kind::text:
      return *netuid.as_text();
    case Kind::integer:
      return netuid.as_integer()->digits;
    case Kind::number:
      return numbers::write_double(*netuid.as_double());
    case Kind::null:
      return "None";
    case Kind::boolean:
      return *netuid.as_bool() ? "True" : "False";
    case Kind::list:
    case Kind::object:
      break;
  }
  return json::text_form(netuid);
}

BurnMap build_burn_map(const json::Array& rows) {
  BurnMap burns;
  burns.reserve(rows.size());
  for (const json::Value& row : rows) {
    const json::Object* fields = row.as_object();
    if (fields == nullptr)
      throw TypeError(std::string("subnet row must be a dict, not ") + row.kind_name());
    const json::Value* netuid = fields->find("netuid");
    if (netuid == nullptr) continue;
    // The key first, then the value.
    std::string key = netuid_text(*netuid);
    burns.append(std::move(key), owner_burn_from_row(row));
  }
  // A repeated subnet id keeps its first position and takes the later row's
  // value; looking each key up as it comes would cost n² on a long list.
  burns.remove_duplicate_keys();
  return burns;
}

}  // namespace corvane_burn_watch::driver
