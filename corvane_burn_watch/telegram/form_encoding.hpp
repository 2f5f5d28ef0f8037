#pragma once
// The application/x-www-form-urlencoded body of a sendMessage request.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane_burn_watch::telegram {

using FormField = std::pair<std::string_view, std::string_view>;

// Fields as name=value joined by "&", in the given order. Every byte of the
// UTF-8 names and values outside ASCII letters, digits and "_.-~" is written as
// upper-case "%XX", except a space, which becomes "+". The result is ASCII.
std::string form_encode(const std::vector<FormField>& fields);

}  // namespace corvane_burn_watch::telegram
