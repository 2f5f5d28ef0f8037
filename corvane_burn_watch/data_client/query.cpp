#include "corvane_burn_watch/data_client/query.hpp"

#include "corvane_burn_watch/core/text/python_text.hpp"

namespace corvane_burn_watch::data_client {

namespace {

bool skipped(const json::Value& value) {
  if (value.is_null()) return true;
  const std::string* text = value.as_text();
  return text != nullptr && text->empty();
}

// Texts go in as they are, integers in decimal, anything else in the text
// form a Python host would print for it.
std::string value_text(const json::Value& value) {
  if (const std::string* text = value.as_text()) return *text;
  if (const json::Integer* integer = value.as_integer()) return integer->digits;
  return python_text::plain_text(value);
}

}  // namespace

std::string query_text(const json::Object& params) {
  std::string out;
  for (const auto& [key, value] : params) {
    if (skipped(value)) continue;
    if (!out.empty()) out += '&';
    out += key;
    out += '=';
    out += value_text(value);
  }
  return out;
}

std::string request_url(std::string_view base, std::string_view path, const json::Object& params) {
  std::string url(base);
  url += path;
  std::string query = query_text(params);
  if (!query.empty()) {
    url += '?';
    url += query;
  }
  return url;
}

}  // namespace corvane_burn_watch::data_client
