// Reading the Bot API's answer to getMe and getChat.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "corvane_burn_watch/core/json/parse.hpp"
#include "corvane_burn_watch/telegram/method_reply.hpp"

namespace json = corvane_burn_watch::json;
namespace tg = corvane_burn_watch::telegram;

namespace {

struct MethodCase {
  const char* name;
  long status;
  std::string reason;
  std::string body;
  std::optional<std::string> result;  // the expected result as JSON, if a success
  std::string refusal;
  std::string parameters = "{}";
};

void PrintTo(const MethodCase& c, std::ostream* os) {
  *os << c.name;
}

class MethodReplyTest : public testing::TestWithParam<MethodCase> {};

TEST_P(MethodReplyTest, GivesResultOrRefusal) {
  const MethodCase& c = GetParam();
  const tg::MethodReply reply = tg::read_method_reply({c.status, c.reason, c.body});
  ASSERT_EQ(reply.result.has_value(), c.result.has_value()) << reply.refusal;
  if (c.result) EXPECT_EQ(*reply.result, json::parse(*c.result));
  EXPECT_EQ(reply.refusal, c.refusal);
  EXPECT_EQ(json::Value(reply.parameters), json::parse(c.parameters));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MethodReplyTest,
    testing::Values(
        MethodCase{"success", 200, "OK", R"({"ok": true, "result": {"username": "b"}})",
                   R"({"username": "b"})", ""},
        MethodCase{"successWithoutResult", 200, "OK", R"({"ok": true})", "null", ""},
        MethodCase{"notOkOnSuccessStatus", 200, "OK", R"({"ok": false, "description": "odd"})",
                   std::nullopt, "odd"},
        MethodCase{"refusedToken", 401, "Unauthorized",
                   R"({"ok": false, "error_code": 401, "description": "Unauthorized"})",
                   std::nullopt, "Unauthorized"},
        MethodCase{"migratedGroup", 400, "Bad Request",
                   R"({"ok": false, "description": "Bad Request: group chat was upgraded",
                       "parameters": {"migrate_to_chat_id": -1001234}})",
                   std::nullopt, "Bad Request: group chat was upgraded",
                   R"({"migrate_to_chat_id": -1001234})"},
        MethodCase{"okTrueOnErrorStatus", 500, "Internal Server Error", R"({"ok": true})",
                   std::nullopt, "HTTP Error 500: Internal Server Error"},
        MethodCase{"proxyPage", 502, "Bad Gateway", "<html>bad gateway</html>", std::nullopt,
                   "HTTP Error 502: Bad Gateway"},
        MethodCase{"emptyError", 404, "Not Found", "", std::nullopt, "HTTP Error 404: Not Found"},
        MethodCase{"notJson", 200, "OK", "ok", std::nullopt, "HTTP 200 answer is no Bot API reply"},
        MethodCase{"notUtf8", 200, "OK", "{\"ok\": true, \"x\": \"\xff\"}", std::nullopt,
                   "HTTP 200 answer is no Bot API reply"},
        MethodCase{"jsonList", 200, "OK", "[1]", std::nullopt,
                   "HTTP 200 answer is no Bot API reply"}),
    [](const testing::TestParamInfo<MethodCase>& info) { return std::string(info.param.name); });

}  // namespace
