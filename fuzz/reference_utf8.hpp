#pragma once
// A strict UTF-8 check written from the encoding's definition, independent of
// the library's validator: no overlong forms, no surrogates, nothing above
// U+10FFFF, no stray or missing continuation bytes.
#include <cstddef>
#include <string_view>

namespace fuzz {

inline bool reference_utf8_valid(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t extra;
    unsigned long code_point;
    unsigned long smallest;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, code_point = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code_point = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code_point = lead & 0x07, smallest = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;  // sequence cut off by the end
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < smallest || code_point > 0x10FFFF) return false;
    if (code_point >= 0xD800 && code_point <= 0xDFFF) return false;
    i += extra + 1;
  }
  return true;
}

// Code points of valid UTF-8 text.
inline std::size_t reference_code_points(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace fuzz
