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

// Lengths of the spellings of `wanted` that start at `pos`, at most four: the
// byte itself (or "+" for a space), "%XX", "%25XX" (percent-encoded twice)
// and "\\u00XX" (a JSON escape of an ASCII character).
struct Spellings {
  std::size_t lengths[4] = {};
  std::size_t count = 0;
};

Spellings spellings_at(std::string_view text, std::size_t pos, char wanted) {
  const auto hex_pair = [&](std::size_t at) {
    if (at + 1 >= text.size()) return -1;
    const int high = hex_value(text[at]), low = hex_value(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
  };
  const auto spells = [&](int byte) { return byte >= 0 && static_cast<char>(byte) == wanted; };
  Spellings found;
  if (text[pos] == wanted || (wanted == ' ' && text[pos] == '+')) found.lengths[found.count++] = 1;
  if (text[pos] == '%') {
    const int once = hex_pair(pos + 1);
    if (spells(once)) found.lengths[found.count++] = 3;
    if (once == '%' && spells(hex_pair(pos + 3))) found.lengths[found.count++] = 5;
  } else if (text[pos] == '\\' && pos + 1 < text.size() && text[pos + 1] == 'u' &&
             hex_pair(pos + 2) == 0 && spells(hex_pair(pos + 4))) {
    found.lengths[found.count++] = 6;
  }
  return found;
}

// The end of the longest wire form of `secret` that starts at `pos`, or npos.
// Each byte may be spelled in any of its ways (spellings_at); where more than
// one fits, each is tried.
std::size_t match_end(std::string_view text, std::size_t pos, std::string_view secret) {
  for (std::size_t i = 0; i < secret.size(); ++i) {
    if (pos >= text.size()) return std::string_view::npos;
    const Spellings ways = spellings_at(text, pos, secret[i]);
    if (ways.count == 0) return std::string_view::npos;
    if (ways.count == 1) {
      pos += ways.lengths[0];
      continue;
    }
    std::size_t longest = std::string_view::npos;
    for (std::size_t w = 0; w < ways.count; ++w) {
      const std::size_t end = match_end(text, pos + ways.lengths[w], secret.substr(i + 1));
      if (end != std::string_view::npos && (longest == std::string_view::npos || end > longest))
        longest = end;
    }
    return longest;
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
    if (c != first && c != '%' && c != '\\' && !(first == ' ' && c == '+')) {
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

std::vector<std::string> token_secrets(std::string_view token) {
  std::vector<std::string> secrets;
  const auto add = [&](std::string_view piece, bool whole) {
    if (piece.empty() || (!whole && piece.size() < kShortestSecretPiece)) return;
    if (std::find(secrets.begin(), secrets.end(), piece) == secrets.end())
      secrets.emplace_back(piece);
  };
  const auto path_part = [](std::string_view text) {
    return text.substr(0, text.find_first_of("#?"));
  };
  add(token, true);
  add(path_part(token), false);
  if (const std::size_t colon = token.find(':'); colon != std::string_view::npos) {
    add(token.substr(colon + 1), false);
    add(path_part(token.substr(colon + 1)), false);
  }
  std::stable_sort(secrets.begin(), secrets.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  return secrets;
}

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
