#include "corvane_burn_watch/core/json_parse.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "corvane_burn_watch/core/numbers.hpp"
#include "corvane_burn_watch/core/utf8.hpp"

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

// ---- The fast path ---------------------------------------------------------
//
// The data service's answer is a few hundred kilobytes of plain JSON, and
// decoding it used to be most of a watch cycle's work. FastDecoder reads such
// text in one pass straight into the value model: strings are scanned 16 bytes
// at a time and copied once, and every value is decoded in its final place. It
// takes on only what it decodes exactly as the reader path does, and
// gives up on everything else: malformed text, NaN and Infinity, numbers the
// reader may refuse as too big, lone surrogates and deep nesting. parse() then
// hands the text to the reader path, which decides and words the outcome.
//
// The members a RowProjection leaves out go through skip(), which checks them
// with the same token rules but builds nothing.
class FastDecoder {
 public:
  FastDecoder(std::string_view text, const RowProjection* rows)
      : p_(text.data()), end_(text.data() + text.size()), rows_(rows) {}

  // The document, or nullopt when the reader path has to decide.
  std::optional<Value> run() {
    Value root;
    p_ = skip_space(p_);
    if (!value(root, 0, rows_ ? Role::top : Role::plain)) return std::nullopt;
    if (skip_space(p_) != end_) return std::nullopt;
    return root;
  }

 private:
  // Where a value stands with respect to the row projection.
  enum class Role { plain, top, row_list, row };

