// The request URL of a data service GET, and the API key trimming.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "corvane_burn_watch/core/text/python_strip.hpp"
#include "corvane_burn_watch/data_client/query.hpp"

namespace dc = corvane_burn_watch::data_client;
namespace json = corvane_burn_watch::json;
namespace python_text = corvane_burn_watch::python_text;

namespace {

struct QueryCase {
  const char* name;
  json::Object params;
  std::string query;
};

void PrintTo(const QueryCase& c, std::ostream* os) {
  *os << c.name;
}

class QueryTextTest : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryTextTest, BuildsPairsInOrder) {
  EXPECT_EQ(dc::query_text(GetParam().params), GetParam().query);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryTextTest,
    testing::Values(
        QueryCase{"subnetPage",
                  {{"limit", 1024}, {"order", "netuid_asc"}},
                  "limit=1024&order=netuid_asc"},
        QueryCase{"insertionOrderKept", {{"z", "1"}, {"a", "2"}}, "z=1&a=2"},
        QueryCase{"nullAndEmptySkipped", {{"a", nullptr}, {"b", ""}, {"c", "x"}, {"d", ""}}, "c=x"},
        QueryCase{"allSkipped", {{"a", nullptr}, {"b", ""}}, ""},
        QueryCase{"falsyButNotEmptyKept",
                  {{"zero", 0}, {"no", false}, {"space", " "}},
                  "zero=0&no=False&space= "},
        QueryCase{"hugeInteger",
                  {{"n", json::Integer{"-123456789012345678901234567890"}}},
                  "n=-123456789012345678901234567890"},
        QueryCase{"noPercentEncoding",
                  {{"q", "a&b=c"}, {"k y", "\xC3\xBC%20"}},
                  "q=a&b=c&k y=\xC3\xBC%20"},
        QueryCase{
            "otherKindsAsHostText", {{"f", 1.5}, {"l", json::Array{1, "a"}}}, "f=1.5&l=[1, 'a']"}),
    [](const testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST(RequestUrl, AddsQuestionMarkOnlyForANonEmptyQuery) {
  EXPECT_EQ(dc::request_url("https://h", "/api/v1", {{"a", 1}}), "https://h/api/v1?a=1");
  EXPECT_EQ(dc::request_url("https://h", "/api/v1", {{"a", ""}}), "https://h/api/v1");
  EXPECT_EQ(dc::request_url("", "/p", {}), "/p");
}

struct StripCase {
  const char* name;
  std::string text;
  std::string stripped;
};

void PrintTo(const StripCase& c, std::ostream* os) {
  *os << c.name;
}

class StripTest : public testing::TestWithParam<StripCase> {};

TEST_P(StripTest, RemovesWhiteSpaceAtBothEndsOnly) {
  EXPECT_EQ(std::string(corvane_burn_watch::python_text::strip_white_space(GetParam().text)),
            GetParam().stripped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StripTest,
    testing::Values(StripCase{"empty", "", ""}, StripCase{"onlyAscii", " \t\n\r\v\f", ""},
                    StripCase{"inner", "  a b\tc  ", "a b\tc"},
                    StripCase{"separatorControls", "\x1C\x1Fkey\x1D\x1E", "key"},
                    StripCase{"nbspAndIdeographic", "\xC2\xA0key\xE3\x80\x80", "key"},
                    StripCase{"nextLineAndEmSpace", "\xC2\x85\xE2\x80\x83k\xE2\x80\xA8", "k"},
                    StripCase{"zeroWidthSpaceKept", "\xE2\x80\x8Bk\xE2\x80\x8B",
                              "\xE2\x80\x8Bk\xE2\x80\x8B"},
                    StripCase{"nonSpaceMultiByteKept", " \xC3\xA9t\xC3\xA9 ", "\xC3\xA9t\xC3\xA9"},
                    StripCase{"invalidUtf8AsciiOnly", " \xA0k\xFF\t", "\xA0k\xFF"}),
    [](const testing::TestParamInfo<StripCase>& info) { return std::string(info.param.name); });

}  // namespace
