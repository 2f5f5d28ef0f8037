#include "corvane_burn_watch/core/json/write.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

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

void append_indented(std::string& out, const Value& value, int depth);

std::vector<MemberToWrite> member_refs(const Object& object) {
  std::vector<MemberToWrite> refs;
  refs.reserve(object.size());
  for (const auto& member : object) refs.push_back({member.key, &member.value});
  return refs;
}

void append_indented_members(std::string& out, std::vector<MemberToWrite> members, int depth) {
  if (members.empty()) {
    out += "{}";
    return;
  }
  // Byte order of UTF-8 keys is their code point order.
  std::stable_sort(members.begin(), members.end(),
                   [](const MemberToWrite& a, const MemberToWrite& b) { return a.key < b.key; });
  out.push_back('{');
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i) out.push_back(',');
    newline(out, depth + 1);
    append_ascii_json_string(out, members[i].key);
    out += ": ";
    if (members[i].object)
      append_indented_members(out, member_refs(*members[i].object), depth + 1);
    else
      append_indented(out, *members[i].value, depth + 1);
  }
  newline(out, depth);
  out.push_back('}');
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
    append_indented_members(out, member_refs(*object), depth);
  } else {
    append_scalar(out, value);
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
  utf8::for_each_code_point(text, [&](unsigned cp) {
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

std::string write_indented_sorted(std::initializer_list<MemberToWrite> members) {
  std::string out;
  append_indented_members(out, std::vector<MemberToWrite>(members), 0);
  return out;
}

std::string write_one_line(const Value& value) {
  std::string out;
  append_one_line(out, value);
  return out;
}

}  // namespace corvane_burn_watch::json
