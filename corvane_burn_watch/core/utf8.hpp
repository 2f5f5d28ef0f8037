#pragma once
// UTF-8 checks and counting in code points.
#include <cstddef>
#include <string_view>

namespace corvane_burn_watch::utf8 {

// Throws UnicodeDecodeError at the first byte sequence that is not strict UTF-8
// (overlong forms and surrogates included).
void require_valid(std::string_view bytes);

bool is_valid(std::string_view bytes);

// Number of code points in valid UTF-8 text.
std::size_t length(std::string_view text);

// The first `count` code points of valid UTF-8 text (all of it when shorter).
std::string_view prefix(std::string_view text, std::size_t count);

}  // namespace corvane_burn_watch::utf8
