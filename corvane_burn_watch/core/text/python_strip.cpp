#include "corvane_burn_watch/core/text/python_strip.hpp"

#include <cstddef>

#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::python_text {

namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

}  // namespace

std::string_view strip_white_space(std::string_view text) {
  const bool unicode = utf8::is_valid(text);
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end) {
    std::size_t length = 1;
    char32_t c =
        unicode ? utf8::decode_at(text, begin, length) : static_cast<unsigned char>(text[begin]);
    if (!(unicode || c < 0x80) || !is_white_space(c)) break;
    begin += length;
  }
  while (end > begin) {
    std::size_t start = end - 1;
    if (unicode)
      while (start > begin && utf8::is_continuation(static_cast<unsigned char>(text[start])))
        --start;
    std::size_t length = 1;
    char32_t c =
        unicode ? utf8::decode_at(text, start, length) : static_cast<unsigned char>(text[start]);
    if (!(unicode || c < 0x80) || !is_white_space(c)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace corvane_burn_watch::python_text