  // Well below the reader path's kMaxDepth: deeper documents go to it.
  static constexpr int kMaxDepth = 128;
  // A whole part this long cannot reach the reader's "number too big" limit.
  static constexpr std::ptrdiff_t kMaxWholeDigits = 300;
  // Nor can a positive exponent up to this.
  static constexpr int kMaxPositiveExponent = 308;

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  const char* skip_space(const char* p) const {
    // Compact text has no white space at all: one test settles that.
    if (p == end_ || static_cast<unsigned char>(*p) > ' ') return p;
    while (p != end_ && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
    return p;
  }

  // ---- building ----
  //
  // These work on p_: at the first character of a value, they leave p_ just
  // after it.

  bool value(Value& out, int depth, Role role) {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{':
        return role == Role::row ? row(out, depth) : object(out, depth, role);
      case '[':
        return list(out, depth, role);
      case '"': {
        std::string text;
        if (!string(text)) return false;
        out = std::move(text);
        return true;
      }
      case 't':
        return literal("true", out, true);
      case 'f':
        return literal("false", out, false);
      case 'n':
        return literal("null", out, nullptr);
      default:
        return number(out);
    }
  }

  bool literal(std::string_view text, Value& out, Value meaning) {
    if (!(p_ = skip_word(p_, text))) return false;
    out = std::move(meaning);
    return true;
  }

  bool number(Value& out) {
    const char* start = p_;
    bool whole;
    if (!(p_ = skip_number(p_, whole))) return false;
    const std::string_view raw(start, static_cast<std::size_t>(p_ - start));
    // As Builder::RawNumber makes it.
    if (whole)
      out = Integer{std::string(raw == "-0" ? std::string_view("0") : raw)};
    else
      out = numbers::double_from_json_number(raw);
    return true;
  }

  bool string(std::string& out) {
    const char* p = find_special(p_ + 1);
    if (p == end_) return false;
    out.assign(p_ + 1, p);
    while (*p != '"') {
      unsigned code;
      if (*p != '\\' || !(p = read_escape(p, code))) return false;
      append_utf8(out, code);
      const char* stop = find_special(p);
      if (stop == end_) return false;
      out.append(p, stop);
      p = stop;
    }
    p_ = p + 1;
    return true;
  }

  // A member name: a view into the text, or into scratch_ when escapes had to
  // be decoded (valid until the next name).
  bool name(std::string_view& out) {
    if (p_ == end_ || *p_ != '"') return false;
    const char* stop = find_special(p_ + 1);
    if (stop != end_ && *stop == '"') {
      out = std::string_view(p_ + 1, static_cast<std::size_t>(stop - p_ - 1));
      p_ = stop + 1;
      return true;
    }
    if (!string(scratch_)) return false;
    out = scratch_;
    return true;
  }

  // After a name: the colon and the white space around it.
  bool colon() {
    const char* p = skip_space(p_);
    if (p == end_ || *p != ':') return false;
    p_ = skip_space(p + 1);
    return true;
  }

  // What follows a member or an item.
  enum class Next { more, closed, bad };

  // After a member or an item: a comma (more to come) or `close`, consumed.
  Next next(char close) {
    const char* p = skip_space(p_);
    if (p == end_) return Next::bad;
    if (*p == close) {
      p_ = p + 1;
      return Next::closed;
    }
    if (*p != ',') return Next::bad;
    p_ = skip_space(p + 1);
    return Next::more;
  }

  // Members and items are decoded straight into their place in the object or
  // list being built, so no value is moved after it is decoded.
  bool object(Value& out, int depth, Role role) {
    if (depth >= kMaxDepth) return false;
    p_ = skip_space(p_ + 1);
    Object built;
    if (p_ != end_ && *p_ == '}') {
      ++p_;
    } else {
      for (Next after = Next::more; after != Next::closed; after = next('}')) {
        std::string_view key;
        if (after == Next::bad || !name(key) || !colon()) return false;
        const Role inner =
            role == Role::top && key == rows_->list_key ? Role::row_list : Role::plain;
        // The name is copied before the value: a nested name may reuse scratch_.
        built.append(std::string(key), Value());
        if (!value(std::prev(built.end())->value, depth + 1, inner)) return false;
      }
      built.remove_duplicate_keys();
    }
    out = std::move(built);
    return true;
  }

  // An object in the projected list: its other members are only checked. The
  // members left out are most of the text, so this loop keeps its position
  // in a local and goes through p_ only for the members it builds.
  bool row(Value& out, int depth) {
    if (depth >= kMaxDepth) return false;
    const char* p = skip_space(p_ + 1);
    Object built;
    if (p != end_ && *p == '}') {
      p_ = p + 1;
      out = std::move(built);
      return true;
    }
    built.reserve(rows_->keep.size());
    for (;;) {
      if (p == end_ || *p != '"') return false;
      std::string_view key;
      const char* stop = find_special(p + 1);
      if (stop != end_ && *stop == '"') {
        key = std::string_view(p + 1, static_cast<std::size_t>(stop - p - 1));
        p = stop + 1;
      } else {
        p_ = p;
        if (!string(scratch_)) return false;
        key = scratch_;
        p = p_;
      }
      p = skip_space(p);
      if (p == end_ || *p != ':') return false;
      p = skip_space(p + 1);
      if (kept_in_row(key)) {
        built.append(std::string(key), Value());
        p_ = p;
        if (!value(std::prev(built.end())->value, depth + 1, Role::plain)) return false;
        p = p_;
      } else if (!(p = skip(p, depth + 1))) {
        return false;
      }
      p = skip_space(p);
      if (p == end_) return false;
      if (*p == '}') break;
      if (*p != ',') return false;
      p = skip_space(p + 1);
    }
    p_ = p + 1;
    built.remove_duplicate_keys();
    out = std::move(built);
    return true;
  }

  bool kept_in_row(std::string_view key) const {
    for (std::string_view name : rows_->keep)
      if (key == name) return true;
    return false;
  }

  bool list(Value& out, int depth, Role role) {
    if (depth >= kMaxDepth) return false;
    p_ = skip_space(p_ + 1);
    Array built;
    if (p_ != end_ && *p_ == ']') {
      ++p_;
    } else {
      const Role inner = role == Role::row_list ? Role::row : Role::plain;
      for (Next after = Next::more; after != Next::closed; after = next(']'))
        if (after == Next::bad || !value(built.emplace_back(), depth + 1, inner)) return false;
    }
    out = std::move(built);
    return true;
  }

  // ---- checking only, for what the projection leaves out ----
  //
  // Each takes the position of a value and gives the position just after it,
  // or nullptr where the fast path gives up. The token rules are the ones the
  // building steps use.

  const char* skip(const char* p, int depth) const {
    if (p == end_) return nullptr;
    switch (*p) {
      case '"':
        return skip_string(p);
      case '{':
        return skip_object(p, depth);
      case '[':
        return skip_list(p, depth);
      case 't':
        return skip_word(p, "true");
      case 'f':
        return skip_word(p, "false");
      case 'n':
        return skip_word(p, "null");
      default: {
        bool whole;
        return skip_number(p, whole);
      }
    }
  }

  const char* skip_string(const char* p) const {
    for (p = find_special(p + 1); p != end_; p = find_special(p)) {
      if (*p == '"') return p + 1;
      unsigned code;
      if (*p != '\\' || !(p = read_escape(p, code))) return nullptr;
    }
    return nullptr;
  }

  const char* skip_object(const char* p, int depth) const {
    if (depth >= kMaxDepth) return nullptr;
    p = skip_space(p + 1);
    if (p != end_ && *p == '}') return p + 1;
    for (;;) {
      if (p == end_ || *p != '"' || !(p = skip_string(p))) return nullptr;
      p = skip_space(p);
      if (p == end_ || *p != ':') return nullptr;
      if (!(p = skip(skip_space(p + 1), depth + 1))) return nullptr;
      p = skip_space(p);
      if (p == end_) return nullptr;
      if (*p == '}') return p + 1;
      if (*p != ',') return nullptr;
      p = skip_space(p + 1);
    }
  }

  const char* skip_list(const char* p, int depth) const {
    if (depth >= kMaxDepth) return nullptr;
    p = skip_space(p + 1);
    if (p != end_ && *p == ']') return p + 1;
    for (;;) {
      if (!(p = skip(p, depth + 1))) return nullptr;
      p = skip_space(p);
      if (p == end_) return nullptr;
      if (*p == ']') return p + 1;
      if (*p != ',') return nullptr;
      p = skip_space(p + 1);
    }
  }

  // ---- tokens ----

  const char* skip_word(const char* p, std::string_view text) const {
    if (static_cast<std::size_t>(end_ - p) < text.size() ||
        std::string_view(p, text.size()) != text)
      return nullptr;
    return p + text.size();
  }

  // The end of a run of decimal digits from `p`, eight at a time where the
  // text allows.
  const char* skip_digits(const char* p) const {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t kHigh = 0x8080808080808080;
    while (end_ - p >= 8) {
      std::uint64_t bytes;
      std::memcpy(&bytes, p, 8);
      // Per byte: bit 7 of `at_least_0` is set for '0' and above, bit 7 of
      // `above_9` for ':' and above (bytes cut to 7 bits, so no carries);
      // bytes with bit 7 set are not digits either.
      const std::uint64_t low = bytes & ~kHigh;
      const std::uint64_t at_least_0 = low + 0x5050505050505050;
      const std::uint64_t above_9 = low + 0x4646464646464646;
      const std::uint64_t not_digit = ~(at_least_0 & ~above_9 & ~bytes) & kHigh;
      if (not_digit) return p + __builtin_ctzll(not_digit) / 8;  // lowest byte first in memory
      p += 8;
    }
#endif
    while (p != end_ && is_digit(*p)) ++p;
    return p;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)? at `p`, with `whole` when it
  // has neither a fraction nor an exponent.
  const char* skip_number(const char* p, bool& whole) const {
    const char* start = p;
    if (p != end_ && *p == '-') ++p;
    if (p == end_) return nullptr;
    if (*p == '0') {
      ++p;
    } else if (*p >= '1' && *p <= '9') {
      p = skip_digits(p);
    } else {
      return nullptr;  // NaN, Infinity or no value at all
    }
    if (p - start > kMaxWholeDigits) return nullptr;
    whole = true;
    if (p != end_ && *p == '.') {
      whole = false;
      const char* digits = ++p;
      p = skip_digits(p);
      if (p == digits) return nullptr;
    }
    if (p != end_ && (*p == 'e' || *p == 'E')) {
      whole = false;
      ++p;
      bool negative = false;
      if (p != end_ && (*p == '+' || *p == '-')) negative = *p++ == '-';
      const char* digits = p;
      int exponent = 0;
      for (; p != end_ && is_digit(*p); ++p)
        if (exponent <= kMaxPositiveExponent) exponent = exponent * 10 + (*p - '0');
      if (p == digits || (!negative && exponent > kMaxPositiveExponent)) return nullptr;
    }
    return p;
  }

  // The first quotation mark, reverse solidus or control character at or
  // after `p`, or end_.
  const char* find_special(const char* p) const {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i last_control = _mm_set1_epi8(0x1F);
    for (; end_ - p >= 16; p += 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(chunk, last_control), last_control);
      const __m128i hit = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)), control);
      if (const int mask = _mm_movemask_epi8(hit))
        return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; p != end_; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c == '"' || c == '\\' || c < 0x20) return p;
    }
    return end_;
  }

  // The escape whose reverse solidus is at `p`: the position after it, and the
  // code point it stands for; nullptr for a bad escape or a lone surrogate.
  const char* read_escape(const char* p, unsigned& code) const {
    if (end_ - p < 2) return nullptr;
    switch (p[1]) {
      case '"':
      case '\\':
      case '/':
        code = static_cast<unsigned char>(p[1]);
        return p + 2;
      case 'b':
        code = '\b';
        return p + 2;
      case 'f':
        code = '\f';
        return p + 2;
      case 'n':
        code = '\n';
        return p + 2;
      case 'r':
        code = '\r';
        return p + 2;
      case 't':
        code = '\t';
        return p + 2;
      case 'u':
        break;
      default:
        return nullptr;
    }
    if (!hex4(p + 2, code)) return nullptr;
    p += 6;
    if (code >= 0xDC00 && code <= 0xDFFF) return nullptr;  // a lone low surrogate
    if (code >= 0xD800 && code <= 0xDBFF) {
      unsigned low;
      if (end_ - p < 2 || p[0] != '\\' || p[1] != 'u' || !hex4(p + 2, low) || low < 0xDC00 ||
          low > 0xDFFF)
        return nullptr;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      p += 6;
    }
    return p;
  }

  bool hex4(const char* p, unsigned& code) const {
    if (end_ - p < 4) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = p[i];
      unsigned digit;
      if (c >= '0' && c <= '9')
        digit = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        digit = static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        digit = static_cast<unsigned>(c - 'A' + 10);
      else
        return false;
      code = code * 16 + digit;
    }
    return true;
  }

  static void append_utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  const char* p_;
  const char* end_;
  const RowProjection* rows_;
  std::string scratch_;
};

