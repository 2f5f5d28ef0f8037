#include "corvane_burn_watch/core/json/parse.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Let the reader scan white space and the plain runs of strings 16 bytes at a
// time; SSE2 is part of every x86-64 processor.
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include "corvane_burn_watch/core/json/fast_decode.hpp"
#include "corvane_burn_watch/core/json/parse_testing.hpp"
#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::json {
namespace {

// A number whose value may lie beyond the range of a double. The reader
// refuses such a number outright ("Number too big"), where a Python host
// reads it as an infinity (or, written as a whole number, as an exact int).
// Such numbers are handed to the reader as a plain 0 padded with spaces to the
// same length, so every other offset stays; the builder then takes the
// number's own text from here.
struct BigNumber {
  std::size_t offset;  // where the number starts in the reader's text
  std::string text;    // the number as written
};

// Builds the value model from RapidJSON's SAX events. Numbers arrive as their
// raw text, so whole numbers keep every digit. With a row projection, the row
// members nobody reads are still checked by the reader but never built, which
// spares the allocations that dominate decoding a large answer.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  // `big`: the numbers replaced in `buffer`, in text order.
  Builder(const RowProjection* rows, const char* buffer, std::span<const BigNumber> big)
      : rows_(rows), buffer_(buffer), big_(big) {}

  bool Null() { return add(nullptr); }
  bool Bool(bool b) { return add(b); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    std::string_view raw(s, n);
    // Numbers arrive in text order, skipped ones too, so one cursor suffices.
    if (next_big_ < big_.size() && s == buffer_ + big_[next_big_].offset)
      raw = big_[next_big_++].text;
    if (skipping()) return true;
    const bool whole = std::none_of(raw.begin(), raw.end(), [](char c) {
      return c == '.' || c == 'e' || c == 'E' || c == 'N' || c == 'I';
    });
    if (whole) {
      if (raw == "-0") raw = "0";
      return add(Integer{std::string(raw)});
    }
    return add(numbers::double_from_json_number(raw));
  }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    if (skipping()) return true;
    return add(std::string(s, n));
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (skipped_depth_ > 0) return true;
    Frame& frame = top();
    frame.key = std::string_view(s, n);  // lives in the buffer being decoded
    skip_next_ = frame.role == Role::row && !kept_in_row(frame.key);
    return true;
  }
  bool StartObject() { return open(Object{}); }
  bool StartArray() { return open(Array{}); }
  bool EndObject(rapidjson::SizeType) {
    if (skipped_depth_ > 0) return --skipped_depth_, true;
    top().container.as_object()->remove_duplicate_keys();
    return close();
  }
  bool EndArray(rapidjson::SizeType) {
    if (skipped_depth_ > 0) return --skipped_depth_, true;
    return close();
  }

  Value take_root() { return std::move(root_); }
  const std::string& failure() const { return failure_; }

 private:
  // Where a container stands with respect to the row projection.
  enum class Role { plain, top, row_list, row };
  // One open container. Frames stay once closed, for the next container at
  // their depth.
  struct Frame {
    Value container;
    Role role = Role::plain;
    std::string key;            // the member being read, in an object
    std::size_t last_size = 0;  // of the last container closed at this depth
  };

  Frame& top() { return frames_[depth_ - 1]; }

  // A scalar inside or in place of a left-out member: checked, not built.
  bool skipping() {
    if (skipped_depth_ > 0) return true;
    return std::exchange(skip_next_, false);
  }
  bool kept_in_row(std::string_view key) const {
    return std::find(rows_->keep.begin(), rows_->keep.end(), key) != rows_->keep.end();
  }
  // The rows are the objects in the list under `list_key` of the top object.
  Role role_for(const Value& container) {
    if (!rows_) return Role::plain;
    if (depth_ == 0) return container.is_object() ? Role::top : Role::plain;
    const Frame& parent = top();
    if (parent.role == Role::top && parent.key == rows_->list_key && container.is_list())
      return Role::row_list;
    if (parent.role == Role::row_list && container.is_object()) return Role::row;
    return Role::plain;
  }
  bool add(Value value) {
    if (skipping()) return true;
    if (depth_ == 0) {
      root_ = std::move(value);
    } else if (Array* list = top().container.as_list()) {
      list->push_back(std::move(value));
    } else {
      Frame& parent = top();
      parent.container.as_object()->append(std::string(parent.key), std::move(value));
    }
    return true;
  }
  bool open(Value container) {
    if (depth_ + static_cast<std::size_t>(skipped_depth_) >= json::kMaxDepth)
      return fail("nesting too deep");
    if (skipped_depth_ > 0 || std::exchange(skip_next_, false)) return ++skipped_depth_, true;
    const Role role = role_for(container);
    if (depth_ == frames_.size()) frames_.emplace_back();
    Frame& frame = frames_[depth_++];
    // Siblings are alike (the rows of a list): a container is given the size
    // of the last one closed at its depth, so it is allocated once. Capped, so
    // that a small container after a large one never holds much unused room.
    const std::size_t expected = std::min<std::size_t>(frame.last_size, 64);
    if (Array* list = container.as_list()) list->reserve(expected);
    if (Object* object = container.as_object()) object->reserve(expected);
    frame.container = std::move(container);
    frame.role = role;
    return true;
  }
  bool close() {
    Frame& frame = top();
    Value done = std::move(frame.container);
    frame.last_size = done.is_list() ? done.as_list()->size() : done.as_object()->size();
    --depth_;
    return add(std::move(done));
  }
  bool fail(const char* why) {
    failure_ = why;
    return false;
  }

  const RowProjection* rows_;
  const char* buffer_;
  std::span<const BigNumber> big_;
  std::size_t next_big_ = 0;
  std::vector<Frame> frames_;
  std::size_t depth_ = 0;  // frames_[0, depth_) are open
  Value root_;
  std::string failure_;
  bool skip_next_ = false;  // the next value is a left-out row member
  int skipped_depth_ = 0;   // open containers inside a left-out member
};

