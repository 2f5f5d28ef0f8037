#pragma once
// Burn values and state: an owner burn value taken from a subnet row, shown
// with four decimals and compared against a threshold; the burn state file;
// the list of changes between two burn maps. Pure logic and one file format:
// no network.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane_burn_watch/core/json/value.hpp"
#include "corvane_burn_watch/core/subnet_row.hpp"

namespace corvane_burn_watch {

// A burn map: subnet id text -> burn text (both normally texts), in the order
// the ids were first seen. An object of its own kind, so that a host can tell
// it from any other object (a Python host sees a dict[str, str]).
struct BurnMap : json::Object {
  using json::Object::Object;
  BurnMap() = default;
  BurnMap(json::Object object) : json::Object(std::move(object)) {}
};

// One subnet whose burn changed: id text, old burn text, new burn text.
struct ChangeTriple {
  std::string subnet_id;
  std::string old_burn;
  std::string new_burn;
  bool operator==(const ChangeTriple&) const = default;
};
// Change triples in ascending numeric order of subnet id.
using ChangeList = std::vector<ChangeTriple>;

// A change as a host hands one over: a list of exactly three values, the
// subnet id in any form (its plain text is taken: 7 as "7", None as "None")
// and the old and the new burn, which must be texts. Throws TypeError for a
// value that is no list or a burn that is no text, ValueError for a list of
// another length.
ChangeTriple change_from_value(json::Value change);

// Digits after the decimal point in a displayed burn value.
inline constexpr int OWNER_BURN_DECIMALS = 4;

// The burn text of a row's "incentive_burn": "0" when it is missing, null,
// false, zero or empty; a text unchanged; a number by the number-writing rule.
std::string owner_burn_from_row(const SubnetRow& row);
// The same for a row given as a JSON value. Throws TypeError when `row` is
// not an object.
std::string owner_burn_from_row(const json::Value& row);
// The burn text shown with OWNER_BURN_DECIMALS decimals, or unchanged when it
// does not read as a number.
std::string format_owner_burn(std::string_view value);
// Whether two burn texts differ by more than `threshold`.
bool owner_burn_changed(std::string_view old_burn, std::string_view new_burn, double threshold);

// The burn map stored at `path`; empty when there is nothing usable. Throws
// UnicodeDecodeError / ValueError for a file that is not UTF-8 or whose
// top-level JSON is not an object.
BurnMap load_burn_state(const std::string& path);
// Replaces the state file atomically (temporary file, fsync, rename); a
// symbolic link is followed and kept. Throws OsError when it cannot be written
// or when the path holds something other than a regular file (a FIFO, a
// device, a socket, a directory); the old file or node is then left intact.
void save_burn_state(const std::string& path, const BurnMap& burns, const std::string& updated_at);

// Subnets present in both maps whose burn changed by more than `threshold`,
// in ascending numeric order of id. Throws ValueError for an id in `current`
// that is not an integer, TypeError for a burn that is not text.
ChangeList diff_burns(const BurnMap& prev, const BurnMap& current, double threshold);

}  // namespace corvane_burn_watch
