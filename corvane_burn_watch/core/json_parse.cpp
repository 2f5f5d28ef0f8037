#include "corvane_burn_watch/core/json_parse.hpp"

#include <cstring>
#include <string>
#include <vector>

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "corvane_burn_watch/core/numbers.hpp"

namespace corvane_burn_watch::json {
namespace {

// Deeper documents are refused rather than risking the stack in the code that
// walks them afterwards.
constexpr std::size_t kMaxDepth = 512;

// Builds the value model from RapidJSON's SAX events. Numbers arrive as their
// raw text, so whole numbers keep every digit.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  bool Null() { return add(nullptr); }
  bool Bool(bool b) { return add(b); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    std::string_view raw(s, n);
    if (raw.find_first_of(".eENI") == std::string_view::npos) {
      if (raw == "-0") raw = "0";
      return add(Integer{std::string(raw)});
    }
    return add(numbers::double_from_json_number(raw));
  }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    if (has_surrogate(s, n)) return fail("lone surrogate in \\u escape");
    return add(std::string(s, n));
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (has_surrogate(s, n)) return fail("lone surrogate in \\u escape");
    keys_.back().assign(s, n);
    return true;
  }
  bool StartObject() { return open(Object{}); }
  bool StartArray() { return open(Array{}); }
  bool EndObject(rapidjson::SizeType) {
    stack_.back().as_object()->remove_duplicate_keys();
    return close();
  }
  bool EndArray(rapidjson::SizeType) { return close(); }

  Value take_root() { return std::move(root_); }
  const std::string& failure() const { return failure_; }

 private:
  bool add(Value value) {
    if (stack_.empty()) {
      root_ = std::move(value);
    } else if (Array* list = stack_.back().as_list()) {
      list->push_back(std::move(value));
    } else {
      stack_.back().as_object()->append(std::move(keys_.back()), std::move(value));
    }
    return true;
  }
  bool open(Value container) {
    if (stack_.size() >= kMaxDepth) return fail("nesting too deep");
    stack_.push_back(std::move(container));
    keys_.emplace_back();
    return true;
  }
  bool close() {
    Value done = std::move(stack_.back());
    stack_.pop_back();
    keys_.pop_back();
    return add(std::move(done));
  }
  bool fail(const char* why) {
    failure_ = why;
    return false;
  }
  // An unpaired \uD800-\uDFFF escape decodes to bytes that are not UTF-8
  // (ED A0..BF xx); refuse it so every text stays valid UTF-8.
  static bool has_surrogate(const char* s, std::size_t n) {
    for (const char* p = static_cast<const char*>(std::memchr(s, '\xED', n)); p;
         p = static_cast<const char*>(std::memchr(p + 1, '\xED', n - (p + 1 - s)))) {
      if (p + 1 < s + n && static_cast<unsigned char>(p[1]) >= 0xA0) return true;
    }
    return false;
  }

  std::vector<Value> stack_;
  std::vector<std::string> keys_;
  Value root_;
  std::string failure_;
};

std::string describe(std::string_view text, std::size_t offset, std::string message) {
  while (!message.empty() && message.back() == '.') message.pop_back();
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return message + ": line " + std::to_string(line) + " column " + std::to_string(column) +
         " (char " + std::to_string(offset) + ")";
}

}  // namespace

Value parse(std::string_view text) {
  constexpr unsigned kFlags = rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseNanAndInfFlag;
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  Builder builder;
  rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
  if (result.IsError()) {
    std::string message =
        !builder.failure().empty() ? builder.failure() : rapidjson::GetParseError_En(result.Code());
    throw SyntaxError(describe(text, result.Offset(), message));
  }
  // The reader takes a NUL byte for the end of the input; anything after the
  // document, a NUL included, is extra data.
  if (stream.Tell() != text.size()) throw SyntaxError(describe(text, stream.Tell(), "Extra data"));
  return builder.take_root();
}

}  // namespace corvane_burn_watch::json
