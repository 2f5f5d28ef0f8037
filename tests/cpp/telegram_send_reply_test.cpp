// Turning the Bot API's answer to sendMessage into a delivery result.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/telegram/send_reply.hpp"

namespace cbw = corvane_burn_watch;
namespace tg = corvane_burn_watch::telegram;

namespace {

struct ReplyCase {
  const char* name;
  long status;
  std::string reason;
  std::string body;
  cbw::DeliveryResult expected;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << c.name;
}

class SendReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(SendReplyTest, GivesDeliveryResult) {
  const ReplyCase& c = GetParam();
  EXPECT_EQ(tg::read_send_reply({c.status, c.reason, c.body}), c.expected);
}

// 300 code points of which many are two-byte "é": a byte cut would differ.
std::string long_json_without_description() {
  std::string body = R"({"ok": false, "note": ")";
  for (int i = 0; i < 480; ++i) body += (i % 2) ? "\xC3\xA9" : "x";
  return body + "\"}";
}

std::string first_code_points(const std::string& text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) break;
  }
  return text.substr(0, i);
}

INSTANTIATE_TEST_SUITE_P(
    Success, SendReplyTest,
    testing::Values(ReplyCase{"okNonZeroNumber", 200, "OK", R"({"ok": 2})", {true, ""}},
                    ReplyCase{"okNonEmptyText", 201, "Created", R"({"ok": "yes"})", {true, ""}},
                    ReplyCase{"okNonEmptyList", 299, "", R"({"ok": [0]})", {true, ""}},
                    ReplyCase{"okMissing", 200, "OK", "{}", {false, "{}"}},
                    ReplyCase{"okZero", 200, "OK", R"({"ok": 0.0})", {false, "{'ok': 0.0}"}},
                    ReplyCase{"okEmptyText", 200, "OK", R"({"ok": ""})", {false, "{'ok': ''}"}},
                    ReplyCase{"okNull", 200, "OK", R"({"ok": null})", {false, "{'ok': None}"}},
                    ReplyCase{"okEmptyObject", 200, "OK", R"({"ok": {}})", {false, "{'ok': {}}"}},
                    ReplyCase{"nestedTextForm",
                              200,
                              "OK",
                              R"({"ok": [], "r": {"x": [1, 2.5, null, true, "a"]}})",
                              {false, "{'ok': [], 'r': {'x': [1, 2.5, None, True, 'a']}}"}},
                    // On success a description is not looked at: the object is the detail.
                    ReplyCase{"descriptionIgnoredOnSuccess",
                              200,
                              "OK",
                              R"({"ok": false, "description": "x"})",
                              {false, "{'ok': False, 'description': 'x'}"}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    ErrorStatus, SendReplyTest,
    testing::Values(
        ReplyCase{
            "description",
            400,
            "Bad Request",
            R"({"ok": false, "error_code": 400, "description": "Bad Request: chat not found"})",
            {false, "Bad Request: chat not found"}},
        ReplyCase{"descriptionNotText", 400, "Bad Request", R"({"description": 7})", {false, "7"}},
        ReplyCase{"descriptionList", 400, "", R"({"description": ["a", 1]})", {false, "['a', 1]"}},
        ReplyCase{"emptyDescriptionGivesBody",
                  401,
                  "Unauthorized",
                  R"({"ok": false, "description": ""})",
                  {false, R"({"ok": false, "description": ""})"}},
        ReplyCase{"jsonWithoutDescriptionCut300",
                  500,
                  "Internal Server Error",
                  long_json_without_description(),
                  {false, first_code_points(long_json_without_description(), 300)}},
        ReplyCase{"whiteSpaceBodyIsNotEmpty", 502, "Bad Gateway", " ", {false, " "}},
        ReplyCase{"emptyBodyNoReason", 429, "", "", {false, "HTTP Error 429: "}},
        ReplyCase{"redirectStatusIsAnError", 302, "Found", "", {false, "HTTP Error 302: Found"}},
        ReplyCase{"belowSuccessRange", 199, "", "{}", {false, "{}"}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

struct BrokenCase {
  const char* name;
  long status;
  std::string body;
};

void PrintTo(const BrokenCase& c, std::ostream* os) {
  *os << c.name;
}

class BrokenReplyTest : public testing::TestWithParam<BrokenCase> {};

// A broken answer is an error for the caller, not a refusal of the message.
TEST_P(BrokenReplyTest, Throws) {
  const BrokenCase& c = GetParam();
  EXPECT_THROW(tg::read_send_reply({c.status, "", c.body}), cbw::ValueError);
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenReplyTest,
                         testing::Values(BrokenCase{"successNotJson", 200, "<html>"},
                                         BrokenCase{"successEmpty", 200, ""},
                                         BrokenCase{"successList", 200, "[true]"},
                                         BrokenCase{"successNotUtf8", 200, "{\"ok\": \"\xFF\"}"},
                                         BrokenCase{"errorJsonList", 400, "[1, 2]"},
                                         BrokenCase{"errorJsonText", 400, "\"x\""},
                                         BrokenCase{"errorNotUtf8", 400, "\xC3("}),
                         [](const testing::TestParamInfo<BrokenCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
