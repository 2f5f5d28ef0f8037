#include "corvane_burn_watch/telegram/form_encoding.hpp"

namespace corvane_burn_watch::telegram {
namespace {

bool stays_unchanged(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '_' || byte == '.' || byte == '-' || byte == '~';
}

void append_encoded(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char byte : text) {
    if (stays_unchanged(byte)) {
      out += static_cast<char>(byte);
    } else if (byte == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
}

}  // namespace

std::string form_encode(const std::vector<FormField>& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    append_encoded(out, name);
    out += '=';
    append_encoded(out, value);
  }
  return out;
}

}  // namespace corvane_burn_watch::telegram
