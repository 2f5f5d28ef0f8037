// The sendMessage form body: every byte outside the unreserved set escaped.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "corvane_burn_watch/telegram/form_encoding.hpp"

namespace tg = corvane_burn_watch::telegram;

namespace {

struct EncodeCase {
  const char* name;
  std::string value;
  std::string encoded;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
  *os << c.name;
}

class FormValueTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(FormValueTest, EncodesEachByte) {
  const EncodeCase& c = GetParam();
  EXPECT_EQ(tg::form_encode({{"k", c.value}}), "k=" + c.encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormValueTest,
    testing::Values(EncodeCase{"unreserved", "AZaz09_.-~", "AZaz09_.-~"},
                    EncodeCase{"spaceIsPlus", "a b  c", "a+b++c"},
                    EncodeCase{"formSyntaxEscaped", "&=+%", "%26%3D%2B%25"},
                    EncodeCase{"controlBytes", std::string("\n\r\t\0", 4), "%0A%0D%09%00"},
                    EncodeCase{
                        "asciiPunctuation", "!*'();:@$,/?#[]\"<>\\^`{|}",
                        "%21%2A%27%28%29%3B%3A%40%24%2C%2F%3F%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D"},
                    EncodeCase{"arrowUpperCaseHex", " \xE2\x86\x92 ", "+%E2%86%92+"},
                    EncodeCase{"fourByteCharacter", "\xF0\x9F\x94\xA5", "%F0%9F%94%A5"},
                    EncodeCase{"delAndHighByte", "\x7F\xFF", "%7F%FF"},
                    EncodeCase{"empty", "", ""}),
    [](const testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

TEST(FormEncode, JoinsFieldsInOrderAndEscapesNames) {
  EXPECT_EQ(tg::form_encode({{"chat_id", "-100"},
                             {"text", "a&b=c"},
                             {"disable_web_page_preview", "true"},
                             {"odd name", ""}}),
            "chat_id=-100&text=a%26b%3Dc&disable_web_page_preview=true&odd+name=");
  EXPECT_EQ(tg::form_encode({}), "");
  EXPECT_EQ(tg::form_encode({{"", ""}, {"", ""}}), "=&=");
}

}  // namespace
