#include "corvane_burn_watch/core/json/parse.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
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

#include "corvane_burn_watch/core/text/python_numbers.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace corvane_burn_watch::json {
namespace {

// Deeper documents are refused rather than risking the stack in the code that
// walks them afterwards.
constexpr std::size_t kMaxDepth = 512;

// A number whose value may lie beyond the range of a double. The reader
// refuses such a number outright ("Number too big"), where a Python host
// reads it as an infinity (or, written as a whole number, as an exact int).
// Such numbers are handed to the reader as a plain 0 padded with spaces to the
// same length, so every other offset stays; the builder then takes the
// number's own text from here.
struct BigNumber {
  std::size_t offset;     // where the number starts in the text
  std::string_view text;  // the number as written
};

// Builds the value model from RapidJSON's SAX events. Numbers arrive as their
// raw text, so whole numbers keep every digit. With a row projection, the row
// members nobody reads are still checked by the reader but never built, which
// spares the allocations that dominate decoding a large answer.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  // `may_hold_surrogates`: whether the text holds a \uD800-\uDFFF escape at
  // all; without one no string can come out as a lone surrogate, and the check
  // of every string is skipped.
  // `big`: the numbers replaced in `buffer`, in text order.
  Builder(const RowProjection* rows, bool may_hold_surrogates, const char* buffer,
          std::span<const BigNumber> big)
      : rows_(rows), may_hold_surrogates_(may_hold_surrogates), buffer_(buffer), big_(big) {}

  bool Null() { return add(nullptr); }
  bool Bool(bool b) { return add(b); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    std::string_view raw(s, n);
    // Numbers arrive in text order, skipped ones too, so one cursor suffices.
    if (next_big_ < big_.size() && s == buffer_ + big_[next_big_].offset)
      raw = big_[next_big_++].text;
    if (skipping()) return true;
    if (raw.find_first_of(".eENI") == std::string_view::npos) {
      if (raw == "-0") raw = "0";
      return add(Integer{std::string(raw)});
    }
    return add(numbers::double_from_json_number(raw));
  }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    if (may_hold_surrogates_ && has_surrogate(s, n)) return fail("lone surrogate in \\u escape");
    if (skipping()) return true;
    return add(std::string(s, n));
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (may_hold_surrogates_ && has_surrogate(s, n)) return fail("lone surrogate in \\u escape");
    if (skipped_depth_ > 0) return true;
    Frame& frame = frames_.back();
    frame.key = std::string_view(s, n);  // lives in the buffer being decoded
    skip_next_ = frame.role == Role::row && !kept_in_row(frame.key);
    return true;
  }
  bool StartObject() { return open(Object{}); }
  bool StartArray() { return open(Array{}); }
  bool EndObject(rapidjson::SizeType) {
    if (skipped_depth_ > 0) return --skipped_depth_, true;
    frames_.back().container.as_object()->remove_duplicate_keys();
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
  struct Frame {
    Value container;
    Role role;
    std::string_view key;  // the member being read, in an object
  };

  // A scalar inside or in place of a left-out member: checked, not built.
  bool skipping() {
    if (skipped_depth_ > 0) return true;
    return std::exchange(skip_next_, false);
  }
  bool kept_in_row(std::string_view key) const {
    return std::find(rows_->keep.begin(), rows_->keep.end(), key) != rows_->keep.end();
  }
  // The rows are the objects in the list under `list_key` of the top object.
  Role role_for(const Value& container) const {
    if (!rows_) return Role::plain;
    if (frames_.empty()) return container.is_object() ? Role::top : Role::plain;
    const Frame& parent = frames_.back();
    if (parent.role == Role::top && parent.key == rows_->list_key && container.is_list())
      return Role::row_list;
    if (parent.role == Role::row_list && container.is_object()) return Role::row;
    return Role::plain;
  }
  bool add(Value value) {
    if (skipping()) return true;
    if (frames_.empty()) {
      root_ = std::move(value);
    } else if (Array* list = frames_.back().container.as_list()) {
      list->push_back(std::move(value));
    } else {
      Frame& parent = frames_.back();
      parent.container.as_object()->append(std::string(parent.key), std::move(value));
    }
    return true;
  }
  bool open(Value container) {
    if (frames_.size() + static_cast<std::size_t>(skipped_depth_) >= kMaxDepth)
      return fail("nesting too deep");
    if (skipped_depth_ > 0 || std::exchange(skip_next_, false)) return ++skipped_depth_, true;
    const Role role = role_for(container);
    frames_.push_back(Frame{std::move(container), role, {}});
    return true;
  }
  bool close() {
    Value done = std::move(frames_.back().container);
    frames_.pop_back();
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

  const RowProjection* rows_;
  bool may_hold_surrogates_;
  const char* buffer_;
  std::span<const BigNumber> big_;
  std::size_t next_big_ = 0;
  std::vector<Frame> frames_;
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
    if (may_be_too_big(number)) found.push_back(BigNumber{pos, number});
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

Value decode(std::string_view text, const RowProjection* rows) {
  // Checking the encoding up front (mostly ASCII, so cheap) lets the reader
  // skip its own per-character check. Decoding in place, in a copy that ends
  // in NUL as the reader requires, spares it copying every string and number.
  if (!utf8::is_valid(text)) throw SyntaxError(describe(text, 0, "Invalid encoding in string"));
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseNanAndInfFlag;
  // The 16-byte scans may read past the end of the text, up to the next
  // 16-byte boundary: the padding keeps those reads inside the buffer.
  constexpr std::size_t kScanPadding = 16;
  std::string buffer(text.size() + kScanPadding, '\0');
  const bool may_hold_surrogates = has_surrogate_escape(text);
  auto attempt = [&](std::span<const BigNumber> big, rapidjson::InsituStringStream& stream,
                     Builder& builder) {
    std::copy(text.begin(), text.end(), buffer.begin());
    for (const BigNumber& number : big) {
      buffer[number.offset] = '0';
      std::fill_n(buffer.begin() + number.offset + 1, number.text.size() - 1, ' ');
    }
    stream = rapidjson::InsituStringStream(buffer.data());
    builder = Builder(rows, may_hold_surrogates, buffer.data(), big);
    rapidjson::Reader reader;
    return reader.Parse<kFlags>(stream, builder);
  };
  rapidjson::InsituStringStream stream(buffer.data());
  Builder builder(rows, may_hold_surrogates, buffer.data(), {});
  rapidjson::ParseResult result = attempt({}, stream, builder);
  // Rare, so the text is searched for such numbers only once one was met.
  std::vector<BigNumber> big;
  if (result.Code() == rapidjson::kParseErrorNumberTooBig) {
    big = find_big_numbers(text);
    result = attempt(big, stream, builder);
  }
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

}  // namespace

Value parse(std::string_view text) {
  return decode(text, nullptr);
}

Value parse(std::string_view text, const RowProjection& rows) {
  return decode(text, &rows);
}

}  // namespace corvane_burn_watch::json
