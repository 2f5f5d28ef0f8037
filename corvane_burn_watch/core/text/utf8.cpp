#include "corvane_burn_watch/core/text/utf8.hpp"

#include <algorithm>
#include <optional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>

#include "corvane_burn_watch/core/errors.hpp"

namespace corvane_burn_watch::utf8 {
namespace {

struct Problem {
  std::size_t start;
  std::size_t end;
};

// Discards what the validator copies.
struct NullStream {
  using Ch = char;
  void Put(Ch) {}
};

// The position of the first byte at or after `i` that is not ASCII, or the
// size. Service answers are almost all ASCII, so this carries most of a check.
std::size_t skip_ascii(std::string_view s, std::size_t i) {
#if defined(__SSE2__)
  for (; s.size() - i >= 64; i += 64) {
    const auto* block = reinterpret_cast<const __m128i*>(s.data() + i);
    const __m128i any =
        _mm_or_si128(_mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1)),
                     _mm_or_si128(_mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)));
    if (_mm_movemask_epi8(any)) break;  // find the byte 16 at a time below
  }
  for (; s.size() - i >= 16; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    if (const int high_bits = _mm_movemask_epi8(chunk))
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(high_bits)));
  }
#endif
  while (i < s.size() && !(static_cast<unsigned char>(s[i]) & 0x80)) ++i;
  return i;
}

// The first sequence that is not strict UTF-8 (overlong forms, surrogates and
// code points above U+10FFFF included), found with RapidJSON's validator; runs
// of ASCII, always valid, are skipped in bulk.
std::optional<Problem> first_problem(std::string_view s) {
  std::size_t i = 0;
  NullStream sink;
  while ((i = skip_ascii(s, i)) < s.size()) {
    rapidjson::MemoryStream stream(s.data() + i, s.size() - i);
    if (!rapidjson::UTF8<>::Validate(stream, sink))
      return Problem{i, std::min(i + stream.Tell(), s.size())};
    i += stream.Tell();
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

void require_encodable(std::string_view text) {
  const auto is_surrogate_at = [&](std::size_t i) {
    return i + 2 < text.size() && static_cast<unsigned char>(text[i]) == 0xED &&
           static_cast<unsigned char>(text[i + 1]) >= 0xA0;
  };
  for (std::size_t i = skip_ascii(text, 0); i < text.size(); i = skip_ascii(text, i + 1)) {
    if (!is_surrogate_at(i)) continue;
    // Reported as a Python host's encoder does: the run of surrogates, in code points.
    const std::size_t start = length(text.substr(0, i));
    std::size_t end = start;
    for (; is_surrogate_at(i); i += 3) ++end;
    throw UnicodeEncodeError(std::string(text), start, end);
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