// Whether `text` holds an escape of a UTF-16 surrogate (\uD800-\uDFFF). An
// escaped backslash before a "u" may be taken for one; that only costs time.
bool has_surrogate_escape(std::string_view text) {
  for (auto pos = text.find("\\u"); pos != std::string_view::npos;
       pos = text.find("\\u", pos + 2)) {
    if (pos + 3 >= text.size() || (text[pos + 2] != 'd' && text[pos + 2] != 'D')) continue;
    const char c = text[pos + 3];
    if ((c >= '8' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) return true;
  }
  return false;
}

// The code unit of a \uXXXX escape at `pos`, or -1 when there is none.
long escaped_unit(std::string_view text, std::size_t pos) {
  if (pos + 6 > text.size() || text[pos] != '\\' || text[pos + 1] != 'u') return -1;
  long unit = 0;
  for (std::size_t i = pos + 2; i < pos + 6; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// The text as the reader is given it: a copy that ends in NUL (the reader
// takes NUL for the end) and in padding (the reader scans 16 bytes at a time
// and may look up to the next 16-byte boundary past the end). The copy is
// decoded in place, which spares the reader copying every string and number.
//
// The copy is also where lone surrogate escapes are rewritten: RapidJSON
// refuses an escaped high surrogate that no escaped low one follows, where a
// Python host's decoder takes any lone surrogate as a character of its own.
// So each lone surrogate escape (6 bytes) is replaced by the surrogate's own
// 3 bytes, which the reader copies as they are; `shortened_at` keeps where,
// for error positions.
class ReaderText {
 public:
  explicit ReaderText(std::string_view text) : buffer_(new char[text.size() + kScanPadding]) {
    if (has_surrogate_escape(text)) {
      size_ = copy_with_lone_surrogates(text);
    } else {
      std::memcpy(buffer_.get(), text.data(), text.size());  // no zero-filling first
      size_ = text.size();
    }
    std::memset(buffer_.get() + size_, 0, kScanPadding);
  }

  char* data() { return buffer_.get(); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {buffer_.get(), size_}; }
  // Hands each of `big` to the reader as a plain 0 padded to its length.
  void replace(std::span<const BigNumber> big) {
    for (const BigNumber& number : big) {
      buffer_[number.offset] = '0';
      std::fill_n(buffer_.get() + number.offset + 1, number.text.size() - 1, ' ');
    }
  }
  // The position in the original text of a position in the copy.
  std::size_t original_offset(std::size_t offset) const {
    std::size_t shift = 0;
    for (std::size_t at : shortened_at_)
      if (at < offset) shift += 3;
    return offset + shift;
  }

 private:
  static constexpr std::size_t kScanPadding = 16;

  std::size_t copy_with_lone_surrogates(std::string_view text) {
    char* out = buffer_.get();
    bool in_string = false;
    for (std::size_t i = 0; i < text.size();) {
      const char c = text[i];
      if (c == '"') in_string = !in_string;
      if (!in_string || c != '\\') {
        *out++ = c;
        ++i;
        continue;
      }
      const long unit = escaped_unit(text, i);
      const long next = escaped_unit(text, i + 6);
      std::size_t copied = 0;
      if (unit < 0xD800 || unit > 0xDFFF)  // another escape: copied whole
        copied = 2;
      else if (unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF)  // a pair: the reader joins it
        copied = 12;
      if (copied > 0) {
        const std::string_view escape = text.substr(i, copied);
        out = std::copy(escape.begin(), escape.end(), out);
        i += escape.size();
        continue;
      }
      shortened_at_.push_back(static_cast<std::size_t>(out - buffer_.get()));
      *out++ = static_cast<char>(0xE0 | (unit >> 12));
      *out++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (unit & 0x3F));
      i += 6;
    }
    return static_cast<std::size_t>(out - buffer_.get());
  }

  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  std::vector<std::size_t> shortened_at_;
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The end of the JSON number that starts at `pos` (-? int frac? exp?), or
// npos when what starts there is no number.
std::size_t number_end(std::string_view text, std::size_t pos) {
  auto digits = [&](std::size_t from) {
    while (from < text.size() && is_digit(text[from])) ++from;
    return from;
  };
  if (pos < text.size() && text[pos] == '-') ++pos;
  if (pos >= text.size() || !is_digit(text[pos])) return std::string_view::npos;
  pos = text[pos] == '0' ? pos + 1 : digits(pos);
  if (pos + 1 < text.size() && text[pos] == '.' && is_digit(text[pos + 1])) pos = digits(pos + 1);
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    std::size_t exponent = pos + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && is_digit(text[exponent])) pos = digits(exponent);
  }
  return pos;
}

// Whether a number may be beyond the reader's range: its integer digits plus
// a positive exponent reach 300. That takes in every number the reader
// refuses (from about 309), and a few it would have read, which are then read
// here the same way.
bool may_be_too_big(std::string_view number) {
  constexpr long long kDecimalReach = 300;
  std::size_t pos = number.front() == '-' ? 1 : 0;
  long long magnitude = 0;
  while (pos < number.size() && is_digit(number[pos])) ++pos, ++magnitude;
  const std::size_t e = number.find_first_of("eE", pos);
  if (e != std::string_view::npos && number[e + 1] != '-') {
    for (std::size_t i = e + 1; i < number.size() && magnitude < kDecimalReach; ++i)
      if (is_digit(number[i])) magnitude = magnitude * 10 + (number[i] - '0');
  }
  return magnitude >= kDecimalReach;
}

// Every number outside strings that may be beyond the reader's range.
std::vector<BigNumber> find_big_numbers(std::string_view text) {
  std::vector<BigNumber> found;
  bool in_string = false;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (in_string) {
      if (c == '\\')
        ++pos;
      else if (c == '"')
        in_string = false;
      continue;
    }
    if (c == '"') {
      in_string = true;
      continue;
    }
    if (c != '-' && !is_digit(c)) continue;
    const std::size_t end = number_end(text, pos);
    if (end == std::string_view::npos) continue;
    const std::string_view number = text.substr(pos, end - pos);
    if (may_be_too_big(number)) found.push_back(BigNumber{pos, std::string(number)});
    pos = end - 1;
  }
  return found;
}

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

