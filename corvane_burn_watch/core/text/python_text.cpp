// Python's text forms of values: what a Python host prints for a value
// (repr-like), and the plain text form of ids and burns.
#include "corvane_burn_watch/core/text/python_text.hpp"

#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>

#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::python_text {
namespace {

using json::Array;
using json::Object;
using json::Value;

void append_hex(std::string& out, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out.push_back(kHex[(value >> shift) & 0xF]);
}

// A text as a Python host prints it: single quotes unless the text holds a
// single quote and no double quote; backslash escapes for the quote, the
// backslash, control characters and lone surrogates.
void append_quoted(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out.push_back(quote);
  utf8::for_each_code_point(text, [&](unsigned cp) {
    if (cp == static_cast<unsigned>(quote) || cp == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(cp));
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      out += "\\x";
      append_hex(out, cp, 2);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += "\\u";
      append_hex(out, cp, 4);
    } else {
      rapidjson::GenericStringBuffer<rapidjson::UTF8<>> buffer;
      rapidjson::UTF8<>::Encode(buffer, cp);
      out.append(buffer.GetString(), buffer.GetSize());
    }
  });
  out.push_back(quote);
}

void append_text_form(std::string& out, const Value& value) {
  using Kind = Value::Kind;
  switch (value.kind()) {
    case Kind::null:
      out += "None";
      break;
    case Kind::boolean:
      out += *value.as_bool() ? "True" : "False";
      break;
    case Kind::integer:
      out += value.as_integer()->digits;
      break;
    case Kind::number:
      out += numbers::write_double(*value.as_double());
      break;
    case Kind::text:
      append_quoted(out, *value.as_text());
      break;
    case Kind::list: {
      out.push_back('[');
      bool first = true;
      for (const auto& item : *value.as_list()) {
        if (!first) out += ", ";
        first = false;
        append_text_form(out, item);
      }
      out.push_back(']');
      break;
    }
    case Kind::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& member : *value.as_object()) {
        if (!first) out += ", ";
        first = false;
        append_quoted(out, member.key);
        out += ": ";
        append_text_form(out, member.value);
      }
      out.push_back('}');
      break;
    }
  }
}

}  // namespace

std::string text_form(const Value& value) {
  std::string out;
  append_text_form(out, value);
  return out;
}

std::string plain_text(const Value& value) {
  // Ids and burns are nearly always one of the first three kinds: give their
  // text at once rather than appending it to an empty one.
  switch (value.kind()) {
    case Value::Kind::text:
      return *value.as_text();
    case Value::Kind::integer:
      return value.as_integer()->digits;
    case Value::Kind::number:
      return numbers::write_double(*value.as_double());
    default:
      return text_form(value);
  }
}

}  // namespace corvane_burn_watch::python_text
