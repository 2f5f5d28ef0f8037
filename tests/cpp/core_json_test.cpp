#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <string_view>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/core/text/utf8.hpp"

namespace json = corvane_burn_watch::json;
namespace python_text = corvane_burn_watch::python_text;
namespace utf8 = corvane_burn_watch::utf8;
using json::Value;

TEST(Parse, KeepsMemberOrderAndWholeNumberDigits) {
  Value v = json::parse(R"({"b": 1, "a": 123456789012345678901234567890, "c": -0, "d": 1.5e2})");
  const json::Object& o = *v.as_object();
  std::string keys;
  for (const auto& m : o) keys += m.key;
  EXPECT_EQ(keys, "bacd");
  EXPECT_EQ(o.find("a")->as_integer()->digits, "123456789012345678901234567890");
  EXPECT_EQ(o.find("c")->as_integer()->digits, "0");
  EXPECT_EQ(*o.find("d")->as_double(), 150.0);
}

TEST(Parse, DuplicateKeysKeepFirstPositionAndLastValue) {
  Value v = json::parse(R"({"x": 1, "y": 2, "x": 3})");
  EXPECT_EQ(json::write_one_line(v), R"({"x": 3, "y": 2})");
  std::string big = "{";
  for (int i = 0; i < 100; ++i)
    big += "\"k" + std::to_string(i % 50) + "\": " + std::to_string(i) + ",";
  big.back() = '}';
  const Value parsed = json::parse(big);
  const json::Object& o = *parsed.as_object();
  ASSERT_EQ(o.size(), 50u);
  EXPECT_EQ(o.begin()->key, "k0");
  EXPECT_EQ(o.begin()->value.as_integer()->digits, "50");
}

TEST(Parse, AcceptsNonFiniteSpellings) {
  const Value parsed = json::parse("[NaN, Infinity, -Infinity, 1e308]");
  const json::Array& a = *parsed.as_list();
  EXPECT_TRUE(std::isnan(*a[0].as_double()));
  EXPECT_EQ(*a[1].as_double(), INFINITY);
  EXPECT_EQ(*a[2].as_double(), -INFINITY);
  EXPECT_EQ(*a[3].as_double(), 1e308);
}

// A number beyond the range of a double reads as an infinity, as a Python
// host's decoder reads it; a whole number keeps every digit. Written back as
// one-line JSON, so an infinity shows as Infinity.
// The same holds when only some members of the rows under "data" are built.
struct BigNumberCase {
  const char* name;
  std::string text;
  std::string one_line;
  std::string projected = one_line;  // with rows keeping only "netuid"
};
void PrintTo(const BigNumberCase& c, std::ostream* os) {
  *os << c.name;
}
class BigNumbers : public testing::TestWithParam<BigNumberCase> {};
TEST_P(BigNumbers, ReadAsPythonReadsThem) {
  const BigNumberCase& c = GetParam();
  EXPECT_EQ(json::write_one_line(json::parse(c.text)), c.one_line);
  constexpr std::string_view kKeep[] = {"netuid"};
  EXPECT_EQ(json::write_one_line(json::parse(c.text, json::RowProjection{"data", kKeep})),
            c.projected);
}
const std::string k400Zeros(400, '0');
INSTANTIATE_TEST_SUITE_P(
    Overflow, BigNumbers,
    testing::Values(
        BigNumberCase{"exponent", "1e400", "Infinity"},
        BigNumberCase{"negative", "-1e400", "-Infinity"},
        BigNumberCase{"signedCapitalExponent", "[1E+999, -2.5e309]", "[Infinity, -Infinity]"},
        BigNumberCase{"justOverTheLargestDouble", "[1.8e308, 1.7e308]", "[Infinity, 1.7e+308]"},
        BigNumberCase{"longFraction", "1" + k400Zeros + ".5", "Infinity"},
        BigNumberCase{"longWholeNumberStaysExact", "-1" + k400Zeros, "-1" + k400Zeros},
        BigNumberCase{"longDigitsSmallValue", "1" + k400Zeros + "e-300", "1e+100"},
        BigNumberCase{"zeroTimesHugePower", "0.0e999", "0.0"},
        BigNumberCase{"insideAMemberNobodyReads", R"({"a": "1e400", "b": {"c": [1e400]}, "d": 2})",
                      R"({"a": "1e400", "b": {"c": [Infinity]}, "d": 2})"},
        BigNumberCase{"inRowsLeftOut",
                      R"({"data": [{"price": 1e400, "netuid": 1e400, "x": [-1e400]}]})",
                      R"({"data": [{"price": Infinity, "netuid": Infinity, "x": [-Infinity]}]})",
                      R"({"data": [{"netuid": Infinity}]})"}),
    [](const testing::TestParamInfo<BigNumberCase>& info) { return std::string(info.param.name); });

