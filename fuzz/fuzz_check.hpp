#pragma once
// Invariant checks for the fuzz targets: a broken invariant prints what was
// expected and aborts, which libFuzzer (and the corpus replay) reports as a
// crash together with the input that caused it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line,
                              std::string_view detail) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  if (!detail.empty())
    std::fprintf(stderr, "  detail: %.*s\n", static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// Shows bytes with everything outside printable ASCII escaped, for details.
inline std::string printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

}  // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                       \
  do {                                                                      \
    if (!(condition)) ::fuzz::fail(#condition, __FILE__, __LINE__, detail); \
  } while (0)
