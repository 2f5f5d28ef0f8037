#include "corvane_burn_watch/core/json/fast_decode.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include <simdjson.h>

namespace corvane_burn_watch::json {
namespace {

namespace dom = simdjson::dom;

// The largest text decoded here. Each thread keeps its parser (and its
// buffers, about ten times the text) for the next text, so that a watch cycle
// never allocates them anew; larger texts are left to the reader.
constexpr std::size_t kLargestText = 4 << 20;
// Well below kMaxDepth, so that a depth limit is always the reader's decision.
constexpr std::size_t kDeepest = 256;

dom::parser& thread_parser() {
  thread_local dom::parser parser = [] {
    dom::parser made(kLargestText);
    // Sets the depth; room comes as texts need it. Should this fail, every
    // text is simply left to the reader.
    const simdjson::error_code sized = made.allocate(0, kDeepest);
    static_cast<void>(sized);
    return made;
  }();
  return parser;
}

// Where a container stands with respect to the row projection.
enum class Role { plain, top, row_list, row };

class Converter {
 public:
  explicit Converter(const RowProjection* rows) : rows_(rows) {}

  Value convert(dom::element element, Role role) {
    switch (element.type()) {
      case dom::element_type::OBJECT:
        return convert_object(dom::object(element), role);
      case dom::element_type::ARRAY: {
        const dom::array items(element);
        Array list;
        list.reserve(items.size());
        for (dom::element item : items)
          list.push_back(
              convert(item, role == Role::row_list && item.is_object() ? Role::row : Role::plain));
        return list;
      }
      case dom::element_type::INT64:
        return Integer::from(static_cast<long long>(std::int64_t(element)));
      case dom::element_type::UINT64:
        return Integer{std::to_string(std::uint64_t(element))};
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
    out.reserve(role == Role::row ? rows_->keep.size() : object.size());
    for (dom::key_value_pair field : object) {
      if (role == Role::row && !kept(field.key)) continue;
      const bool is_row_list =
          role == Role::top && field.key == rows_->list_key && field.value.is_array();
      out.append(std::string(field.key),
                 convert(field.value, is_row_list ? Role::row_list : Role::plain));
    }
    out.remove_duplicate_keys();
    return out;
  }

  bool kept(std::string_view key) const {
    return std::find(rows_->keep.begin(), rows_->keep.end(), key) != rows_->keep.end();
  }

  const RowProjection* rows_;
};

}  // namespace

std::optional<Value> fast_decode(std::string_view text, const RowProjection* rows) {
  if (text.size() > kLargestText) return std::nullopt;
  dom::element document;
  // The parser copies the text into its own padded buffer, which it keeps.
  if (thread_parser().parse(text.data(), text.size(), true).get(document) != simdjson::SUCCESS)
    return std::nullopt;
  const Role role = rows && document.is_object() ? Role::top : Role::plain;
  return Converter(rows).convert(document, role);
}

}  // namespace corvane_burn_watch::json
