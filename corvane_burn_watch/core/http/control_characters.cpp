#include "corvane_burn_watch/core/http/control_characters.hpp"

#include <algorithm>
#include <string>

#include "corvane_burn_watch/core/errors.hpp"

namespace corvane_burn_watch::http {

bool has_control_character(std::string_view value) {
  return std::any_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

void require_no_control_characters(std::string_view value, std::string_view setting) {
  if (has_control_character(value))
    throw ValueError(std::string(setting) +
                     " holds a control character (such as CR, LF or NUL), which cannot go into "
                     "a request; nothing was sent");
}

}  // namespace corvane_burn_watch::http
