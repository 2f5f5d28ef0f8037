#pragma once
// The burn text of a value found in a row or in the state file.
#include <string>

#include "corvane_burn_watch/core/json_value.hpp"

namespace corvane_burn_watch::burns {

// Text unchanged, whole numbers as their digits, other numbers by the
// number-writing rule, True/False/None, and the Python-like text form of a
// list or object.
std::string burn_text_of(const json::Value& value);

}  // namespace corvane_burn_watch::burns
