// Telling the ways a sendMessage answer says no apart, and splitting an alert
// into messages that know which changes they carry.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "corvane_burn_watch/telegram/alert_parts.hpp"
#include "corvane_burn_watch/telegram/send_message.hpp"
#include "corvane_burn_watch/telegram/send_reply.hpp"

namespace cbw = corvane_burn_watch;
namespace tg = corvane_burn_watch::telegram;
using tg::SendStatus;

namespace {

struct OutcomeCase {
  const char* name;
  long status;
  std::string body;
  SendStatus expected;
  std::optional<double> retry_after = std::nullopt;
  std::string migrate_to = "";
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
  *os << c.name;
}

class SendOutcomeTest : public testing::TestWithParam<OutcomeCase> {};

TEST_P(SendOutcomeTest, ClassifiesTheAnswer) {
  const OutcomeCase& c = GetParam();
  const cbw::http::Response response{c.status, "", c.body};
  const tg::SendOutcome outcome = tg::classify_send_reply(response, tg::read_send_reply(response));
  EXPECT_EQ(outcome.status, c.expected);
  EXPECT_EQ(outcome.retry_after, c.retry_after);
  EXPECT_EQ(outcome.migrate_to_chat_id, c.migrate_to);
  // The pair the public operations return is the one read from the answer.
  EXPECT_EQ(outcome.result(), tg::read_send_reply(response));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SendOutcomeTest,
    testing::Values(
        OutcomeCase{"delivered", 200, R"({"ok": true, "result": {}})", SendStatus::delivered},
        OutcomeCase{"okFalse", 200, R"({"ok": false})", SendStatus::rejected},
        OutcomeCase{"retryAfterInteger", 429,
                    R"({"ok": false, "error_code": 429, "description": "Too Many Requests: )"
                    R"(retry after 5", "parameters": {"retry_after": 5}})",
                    SendStatus::rate_limited, 5.0},
        OutcomeCase{"retryAfterFraction", 429, R"({"parameters": {"retry_after": 0.5}})",
                    SendStatus::rate_limited, 0.5},
        OutcomeCase{"retryAfterNegative", 429, R"({"parameters": {"retry_after": -1}})",
                    SendStatus::rate_limited},
        OutcomeCase{"retryAfterText", 429, R"({"parameters": {"retry_after": "5"}})",
                    SendStatus::rate_limited},
        OutcomeCase{"rateLimitedPlainBody", 429, "slow down", SendStatus::rate_limited},
        OutcomeCase{"serverError", 500, "", SendStatus::server_error},
        OutcomeCase{"badGatewayHtml", 502, "<html>Bad Gateway</html>", SendStatus::server_error},
        OutcomeCase{"redirectNotFollowed", 302, "", SendStatus::server_error},
        OutcomeCase{"migrated", 400,
                    R"({"ok": false, "error_code": 400, "description": "Bad Request: group chat )"
                    R"(was upgraded to a supergroup chat", "parameters": )"
                    R"({"migrate_to_chat_id": -1001234567890}})",
                    SendStatus::migrated, std::nullopt, "-1001234567890"},
        OutcomeCase{"unauthorized", 401, R"({"ok": false, "description": "Unauthorized"})",
                    SendStatus::refused},
        OutcomeCase{"blocked", 403,
                    R"({"ok": false, "description": "Forbidden: bot was blocked by the user"})",
                    SendStatus::refused},
        OutcomeCase{"malformedToken", 404, R"({"ok": false, "description": "Not Found"})",
                    SendStatus::refused},
        OutcomeCase{"chatNotFound", 400,
                    R"({"ok": false, "description": "Bad Request: chat not found"})",
                    SendStatus::refused},
        OutcomeCase{"otherBadRequest", 400,
                    R"({"ok": false, "description": "Bad Request: message is too long"})",
                    SendStatus::rejected},
        // A gateway's page is no refusal of Telegram's, whatever its status.
        OutcomeCase{"gatewayHtml404", 404, "<html>404 Not Found (nginx)</html>",
                    SendStatus::server_error},
        OutcomeCase{"gatewayHtml403", 403, "<html>403 Forbidden</html>", SendStatus::server_error},
        OutcomeCase{"gatewayChatNotFoundText", 400, "chat not found", SendStatus::server_error},
        OutcomeCase{"jsonWithoutOkFalse", 401, R"({"description": "Unauthorized"})",
                    SendStatus::server_error},
        // Only a whole number is a chat to follow.
        OutcomeCase{"migratedToAnObject", 400,
                    R"({"ok": false, "parameters": {"migrate_to_chat_id": {"x": 1}}})",
                    SendStatus::rejected},
        OutcomeCase{"migratedToForgedText", 400,
                    R"x({"ok": false, "parameters": {"migrate_to_chat_id": )x"
                    R"x("-100\n[burn] alert sent (5 subnet(s))"}})x",
                    SendStatus::rejected},
        OutcomeCase{"migratedToAFraction", 400,
                    R"({"ok": false, "parameters": {"migrate_to_chat_id": -100.5}})",
                    SendStatus::rejected}),
    [](const auto& info) { return std::string(info.param.name); });