Value decode_with_reader(std::string_view text, const RowProjection* rows) {
  // Checking the encoding up front (mostly ASCII, so cheap) lets the reader
  // skip its own per-character check.
  if (!utf8::is_valid(text)) throw SyntaxError(describe(text, 0, "Invalid encoding in string"));
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseNanAndInfFlag;
  std::optional<ReaderText> input;
  std::optional<Builder> builder;
  rapidjson::InsituStringStream stream(nullptr);
  std::vector<BigNumber> big;
  auto attempt = [&] {
    input.emplace(text);  // afresh: decoding in place changes the copy
    input->replace(big);
    stream = rapidjson::InsituStringStream(input->data());
    builder.emplace(rows, input->data(), big);
    rapidjson::Reader reader;
    return reader.Parse<kFlags>(stream, *builder);
  };
  rapidjson::ParseResult result = attempt();
  // Rare, so the text is searched for such numbers only once one was met.
  if (result.Code() == rapidjson::kParseErrorNumberTooBig) {
    big = find_big_numbers(ReaderText(text).view());
    result = attempt();
  }
  if (result.IsError()) {
    std::string message = !builder->failure().empty() ? builder->failure()
                                                      : rapidjson::GetParseError_En(result.Code());
    throw SyntaxError(describe(text, input->original_offset(result.Offset()), message));
  }
  // The reader takes a NUL byte for the end of the input; anything after the
  // document, a NUL included, is extra data.
  if (stream.Tell() != input->size())
    throw SyntaxError(describe(text, input->original_offset(stream.Tell()), "Extra data"));
  return builder->take_root();
}

