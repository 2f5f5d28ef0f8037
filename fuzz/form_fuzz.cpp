// Fuzzes the form encoder of sendMessage bodies.
//
// The input is cut at every 0x01 byte into names and values (name, value,
// name, value...). The body must be pure ASCII made only of unreserved bytes,
// "+", "&", "=" and "%XX" with upper-case hex digits that never stand for an
// unreserved byte or a space; decoding it must give back the fields exactly.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane_burn_watch/telegram/form_encoding.hpp"
#include "fuzz/fuzz_check.hpp"

namespace telegram = corvane_burn_watch::telegram;

namespace {

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-' || c == '~';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower case is not what the encoder writes
}

std::string decode_component(std::string_view encoded, const std::string& body) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const auto c = static_cast<unsigned char>(encoded[i]);
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      FUZZ_CHECK(i + 2 < encoded.size(), body);
      const int high = hex_value(encoded[i + 1]), low = hex_value(encoded[i + 2]);
      FUZZ_CHECK(high >= 0 && low >= 0, body);
      const auto byte = static_cast<unsigned char>(high << 4 | low);
      FUZZ_CHECK(!unreserved(byte) && byte != ' ', body);
      out.push_back(static_cast<char>(byte));
      i += 2;
    } else {
      FUZZ_CHECK(unreserved(c), body);
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::vector<std::string_view> pieces(std::string_view input) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t cut; (cut = input.find('\x01', start)) != std::string_view::npos;
       start = cut + 1)
    out.push_back(input.substr(start, cut - start));
  out.push_back(input.substr(start));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts =
      pieces(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<telegram::FormField> fields;
  for (std::size_t i = 0; i < parts.size(); i += 2)
    fields.emplace_back(parts[i], i + 1 < parts.size() ? parts[i + 1] : std::string_view());

  const std::string body = telegram::form_encode(fields);
  for (unsigned char c : body) FUZZ_CHECK(c < 0x80, fuzz::printable(body));

  std::size_t field = 0, start = 0;
  for (;;) {
    const std::size_t end = std::min(body.find('&', start), body.size());
    const std::string_view pair = std::string_view(body).substr(start, end - start);
    const std::size_t equals = pair.find('=');
    FUZZ_CHECK(equals != std::string_view::npos, body);
    FUZZ_CHECK(field < fields.size(), body);
    FUZZ_CHECK(decode_component(pair.substr(0, equals), body) == fields[field].first, body);
    FUZZ_CHECK(decode_component(pair.substr(equals + 1), body) == fields[field].second, body);
    ++field;
    if (end == body.size()) break;
    start = end + 1;
  }
  FUZZ_CHECK(field == fields.size(), body);
  return 0;
}
