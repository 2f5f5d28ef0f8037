#include "corvane_burn_watch/core/json_text.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>

#include "corvane_burn_watch/core/numbers.hpp"

namespace corvane_burn_watch::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Calls `emit(code_point)` for each code point of valid UTF-8 text.
template <class Emit>
void for_each_code_point(std::string_view text, Emit emit) {
  rapidjson::MemoryStream stream(text.data(), text.size());
  while (stream.Tell() < text.size()) {
    unsigned code_point = 0;
    rapidjson::UTF8<>::Decode(stream, &code_point);
    emit(code_point);
  }
}

void append_hex(std::string& out, unsigned value, int digits) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out.push_back(kHex[(value >> shift) & 0xF]);
}

// JSON's text of a double; the non-finite values get the spellings a Python
// host's encoder uses.
std::string json_number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  return numbers::write_double(value);
}

void append_scalar(std::string& out, const Value& value) {
  using Kind = Value::Kind;
  switch (value.kind()) {
    case Kind::null:
      out += "null";
      break;
    case Kind::boolean:
      out += *value.as_bool() ? "true" : "false";
      break;
    case Kind::integer:
      out += value.as_integer()->digits;
      break;
    case Kind::number:
      out += json_number(*value.as_double());
      break;
    case Kind::text:
      append_ascii_json_string(out, *value.as_text());
      break;
    default:
      break;
  }
}

void append_one_line(std::string& out, const Value& value) {
  if (const Array* list = value.as_list()) {
    out.push_back('[');
    for (std::size_t i = 0; i < list->size(); ++i) {
      if (i) out += ", ";
      append_one_line(out, (*list)[i]);
    }
    out.push_back(']');
  } else if (const Object* object = value.as_object()) {
    out.push_back('{');
    bool first = true;
    for (const auto& member : *object) {
      if (!first) out += ", ";
      first = false;
      append_ascii_json_string(out, member.key);
      out += ": ";
      append_one_line(out, member.value);
    }
    out.push_back('}');
  } else {
    append_scalar(out, value);
  }
}

void newline(std::string& out, int depth) {
  out.push_back('\n');
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

void append_indented(std::string& out, const Value& value, int depth) {
  if (const Array* list = value.as_list()) {
    if (list->empty()) {
      out += "[]";
      return;
    }
    out.push_back('[');
    for (std::size_t i = 0; i < list->size(); ++i) {
      if (i) out.push_back(',');
      newline(out, depth + 1);
      append_indented(out, (*list)[i], depth + 1);
    }
    newline(out, depth);
    out.push_back(']');
  } else if (const Object* object = value.as_object()) {
    if (object->empty()) {
      out += "{}";
      return;
    }
    // Byte order of UTF-8 keys is their code point order.
    std::vector<const Member*> sorted;
    sorted.reserve(object->size());
    for (const auto& member : *object) sorted.push_back(&member);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Member* a, const Member* b) { return a->key < b->key; });
    out.push_back('{');
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      if (i) out.push_back(',');
      newline(out, depth + 1);
      append_ascii_json_string(out, sorted[i]->key);
      out += ": ";
      append_indented(out, sorted[i]->value, depth + 1);
    }
    newline(out, depth);
    out.push_back('}');
  } else {
    append_scalar(out, value);
  }
}

// A text as a Python host prints it: single quotes unless the text holds a
// single quote and no double quote; backslash escapes for the quote, the
// backslash and control characters.
void append_quoted(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out.push_back(quote);
  for_each_code_point(text, [&](unsigned cp) {
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

void append_ascii_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  // Printable ASCII with nothing to escape, nearly every text written, goes in whole.
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\'; })) {
    out.append(text);
    out.push_back('"');
    return;
  }
  for_each_code_point(text, [&](unsigned cp) {
    switch (cp) {
      case '"':
        out += "\\\"";
        return;
      case '\\':
        out += "\\\\";
        return;
      case '\b':
        out += "\\b";
        return;
      case '\f':
        out += "\\f";
        return;
      case '\n':
        out += "\\n";
        return;
      case '\r':
        out += "\\r";
        return;
      case '\t':
        out += "\\t";
        return;
    }
    if (cp >= 0x20 && cp <= 0x7E) {
      out.push_back(static_cast<char>(cp));
    } else if (cp <= 0xFFFF) {
      out += "\\u";
      append_hex(out, cp, 4);
    } else {
      const unsigned v = cp - 0x10000;
      out += "\\u";
      append_hex(out, 0xD800 + (v >> 10), 4);
      out += "\\u";
      append_hex(out, 0xDC00 + (v & 0x3FF), 4);
    }
  });
  out.push_back('"');
}

std::string write_indented_sorted(const Value& value) {
  std::string out;
  append_indented(out, value, 0);
  return out;
}

std::string write_one_line(const Value& value) {
  std::string out;
  append_one_line(out, value);
  return out;
}

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

}  // namespace corvane_burn_watch::json
