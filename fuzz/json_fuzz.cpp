// Fuzzes JSON decoding into the value model and the two writers.
//
// Any bytes: text that is not UTF-8 must be refused by the UTF-8 check (and
// agree with an independent check); valid text either decodes or raises
// SyntaxError, nothing else, and as the RapidJSON reader alone does (simdjson
// decodes what it takes first). A decoded value
// written as one-line JSON must be pure ASCII and decode to the same value;
// the indented, sorted layout must decode to a value with the same indented,
// sorted layout. A decode that keeps only some row members must accept and
// refuse the same texts and give the full decode with the other row members
// left out.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/parse_testing.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/reference_utf8.hpp"

namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;
namespace python_text = corvane_burn_watch::python_text;

namespace {

bool is_ascii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

// NaN never equals itself, so values holding one are compared by their text.
bool holds_nan(const json::Value& value) {
  if (const double* d = value.as_double()) return *d != *d;
  if (const json::Array* list = value.as_list()) {
    for (const auto& item : *list)
      if (holds_nan(item)) return true;
  }
  if (const json::Object* object = value.as_object()) {
    for (const auto& member : *object)
      if (holds_nan(member.value)) return true;
  }
  return false;
}

constexpr std::string_view kRowMembers[] = {"netuid", "incentive_burn"};
const json::RowProjection kRows{"data", kRowMembers};

json::Value projected_by_hand(json::Value document) {
  json::Object* top = document.as_object();
  if (!top) return document;
  for (json::Member& member : *top) {
    json::Array* rows = member.key == kRows.list_key ? member.value.as_list() : nullptr;
    if (!rows) continue;
    for (json::Value& row : *rows) {
      json::Object* fields = row.as_object();
      if (!fields) continue;
      json::Object kept;
      for (json::Member& field : *fields)
        if (field.key == kRowMembers[0] || field.key == kRowMembers[1])
          kept.append(field.key, field.value);
      *fields = kept;
    }
  }
  return document;
}

bool projection_refuses(std::string_view bytes) {
  try {
    json::parse(std::string(bytes), kRows);
    return false;
  } catch (const json::SyntaxError&) {
    return true;
  }
}

json::Value decode_own_output(const std::string& text) {
  try {
    return json::parse(text);
  } catch (const json::SyntaxError& e) {
    fuzz::fail("own output decodes", __FILE__, __LINE__, std::string(e.what()) + ": " + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool valid = fuzz::reference_utf8_valid(bytes);
  FUZZ_CHECK(cbw::utf8::is_valid(bytes) == valid, fuzz::printable(bytes));
  if (!valid) {
    try {
      cbw::utf8::require_valid(bytes);
      FUZZ_CHECK(false && "require_valid accepts bytes that are not UTF-8", fuzz::printable(bytes));
    } catch (const cbw::UnicodeDecodeError& e) {
      FUZZ_CHECK(e.start < e.end && e.end <= size, e.what());
      FUZZ_CHECK(e.data == bytes.substr(0, e.end), e.what());
      FUZZ_CHECK(fuzz::reference_utf8_valid(bytes.substr(0, e.start)), e.what());
    }
    return 0;
  }

  json::Value value;
  try {
    value = json::parse(std::string(bytes));
  } catch (const json::SyntaxError& e) {
    FUZZ_CHECK(projection_refuses(bytes), fuzz::printable(bytes));
    try {
      json::parse_with_reader(bytes, nullptr);
      FUZZ_CHECK(false && "the reader alone accepts a refused text", fuzz::printable(bytes));
    } catch (const json::SyntaxError& alone) {
      FUZZ_CHECK(std::string(alone.what()) == e.what(), fuzz::printable(bytes));
    }
    return 0;
  }
  std::optional<json::Value> by_reader;
  try {
    by_reader = json::parse_with_reader(bytes, nullptr);
  } catch (const json::SyntaxError& e) {
    FUZZ_CHECK(false && "the reader alone refuses a text the decode takes", e.what());
  }
  if (by_reader) {
    FUZZ_CHECK(json::write_one_line(*by_reader) == json::write_one_line(value),
               fuzz::printable(bytes));
    if (!holds_nan(value)) {
      FUZZ_CHECK(*by_reader == value, fuzz::printable(bytes));
      FUZZ_CHECK(json::parse_with_reader(bytes, &kRows) == json::parse(std::string(bytes), kRows),
                 fuzz::printable(bytes));
    }
  }
  if (!holds_nan(value))
    FUZZ_CHECK(json::parse(std::string(bytes), kRows) == projected_by_hand(value),
               fuzz::printable(bytes));
  const std::string one_line = json::write_one_line(value);
  FUZZ_CHECK(is_ascii(one_line), one_line);
  const json::Value again = decode_own_output(one_line);
  FUZZ_CHECK(json::write_one_line(again) == one_line, one_line);
  if (!holds_nan(value)) FUZZ_CHECK(again == value, one_line);

  const std::string indented = json::write_indented_sorted(value);
  FUZZ_CHECK(is_ascii(indented), indented);
  FUZZ_CHECK(json::write_indented_sorted(decode_own_output(indented)) == indented, indented);

  const std::string shown = python_text::text_form(value);
  FUZZ_CHECK(fuzz::reference_utf8_valid(shown), fuzz::printable(shown));
  return 0;
}
