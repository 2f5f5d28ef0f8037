#include "corvane_burn_watch/core/json/fast_decode.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace corvane_burn_watch::json {
namespace {

namespace dom = simdjson::dom;

// The largest text whose parser a thread keeps for the next text (a parser
// holds about ten times the largest text it decoded), and the largest text
// decoded here into the value model.
constexpr std::size_t kKeptParserText = 4 << 20;
// Well below kMaxDepth, so that a depth limit is always the reader's decision.
constexpr std::size_t kDeepest = 256;

// One spare parser per thread, so that a watch cycle allocates none anew.
thread_local std::unique_ptr<dom::parser> spare_parser;

std::unique_ptr<dom::parser> take_parser(std::size_t text_size) {
  if (text_size <= kKeptParserText && spare_parser) return std::move(spare_parser);
  auto parser = std::make_unique<dom::parser>(std::max(text_size, kKeptParserText));
  // Sets the depth; room comes as texts need it. Should this fail, the parse
  // fails and the text is left to the reader.
  const simdjson::error_code sized = parser->allocate(0, kDeepest);
  static_cast<void>(sized);
  return parser;
}

void give_back(std::unique_ptr<dom::parser> parser) {
  if (parser && !spare_parser && parser->capacity() <= kKeptParserText)
    spare_parser = std::move(parser);
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

  // The last row list met, for a caller that keeps it whole.
  std::optional<dom::element> row_list;

 private:
  Value convert_object(dom::object object, Role role) {
    Object out;
    out.reserve(role == Role::row ? rows_->keep.size() : object.size());
    for (dom::key_value_pair field : object) {
      if (role == Role::row && !kept(field.key)) continue;
      const bool is_row_list =
          role == Role::top && field.key == rows_->list_key && field.value.is_array();
      if (is_row_list) row_list = field.value;
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

void emit_element(dom::element element, Sink& sink) {
  switch (element.type()) {
    case dom::element_type::OBJECT: {
      const dom::object object(element);
      sink.begin_object(object.size());
      for (dom::key_value_pair field : object) {
        sink.key(field.key);
        emit_element(field.value, sink);
      }
      sink.end_object();
      return;
    }
    case dom::element_type::ARRAY: {
      const dom::array items(element);
      sink.begin_list(items.size());
      for (dom::element item : items) emit_element(item, sink);
      sink.end_list();
      return;
    }
    case dom::element_type::INT64:
      return sink.integer(std::int64_t(element));
    case dom::element_type::UINT64:
      return sink.big_integer(std::to_string(std::uint64_t(element)));
    case dom::element_type::DOUBLE:
      return sink.number(double(element));
    case dom::element_type::STRING:
      return sink.text(std::string_view(element));
    case dom::element_type::BOOL:
      return sink.boolean(bool(element));
    case dom::element_type::NULL_VALUE:
      return sink.null();
  }
}

void emit_value(const Value& value, Sink& sink) {
  using Kind = Value::Kind;
  switch (value.kind()) {
    case Kind::null:
      return sink.null();
    case Kind::boolean:
      return sink.boolean(*value.as_bool());
    case Kind::integer: {
      const std::string& digits = value.as_integer()->digits;
      std::int64_t small = 0;
      const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), small);
      if (ec == std::errc() && end == digits.data() + digits.size()) return sink.integer(small);
      return sink.big_integer(digits);
    }
    case Kind::number:
      return sink.number(*value.as_double());
    case Kind::text:
      return sink.text(*value.as_text());
    case Kind::list:
      sink.begin_list(value.as_list()->size());
      for (const Value& item : *value.as_list()) emit_value(item, sink);
      return sink.end_list();
    case Kind::object:
      sink.begin_object(value.as_object()->size());
      for (const Member& member : *value.as_object()) {
        sink.key(member.key);
        emit_value(member.value, sink);
      }
      return sink.end_object();
  }
}

}  // namespace

static_assert(kReadAhead >= simdjson::SIMDJSON_PADDING);

std::optional<Value> fast_decode(std::string_view text, bool padded, const RowProjection* rows) {
  const bool keeps_rows = rows && rows->whole_rows;
  if (text.size() > kKeptParserText && !keeps_rows) return std::nullopt;
  std::unique_ptr<dom::parser> parser = take_parser(text.size());
  dom::element document;
  // Unless there is room to read past its end, the parser copies the text
  // into a padded buffer of its own, which it keeps.
  if (parser->parse(text.data(), text.size(), !padded).get(document) != simdjson::SUCCESS) {
    give_back(std::move(parser));
    return std::nullopt;
  }
  Converter converter(rows);
  Value value = converter.convert(document, rows && document.is_object() ? Role::top : Role::plain);
  if (keeps_rows && converter.row_list) {
    auto decoded = std::make_unique<Document::Decoded>();
    decoded->element = *converter.row_list;
    decoded->parser = std::move(parser);
    *rows->whole_rows = Document(std::move(decoded));
  }
  give_back(std::move(parser));
  return value;
}

Document::Decoded::~Decoded() {
  give_back(std::move(parser));
}

Document::Document() = default;
Document::Document(Value value) : value_(std::move(value)) {}
Document::Document(std::unique_ptr<Decoded> decoded) : decoded_(std::move(decoded)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

void Document::emit(Sink& sink) const {
  if (decoded_) return emit_element(decoded_->element, sink);
  emit_value(value_, sink);
}

Value Document::value() const {
  if (decoded_) return Converter(nullptr).convert(decoded_->element, Role::plain);
  return value_;
}

}  // namespace corvane_burn_watch::json
