// Row projection must accept and refuse exactly the texts a full decode does,
// and give the full decode with the other row members removed; the reader
// alone must agree with the decode that tries simdjson first, and rows kept
// whole for a host must be the full decode's.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/parse_testing.hpp"
#include "corvane_burn_watch/core/json/write.hpp"

namespace json = corvane_burn_watch::json;
using json::Value;

namespace {

constexpr std::string_view kRowMembers[] = {"netuid", "incentive_burn"};
const json::RowProjection kRows{"data", kRowMembers};

// What a projected decode must give: the full decode, rows cut down.
Value projected_by_hand(Value document) {
  if (json::Object* top = document.as_object()) {
    for (json::Member& member : *top) {
      json::Array* rows = member.key == "data" ? member.value.as_list() : nullptr;
      if (!rows) continue;
      for (Value& row : *rows) {
        json::Object* fields = row.as_object();
        if (!fields) continue;
        json::Object kept;
        for (json::Member& field : *fields)
          if (field.key == "netuid" || field.key == "incentive_burn")
            kept.append(field.key, field.value);
        *fields = kept;
      }
    }
  }
  return document;
}

void projection_agrees(const std::string& text) {
  std::optional<Value> full;
  try {
    full = json::parse(text);
  } catch (const json::SyntaxError&) {
  }
  if (!full) {
    EXPECT_THROW(json::parse(text, kRows), json::SyntaxError) << text;
    EXPECT_THROW(json::parse_with_reader(text, nullptr), json::SyntaxError) << text;
    return;
  }
  const Value expected = projected_by_hand(*full);
  EXPECT_TRUE(json::parse(text, kRows) == expected) << text;
  // The RapidJSON reader alone gives what the decode that tries simdjson first gives.
  EXPECT_TRUE(json::parse_with_reader(text, &kRows) == expected) << text;
  EXPECT_EQ(json::write_one_line(json::parse_with_reader(text, nullptr)),
            json::write_one_line(*full))
      << text;
  // Kept whole for a host, the rows are those of the full decode.
  std::optional<json::Document> whole;
  const json::RowProjection keeping{"data", kRowMembers, &whole};
  EXPECT_TRUE(json::parse(text, keeping) == expected) << text;
  const Value* rows = full->is_object() ? full->as_object()->find("data") : nullptr;
  if (rows != nullptr && rows->is_list()) {
    ASSERT_TRUE(whole.has_value()) << text;
    EXPECT_EQ(json::write_one_line(whole->value()), json::write_one_line(*rows)) << text;
  }
}

// ---- random documents ----

class Documents {
 public:
  explicit Documents(unsigned seed) : random_(seed) {}

  std::string document() {
    std::string out;
    value(out, 0);
    return out;
  }

  // A subnet-list answer: rows with the projected members among others.
  std::string answer() {
    std::string out = "{\"data\":[";
    const int rows = pick(0, 6);
    for (int i = 0; i < rows; ++i) {
      if (i) out += ',';
      out += '{';
      const int members = pick(0, 5);
      for (int m = 0; m < members; ++m) {
        if (m) out += ',';
        static const char* const names[] = {"\"netuid\"", "\"incentive_burn\"", "\"name\"",
                                            "\"price\"", "\"netuid\""};
        out += names[pick(0, 4)];
        out += space();
        out += ':';
        value(out, 2);
      }
      out += '}';
    }
    out += "]";
    if (pick(0, 2) == 0) {
      out += ",\"data\":";
      value(out, 1);
    }
    out += ",\"x\":";
    value(out, 1);
    out += '}';
    return out;
  }

  // Damages a text in one place, the way a cut or garbled answer would.
  std::string damage(std::string text) {
    static const std::string_view pieces[] = {
        "\"", "\\", ",", ":",  "{",   "}",    "[",        "]", "-",    ".",      "e",
        "0",  "1",  " ", "\n", "\\u", "\x01", "\xC3\xA9", "N", "true", "\\ud800"};
    if (text.empty()) return std::string(pieces[pick(0, 20)]);
    const std::size_t at = static_cast<std::size_t>(pick(0, static_cast<int>(text.size()) - 1));
    switch (pick(0, 3)) {
      case 0:
        text.erase(at, 1);
        break;
      case 1:
        text.insert(at, pieces[pick(0, 20)]);
        break;
      case 2:
        text.replace(at, 1, pieces[pick(0, 20)]);
        break;
      default:
        text.resize(at);
        break;
    }
    return text;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string space() {
    static const char* const spaces[] = {"", "", "", " ", "\n  ", "\t", "\r\n"};
    return spaces[pick(0, 6)];
  }

  void value(std::string& out, int depth) {
    out += space();
    switch (pick(0, depth > 3 ? 4 : 6)) {
      case 0:
        out += string();
        break;
      case 1:
        out += number();
        break;
      case 2: {
        static const char* const words[] = {"true", "false", "null"};
        out += words[pick(0, 2)];
        break;
      }
      case 3:
      case 4:
        out += number();
        break;
      case 5: {
        out += '[';
        const int n = pick(0, 4);
        for (int i = 0; i < n; ++i) {
          if (i) out += ',';
          value(out, depth + 1);
        }
        out += space() + ']';
        break;
      }
      default: {
        out += '{';
        const int n = pick(0, 4);
        for (int i = 0; i < n; ++i) {
          if (i) out += ',';
          out += space() + (pick(0, 3) == 0 ? std::string("\"k\"") : string()) + space() + ':';
          value(out, depth + 1);
        }
        out += space() + '}';
        break;
      }
    }
    out += space();
  }

  std::string string() {
    static const char* const pieces[] = {"a",
                                         "subnet-7",
                                         "\xCE\xB1",
                                         "\xF0\x9F\x98\x80",
                                         "\\\"",
                                         "\\\\",
                                         "\\/",
                                         "\\n",
                                         "\\t",
                                         "\\u00e9",
                                         "\\u0000",
                                         "\\ud83d\\ude00",
                                         "\\uD83D\\uDE00",
                                         " ",
                                         "0123456789abcdef0123"};
    std::string out = "\"";
    const int n = pick(0, 4);
    for (int i = 0; i < n; ++i) out += pieces[pick(0, 14)];
    return out + "\"";
  }

  std::string number() {
    static const char* const numbers[] = {"0",
                                          "-0",
                                          "7",
                                          "-12",
                                          "0.18",
                                          "1e-05",
                                          "1E2",
                                          "-0.0",
                                          "2.5e+3",
                                          "100.0",
                                          "0.411107",
                                          "1e308",
                                          "1e309",
                                          "1e-400",
                                          "123456789012345678901234567890",
                                          "9007199254740993",
                                          "0.1000000000000000055511151231257827",
                                          "-1.5E-7",
                                          "5e0"};
    return numbers[pick(0, 18)];
  }

  std::mt19937 random_;
};

}  // namespace

TEST(RowProjection, EqualsAFullDecodeWithOtherRowMembersRemoved) {
  Documents documents(7);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = documents.answer();
    projection_agrees(text);
    projection_agrees(documents.damage(text));
  }
  // Unusual texts: non-finite numbers, repeated keys, rows that are not a list.
  projection_agrees(R"({"data":[{"netuid":1,"price":NaN,"incentive_burn":0.5}]})");
  projection_agrees(R"({"data":[{"netuid":1,"incentive_burn":0.5,"netuid":2}],"data":[{"a":1}]})");
  projection_agrees(R"({"data":{"netuid":1,"a":2},"rows":[{"a":1}]})");
  projection_agrees(R"([{"data":[{"a":1}]}])");
}
