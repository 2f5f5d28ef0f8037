#pragma once
// UTF-8 checks and counting in code points.
#include <cstddef>
#include <string_view>

namespace corvane_burn_watch::utf8 {

// Throws UnicodeDecodeError at the first byte sequence that is not strict UTF-8
// (overlong forms and surrogates included).
void require_valid(std::string_view bytes);

bool is_valid(std::string_view bytes);

// Texts the library holds may also carry lone surrogates (U+D800..U+DFFF),
// each written as its own three bytes (ED A0..BF xx), as a Python host's texts
// may hold them. Everything below that counts or walks code points takes them
// as one code point each.

// Throws UnicodeEncodeError when `text` holds a lone surrogate: UTF-8 has no
// bytes for one, so such a text cannot go into a request.
void require_encodable(std::string_view text);

// Whether `byte` continues a multi-byte sequence (10xxxxxx).
inline bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Number of code points in valid UTF-8 text.
std::size_t length(std::string_view text);

// The first `count` code points of valid UTF-8 text (all of it when shorter).
std::string_view prefix(std::string_view text, std::size_t count);

// The code point that starts at `pos` of valid UTF-8 text; `length` gets the
// number of bytes it takes.
inline char32_t decode_at(std::string_view text, std::size_t pos, std::size_t& length) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
  char32_t c = length == 1 ? byte : byte & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i)
    c = (c << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  return c;
}

// Calls `emit(code_point)` for each code point of valid UTF-8 text.
template <class Emit>
void for_each_code_point(std::string_view text, Emit emit) {
  for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length)
    emit(static_cast<unsigned>(decode_at(text, pos, length)));
}

}  // namespace corvane_burn_watch::utf8
