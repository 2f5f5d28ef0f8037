// Turning one HTTP answer into the payload callers get back, and telling a
// failure mapping in the subnet list's "data".
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/core/json/write.hpp"
#include "corvane_burn_watch/data_client/fetch.hpp"
#include "corvane_burn_watch/data_client/payload.hpp"

namespace cbw = corvane_burn_watch;
namespace dc = corvane_burn_watch::data_client;
namespace json = corvane_burn_watch::json;

namespace {

json::Value payload(long status, std::string body, std::string reason = "Reason") {
  return dc::answer_from_response(cbw::http::Response{status, std::move(reason), std::move(body)})
      .payload;
}

std::string one_line(const json::Value& value) {
  return json::write_one_line(value);
}

TEST(SuccessPayload, ObjectAndNullPassThrough) {
  EXPECT_EQ(one_line(payload(200, R"({"b": 1, "a": {"d": 2, "c": 3}})")),
            R"({"b": 1, "a": {"d": 2, "c": 3}})");
  EXPECT_TRUE(payload(204, " null\n").is_null());
}

TEST(SuccessPayload, ParseFailureKeepsFirst500CodePoints) {
  std::string body;
  for (int i = 0; i < 300; ++i) body += "\xC3\xA9\xF0\x9F\x98\x80";  // 600 code points
  json::Value result = payload(200, body);
  const json::Object* object = result.as_object();
  ASSERT_NE(object, nullptr);
  ASSERT_EQ(object->size(), 2u);
  EXPECT_EQ(object->begin()->key, "parse_error");
  EXPECT_FALSE(object->begin()->value.as_text()->empty());
  EXPECT_EQ(*object->find("raw")->as_text(), body.substr(0, 250 * 6));
}

TEST(SuccessPayload, EmptyBodyIsAParseFailure) {
  EXPECT_EQ(*payload(200, "").as_object()->find("raw"), json::Value(""));
}

TEST(SuccessPayload, OtherKindsNameExpectedAndReceived) {
  for (const auto& [body, kind] :
       {std::pair{"[]", "list"}, std::pair{"\"t\"", "str"}, std::pair{"1", "int"},
        std::pair{"1.5", "float"}, std::pair{"false", "bool"}}) {
    try {
      payload(200, body);
      ADD_FAILURE() << body << " was accepted";
    } catch (const json::SyntaxError&) {
      ADD_FAILURE() << body << " reported as a syntax error";
    } catch (const cbw::ValueError& e) {
      EXPECT_NE(std::string(e.what()).find("object"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(kind), std::string::npos) << e.what();
    }
  }
}

TEST(ErrorPayload, NonJsonBodyOrReasonPhrase) {
  EXPECT_EQ(one_line(payload(429, "slow down")),
            R"({"status_code": 429, "message": "slow down", "http_status": 429})");
  EXPECT_EQ(one_line(payload(503, "", "Service Unavailable")),
            R"({"status_code": 503, "message": "Service Unavailable", "http_status": 503})");
  EXPECT_EQ(one_line(payload(500, "", "")),
            R"({"status_code": 500, "message": "", "http_status": 500})");
}

TEST(ErrorPayload, ObjectGetsHttpStatusAppendedOrReplacedInPlace) {
  EXPECT_EQ(one_line(payload(404, R"({"message": "x"})")),
            R"({"message": "x", "http_status": 404})");
  EXPECT_EQ(one_line(payload(404, R"({"a": 1, "http_status": "old", "b": 2})")),
            R"({"a": 1, "http_status": 404, "b": 2})");
}

TEST(ErrorPayload, JsonOfAnotherKindIsAValueError) {
  for (const char* body : {"[1]", "\"x\"", "3", "true", "null"})
    EXPECT_THROW(payload(500, body), cbw::ValueError) << body;
}

TEST(Payload, BodyThatIsNotUtf8IsAUnicodeDecodeError) {
  for (long status : {200L, 500L}) {
    EXPECT_THROW(payload(status, "{\"a\": \"\xFF\"}"), cbw::UnicodeDecodeError);
    EXPECT_THROW(payload(status, "\xED\xA0\x80"), cbw::UnicodeDecodeError);  // a surrogate
  }
}

struct FailureCase {
  const char* name;
  json::Value data;
  bool failure;
};

class IsFailureMapping : public testing::TestWithParam<FailureCase> {};

TEST_P(IsFailureMapping, OnlyAnObjectWithATrueError) {
  EXPECT_EQ(dc::is_failure_mapping(GetParam().data), GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    Results, IsFailureMapping,
    testing::Values(
        FailureCase{"no_rows_result",
                    json::Object{{"error", "no_subnet_rows"},
                                 {"response", json::Object{{"data", json::Array{}}}}},
                    true},
        FailureCase{"error_true", json::Object{{"error", true}}, true},
        FailureCase{"error_nonzero_number", json::Object{{"error", 2}}, true},
        FailureCase{"error_list", json::Object{{"error", json::Array{json::Value(0)}}}, true},
        FailureCase{"error_empty_text", json::Object{{"error", ""}}, false},
        FailureCase{"error_null", json::Object{{"error", nullptr}}, false},
        FailureCase{"error_false", json::Object{{"error", false}}, false},
        FailureCase{"error_zero", json::Object{{"error", 0}}, false},
        FailureCase{"error_zero_double", json::Object{{"error", 0.0}}, false},
        FailureCase{"error_empty_object", json::Object{{"error", json::Object{}}}, false},
        FailureCase{"no_error_member", json::Object{{"data", json::Array{json::Value(1)}}}, false},
        FailureCase{"rows", json::Array{json::Object{{"error", "x"}}}, false},
        FailureCase{"text", json::Value("error"), false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