// Leaves only the projected members in the rows of a fully decoded document.
void project_rows(Value& document, const RowProjection& rows) {
  Object* top = document.as_object();
  if (!top) return;
  for (Member& member : *top) {
    Array* list = member.key == rows.list_key ? member.value.as_list() : nullptr;
    if (!list) continue;
    for (Value& item : *list) {
      Object* row = item.as_object();
      if (!row) continue;
      Object kept;
      for (Member& field : *row)
        if (std::find(rows.keep.begin(), rows.keep.end(), field.key) != rows.keep.end())
          kept.append(std::move(field.key), std::move(field.value));
      *row = std::move(kept);
    }
  }
}

Value parse_with_reader(std::string_view text) {
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

}  // namespace

namespace detail {

std::optional<Value> parse_fast(std::string_view text, const RowProjection* rows) {
  if (!utf8::is_valid(text)) return std::nullopt;
  return FastDecoder(text, rows).run();
}

Value parse_reader(std::string_view text) {
  return parse_with_reader(text);
}

}  // namespace detail

Value parse(std::string_view text) {
  if (std::optional<Value> decoded = detail::parse_fast(text, nullptr)) return std::move(*decoded);
  return parse_with_reader(text);
}

Value parse(std::string_view text, const RowProjection& rows) {
  if (std::optional<Value> decoded = detail::parse_fast(text, &rows)) return std::move(*decoded);
  Value document = parse_with_reader(text);
  project_rows(document, rows);
  return document;
}

}  // namespace corvane_burn_watch::json