class RejectsDocument : public testing::TestWithParam<std::string> {};
TEST_P(RejectsDocument, WithSyntaxError) {
  EXPECT_THROW(json::parse(GetParam()), json::SyntaxError) << GetParam();
}
INSTANTIATE_TEST_SUITE_P(Malformed, RejectsDocument,
                         testing::Values("", "   ", "{", "[1,]", "{\"a\" 1}", "01", "{} {}",
                                         "\xEF\xBB\xBF{}", std::string("{}\0", 3),
                                         std::string("\"a\0b\"", 5), "\"\\ud800\\u\"", "'x'", "tru",
                                         std::string(600, '[')));

TEST(Parse, MessageSaysWhere) {
  try {
    json::parse("{\n  \"a\": }");
    FAIL();
  } catch (const json::SyntaxError& e) {
    EXPECT_NE(std::string(e.what()).find("line 2 column 8 (char 9)"), std::string::npos)
        << e.what();
  }
}

TEST(Parse, SurrogatePairEscapeDecodes) {
  EXPECT_EQ(*json::parse(R"("\ud83d\ude00")").as_text(), "\xF0\x9F\x98\x80");
}

// A lone surrogate is a character of its own, as a Python host reads it:
// kept as its three bytes, and written back as its escape.
struct SurrogateCase {
  std::string name;
  std::string document;
  std::string text;
};
class LoneSurrogate : public testing::TestWithParam<SurrogateCase> {};
TEST_P(LoneSurrogate, DecodesToItsOwnBytesAndWritesBack) {
  const SurrogateCase& c = GetParam();
  const Value value = json::parse(c.document);
  ASSERT_EQ(value, Value(json::Array{c.text})) << c.document;
  EXPECT_EQ(json::write_one_line(value), c.document);
  EXPECT_EQ(json::parse(c.document, json::RowProjection{"data", {}}), value);
}
INSTANTIATE_TEST_SUITE_P(
    Escapes, LoneSurrogate,
    testing::Values(SurrogateCase{"high", R"(["\ud800"])", "\xED\xA0\x80"},
                    SurrogateCase{"low", R"(["\udcff"])", "\xED\xB3\xBF"},
                    SurrogateCase{"high_then_text", R"(["\udbffx"])", "\xED\xAF\xBFx"},
                    SurrogateCase{"two_highs_then_low", R"(["\ud800\ud83d\ude00"])",
                                  "\xED\xA0\x80\xF0\x9F\x98\x80"},
                    SurrogateCase{"low_then_high", R"(["\udc00\ud800"])",
                                  "\xED\xB0\x80\xED\xA0\x80"},
                    SurrogateCase{"after_escaped_backslash", R"(["\\\ud800"])", "\\\xED\xA0\x80"}),
    [](const testing::TestParamInfo<SurrogateCase>& info) { return info.param.name; });

TEST(Parse, PositionsAfterALoneSurrogateNameTheText) {
  try {
    json::parse("[\"\\ud800\", }");
    FAIL();
  } catch (const json::SyntaxError& e) {
    EXPECT_NE(std::string(e.what()).find("(char 11)"), std::string::npos) << e.what();
  }
}

