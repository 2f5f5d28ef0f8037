#pragma once
// The text forms a Python host gives values: the one its print() shows for a
// value inside a container, and the plain form used for ids and burns.
#include <string>

#include "corvane_burn_watch/core/json/value.hpp"

namespace corvane_burn_watch::python_text {

// The text form a Python host would print for the value: 'single-quoted'
// texts, True/False/None, {'k': v, ...} and [a, b].
std::string text_form(const json::Value& value);

// The plain text form: a text as it is, any other value as text_form().
std::string plain_text(const json::Value& value);

}  // namespace corvane_burn_watch::python_text