// Without the option any true "ok" delivers, as send_burn_telegram reads it;
// with it, only a boolean true does.
TEST(SendReply, OnlyABooleanTrueDeliversWhenAsked) {
  for (const char* body : {R"({"ok": "false"})", R"({"ok": 1})", R"({"ok": [0]})"}) {
    const cbw::http::Response response{200, "", body};
    EXPECT_TRUE(tg::read_send_reply(response).ok) << body;
    EXPECT_FALSE(tg::read_send_reply(response, {}, /*ok_must_be_true=*/true).ok) << body;
  }
  const cbw::http::Response delivered{200, "", R"({"ok": true})"};
  EXPECT_TRUE(tg::read_send_reply(delivered, {}, true).ok);
}

cbw::ChangeList changes(int count, const std::string& burn = "0.1") {
  cbw::ChangeList list;
  for (int id = 0; id < count; ++id) list.push_back({std::to_string(id), burn, "0.25"});
  return list;
}

struct PartsCase {
  int changes;
  long long max_len;
};

class AlertPartsTest : public testing::TestWithParam<PartsCase> {};

// The parts are exactly the chunks of the whole alert text, and each counts as
// done the changes whose lines it and the parts before it hold, up to their end.
TEST_P(AlertPartsTest, AreTheChunksOfTheWholeAlert) {
  const auto [count, max_len] = GetParam();
  const cbw::ChangeList list = changes(count);
  const std::vector<tg::AlertPart> parts = tg::alert_parts(list, "2026-03-01T12:00:00Z", max_len);
  const std::vector<std::string> chunks =
      cbw::chunk_text(cbw::format_burn_alert(list, "2026-03-01T12:00:00Z"), max_len);
  ASSERT_EQ(parts.size(), chunks.size());
  std::size_t done = 0;
  std::string sent;  // the bodies of the parts so far
  for (std::size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i].text, chunks[i]);
    ASSERT_GE(parts[i].changes_done, done);
    ASSERT_GE(parts[i].carries_until, parts[i].changes_done);
    const std::size_t body = parts[i].text.find("\n\n");
    if (body != std::string::npos) sent += parts[i].text.substr(body + 1);
    for (std::size_t c = done; c < parts[i].changes_done; ++c)
      EXPECT_NE(sent.find("\nSN" + list[c].subnet_id + ": "), std::string::npos) << c;
    done = parts[i].changes_done;
  }
  EXPECT_EQ(done, list.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, AlertPartsTest,
                         testing::Values(PartsCase{1, 3900}, PartsCase{150, 3900},
                                         PartsCase{400, 3900}, PartsCase{1024, 3900},
                                         PartsCase{5, 60}, PartsCase{5, 0}));

TEST(AlertParts, ALineLongerThanTheLimitCountsWithItsLastPiece) {
  const cbw::ChangeList list{{"1", "0.1", "0.2"}, {"2", "0.1", std::string(5000, 'x')}};
  const std::vector<tg::AlertPart> parts = tg::alert_parts(list, "t");
  ASSERT_GE(parts.size(), 2u);
  EXPECT_EQ(parts.front().changes_done, 1u);
  EXPECT_EQ(parts.back().changes_done, 2u);
  EXPECT_EQ(parts.back().carries_until, 2u);
}

}  // namespace