// The rows of a value decoded whole, cut down as `rows` asks; the list itself
// goes whole to rows.whole_rows.
void keep_whole_rows(Value& value, const RowProjection& rows) {
  Object* top = value.as_object();
  Value* list = top ? top->find(rows.list_key) : nullptr;
  if (!list || !list->is_list()) return;
  Array projected;
  projected.reserve(list->as_list()->size());
  for (const Value& item : *list->as_list()) {
    const Object* row = item.as_object();
    if (!row) {
      projected.push_back(item);
      continue;
    }
    Object kept;
    for (const Member& member : *row)
      if (std::find(rows.keep.begin(), rows.keep.end(), member.key) != rows.keep.end())
        kept.append(member.key, member.value);
    projected.push_back(std::move(kept));
  }
  *rows.whole_rows = Document(std::move(*list));
  *list = std::move(projected);
}

// simdjson takes nearly every text a service sends, several times faster;
// what it does not take, the reader decides.
Value decode(std::string_view text, bool padded, const RowProjection* rows) {
  if (std::optional<Value> fast = fast_decode(text, padded, rows)) return *std::move(fast);
  if (!rows || !rows->whole_rows) return decode_with_reader(text, rows);
  Value value = decode_with_reader(text, nullptr);
  keep_whole_rows(value, *rows);
  return value;
}

bool padded(const std::string& text) {
  return text.capacity() - text.size() >= kReadAhead;
}

}  // namespace

Value parse(const std::string& text, const RowProjection& rows) {
  return decode(text, padded(text), rows.list_key.empty() ? nullptr : &rows);
}

Value parse_with_reader(std::string_view text, const RowProjection* rows) {
  return decode_with_reader(text, rows);
}

}  // namespace corvane_burn_watch::json
