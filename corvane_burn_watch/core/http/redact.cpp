#include "corvane_burn_watch/core/http/redact.hpp"

#include <algorithm>
#include <string_view>

namespace corvane_burn_watch::http {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The end of the longest wire form of `secret` that starts at `pos`, or npos.
// Each byte is spelled as itself, as "%XX", or, for a space, as "+". Only a
// "%" of the secret can be spelled two ways that both fit ("%" and "%25");
// both are then tried.
std::size_t match_end(std::string_view text, std::size_t pos, std::string_view secret) {
  for (std::size_t i = 0; i < secret.size(); ++i) {
    if (pos >= text.size()) return std::string_view::npos;
    const char wanted = secret[i];
    if (text[pos] == '%' && pos + 2 < text.size()) {
      const int high = hex_value(text[pos + 1]), low = hex_value(text[pos + 2]);
      if (high >= 0 && low >= 0 && static_cast<char>(high * 16 + low) == wanted) {
        if (wanted != '%') {
          pos += 3;
          continue;
        }
        const std::size_t encoded = match_end(text, pos + 3, secret.substr(i + 1));
        const std::size_t literal = match_end(text, pos + 1, secret.substr(i + 1));
        if (encoded == std::string_view::npos) return literal;
        if (literal == std::string_view::npos) return encoded;
        return std::max(encoded, literal);
      }
    }
    if (text[pos] != wanted && !(wanted == ' ' && text[pos] == '+')) return std::string_view::npos;
    ++pos;
  }
  return pos;
}

// Calls `hide(start, end)` for each occurrence, left to right; the search
// goes on after each one.
template <class Hide>
void for_each_occurrence(std::string_view text, std::string_view secret, Hide hide) {
  if (secret.empty()) return;
  const char first = secret.front();
  for (std::size_t pos = 0; pos < text.size();) {
    // Most bytes can start no spelling of the secret at all.
    const char c = text[pos];
    if (c != first && c != '%' && !(first == ' ' && c == '+')) {
      ++pos;
      continue;
    }
    const std::size_t end = match_end(text, pos, secret);
    if (end == std::string_view::npos) {
      ++pos;
    } else {
      hide(pos, end);
      pos = end;
    }
  }
}

}  // namespace

std::string redact(std::string text, const std::vector<std::string>& secrets) {
  static constexpr std::string_view kMask = "<redacted>";
  for (const auto& secret : secrets) {
    // Built anew in one pass: replacing in place would move the rest of a
    // large body once for every occurrence.
    std::string out;
    std::size_t copied = 0;
    for_each_occurrence(text, secret, [&](std::size_t start, std::size_t end) {
      if (out.empty()) out.reserve(text.size());
      out.append(text, copied, start - copied);
      out += kMask;
      copied = end;
    });
    if (copied == 0) continue;  // no occurrence (one at the very start ends past 0)
    out.append(text, copied);
    text = std::move(out);
  }
  return text;
}

void mask(std::string& bytes, const std::vector<std::string>& secrets) {
  for (const auto& secret : secrets)
    for_each_occurrence(bytes, secret, [&](std::size_t start, std::size_t end) {
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                bytes.begin() + static_cast<std::ptrdiff_t>(end), '*');
    });
}

}  // namespace corvane_burn_watch::http
