#include "corvane_burn_watch/core/simdjson_rows.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include <simdjson.h>

namespace corvane_burn_watch::json::detail {
namespace {

namespace dom = simdjson::dom;

// Well below the reader's own limit, so that depth is always its decision.
constexpr std::size_t kMaxDepth = 128;

enum class Role { plain, top, row_list, row };

class Converter {
 public:
  explicit Converter(const RowProjection& rows) : rows_(rows) {}

  Value convert(dom::element element, Role role) {
    switch (element.type()) {
      case dom::element_type::OBJECT:
        return convert_object(dom::object(element), role);
      case dom::element_type::ARRAY: {
        Array list;
        const Role inner = role == Role::row_list ? Role::row : Role::plain;
        for (dom::element item : dom::array(element))
          list.push_back(convert(item, item.is_object() ? inner : Role::plain));
        return list;
      }
      case dom::element_type::INT64:
        return Integer{std::to_string(int64_t(element))};
      case dom::element_type::UINT64:
        return Integer{std::to_string(uint64_t(element))};
      case dom::element_type::DOUBLE:
        return double(element);
      case dom::element_type::STRING:
        return std::string(std::string_view(element));
      case dom::element_type::BOOL:
        return bool(element);
      case dom::element_type::NULL_VALUE:
        return nullptr;
    }
    return nullptr;
  }

 private:
  Value convert_object(dom::object object, Role role) {
    Object out;
    out.reserve(role == Role::row ? rows_.keep.size() : object.size());
    for (dom::key_value_pair field : object) {
      if (role == Role::row && !kept(field.key)) continue;
      const bool is_row_list =
          role == Role::top && field.key == rows_.list_key && field.value.is_array();
      out.append(std::string(field.key),
                 convert(field.value, is_row_list ? Role::row_list : Role::plain));
    }
    out.remove_duplicate_keys();
    return out;
  }

  bool kept(std::string_view key) const {
    return std::find(rows_.keep.begin(), rows_.keep.end(), key) != rows_.keep.end();
  }

  const RowProjection& rows_;
};

}  // namespace

std::optional<Value> decode_rows_with_simdjson(std::string_view text, const RowProjection& rows) {
  dom::parser parser;
  if (parser.allocate(text.size(), kMaxDepth) != simdjson::SUCCESS) return std::nullopt;
  const simdjson::padded_string padded(text);
  dom::element document;
  if (parser.parse(padded).get(document) != simdjson::SUCCESS) return std::nullopt;
  return Converter(rows).convert(document, document.is_object() ? Role::top : Role::plain);
}

}  // namespace corvane_burn_watch::json::detail
