#include "corvane_burn_watch/data_client/unicode_strip.hpp"

#include <cstddef>

#include "corvane_burn_watch/core/utf8.hpp"

namespace corvane_burn_watch::data_client {

namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the code point starting at `pos` of valid UTF-8 and its length.
char32_t decode_at(std::string_view text, std::size_t pos, std::size_t& length) {
  auto byte = static_cast<unsigned char>(text[pos]);
  length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
  char32_t c = length == 1 ? byte : byte & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i)
    c = (c << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  return c;
}

}  // namespace

std::string_view strip_white_space(std::string_view text) {
  const bool unicode = utf8::is_valid(text);
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end) {
    std::size_t length = 1;
    char32_t c = unicode ? decode_at(text, begin, length) : static_cast<unsigned char>(text[begin]);
    if (!(unicode || c < 0x80) || !is_white_space(c)) break;
    begin += length;
  }
  while (end > begin) {
    std::size_t start = end - 1;
    if (unicode)
      while (start > begin && is_continuation(static_cast<unsigned char>(text[start]))) --start;
    std::size_t length = 1;
    char32_t c = unicode ? decode_at(text, start, length) : static_cast<unsigned char>(text[start]);
    if (!(unicode || c < 0x80) || !is_white_space(c)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace corvane_burn_watch::data_client