TEST(WriteIndentedSorted, StateFileLayout) {
  json::Object burns{{"1", "0.18"}, {"2", "1e-05"}, {"10", "0"}};
  json::Object doc{{"owner_burn_rate", burns}, {"updated_at_utc", "2026-12-06T23:20:46Z"}};
  EXPECT_EQ(json::write_indented_sorted(doc),
            "{\n  \"owner_burn_rate\": {\n    \"1\": \"0.18\",\n    \"10\": \"0\",\n"
            "    \"2\": \"1e-05\"\n  },\n  \"updated_at_utc\": \"2026-12-06T23:20:46Z\"\n}");
  json::Object empty{{"owner_burn_rate", json::Object{}}, {"updated_at_utc", "t"}};
  EXPECT_EQ(json::write_indented_sorted(empty),
            "{\n  \"owner_burn_rate\": {},\n  \"updated_at_utc\": \"t\"\n}");
}

TEST(WriteIndentedSorted, NestedListsAndScalars) {
  Value v = json::Object{{"b", json::Array{1, 2.5, nullptr, true}}, {"a", json::Array{}}};
  EXPECT_EQ(json::write_indented_sorted(v),
            "{\n  \"a\": [],\n  \"b\": [\n    1,\n    2.5,\n    null,\n    true\n  ]\n}");
}

TEST(AsciiJsonString, EscapesEverythingOutsidePrintableAscii) {
  std::string out;
  json::append_ascii_json_string(out,
                                 "\"\\/\b\f\n\r\t\x01\x7F\xC3\xA9\xE2\x86\x92\xF0\x9F\x98\x80");
  EXPECT_EQ(out, R"("\"\\/\b\f\n\r\t\u0001\u007f\u00e9\u2192\ud83d\ude00")");
}

TEST(WriteOneLine, SeparatorsAndNonFinite) {
  Value v = json::Object{{"error", "no_subnet_rows"},
                         {"response", json::Object{{"data", json::Array{}}, {"x", NAN}}},
                         {"n", json::Array{1, -INFINITY, 0.5}}};
  EXPECT_EQ(
      json::write_one_line(v),
      R"({"error": "no_subnet_rows", "response": {"data": [], "x": NaN}, "n": [1, -Infinity, 0.5]})");
}

struct TextFormCase {
  Value value;
  const char* text;
};
class TextForm : public testing::TestWithParam<TextFormCase> {};
TEST_P(TextForm, AsAPythonHostPrintsIt) {
  EXPECT_EQ(python_text::text_form(GetParam().value), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Values, TextForm,
    testing::Values(TextFormCase{json::Object{{"ok", false}, {"error_code", 400}},
                                 "{'ok': False, 'error_code': 400}"},
                    TextFormCase{json::Array{nullptr, true, 1.0, 1e-05, "a"},
                                 "[None, True, 1.0, 1e-05, 'a']"},
                    TextFormCase{Value("it's"), "\"it's\""},
                    TextFormCase{Value("a'b\"c"), "'a\\'b\"c'"},
                    TextFormCase{Value("x\\y\n\x01"), "'x\\\\y\\n\\x01'"},
                    TextFormCase{Value("\xC3\xA9"), "'\xC3\xA9'"}, TextFormCase{Value(NAN), "nan"},
                    TextFormCase{json::Object{}, "{}"}));

TEST(PlainText, TextUnchangedOthersAsTextForm) {
  EXPECT_EQ(python_text::plain_text(Value("7")), "7");
  EXPECT_EQ(python_text::plain_text(Value(7.0)), "7.0");
  EXPECT_EQ(python_text::plain_text(Value(nullptr)), "None");
}

TEST(Utf8, ValidatesStrictly) {
  EXPECT_TRUE(utf8::is_valid("plain \xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80"));
  for (const char* bad :
       {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x86", "a\x80"})
    EXPECT_FALSE(utf8::is_valid(bad)) << bad;
  try {
    utf8::require_valid(
        "ab\xFF"
        "cd");
    FAIL();
  } catch (const corvane_burn_watch::UnicodeDecodeError& e) {
    EXPECT_EQ(e.start, 2u);
    EXPECT_EQ(e.end, 3u);
  }
}

TEST(Utf8, CountsAndCutsInCodePoints) {
  const std::string text =
      "a\xE2\x86\x92"
      "b\xF0\x9F\x98\x80";
  EXPECT_EQ(utf8::length(text), 4u);
  EXPECT_EQ(utf8::prefix(text, 2), "a\xE2\x86\x92");
  EXPECT_EQ(utf8::prefix(text, 10), text);
  EXPECT_EQ(utf8::prefix(text, 0), "");
}
