#include "corvane_burn_watch/core/utf8.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>

#include "corvane_burn_watch/core/errors.hpp"

namespace corvane_burn_watch::utf8 {
namespace {

struct Problem {
  std::size_t start;
  std::size_t end;
};

bool is_continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Discards what the validator copies.
struct NullStream {
  using Ch = char;
  void Put(Ch) {}
};

// The first sequence that is not strict UTF-8 (overlong forms, surrogates and
// code points above U+10FFFF included), found with RapidJSON's validator.
std::optional<Problem> first_problem(std::string_view s) {
  rapidjson::MemoryStream stream(s.data(), s.size());
  NullStream sink;
  while (stream.Tell() < s.size()) {
    const std::size_t start = stream.Tell();
    if (!rapidjson::UTF8<>::Validate(stream, sink))
      return Problem{start, std::min(stream.Tell(), s.size())};
  }
  return std::nullopt;
}

}  // namespace

bool is_valid(std::string_view bytes) {
  return !first_problem(bytes);
}

void require_valid(std::string_view bytes) {
  if (auto problem = first_problem(bytes)) {
    throw UnicodeDecodeError(std::string(bytes.substr(0, problem->end)), problem->start,
                             problem->end, "invalid utf-8 sequence");
  }
}

std::size_t length(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += !is_continuation(c);
  return count;
}

std::string_view prefix(std::string_view text, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!is_continuation(static_cast<unsigned char>(text[i]))) {
      if (seen == count) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

}  // namespace corvane_burn_watch::utf8
