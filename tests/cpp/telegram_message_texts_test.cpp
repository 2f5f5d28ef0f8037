// Alert and snapshot texts: the alert of a change list, and the numeric order
// of snapshot rows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/telegram/subnet_order.hpp"
#include "corvane_burn_watch/telegram/telegram.hpp"

namespace cbw = corvane_burn_watch;
namespace json = corvane_burn_watch::json;

namespace {

TEST(FormatBurnAlert, OneLinePerChangeAfterTheHeader) {
  const cbw::ChangeList triples = {{"3", "0.18", "0.2"}, {"12", "0", "abc"}};
  const std::string expected =
      "Owner burn rate changed\n2026-03-01T12:00:00Z UTC\n\n"
      "SN3: 0.1800 \xE2\x86\x92 0.2000\nSN12: 0.0000 \xE2\x86\x92 abc";
  EXPECT_EQ(cbw::format_burn_alert(triples, "2026-03-01T12:00:00Z"), expected);
  EXPECT_EQ(cbw::format_burn_alert(cbw::ChangeList{}, ""), "Owner burn rate changed\n UTC\n");
}

struct KeyCase {
  const char* name;
  json::Value netuid;
  std::string digits;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

class SubnetSortKeyTest : public testing::TestWithParam<KeyCase> {};

TEST_P(SubnetSortKeyTest, ReadsWholeNumber) {
  EXPECT_EQ(cbw::telegram::subnet_sort_key(GetParam().netuid).digits, GetParam().digits);
}

INSTANTIATE_TEST_SUITE_P(
    Convertible, SubnetSortKeyTest,
    testing::Values(KeyCase{"integer", json::Value(42), "42"},
                    KeyCase{"hugeInteger", json::Integer{"123456789012345678901234567890"},
                            "123456789012345678901234567890"},
                    KeyCase{"fractionCutDown", json::Value(7.9), "7"},
                    KeyCase{"negativeFractionCutUp", json::Value(-7.9), "-7"},
                    KeyCase{"smallNegativeIsZero", json::Value(-0.5), "0"},
                    KeyCase{"negativeZero", json::Value(-0.0), "0"},
                    KeyCase{"largeDoubleExact", json::Value(1e20), "100000000000000000000"},
                    KeyCase{"doubleBeyondLongLong", json::Value(0x1p70), "1180591620717411303424"},
                    KeyCase{"textWithSpaces", json::Value(" 7 "), "7"},
                    KeyCase{"textPlusSign", json::Value("+7"), "7"},
                    KeyCase{"textUnderscore", json::Value("0_7"), "7"},
                    KeyCase{"textNegative", json::Value("-12"), "-12"},
                    KeyCase{"boolTrue", json::Value(true), "1"},
                    KeyCase{"boolFalse", json::Value(false), "0"}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

class SubnetSortKeyErrorTest : public testing::TestWithParam<KeyCase> {};

TEST_P(SubnetSortKeyErrorTest, IsValueError) {
  EXPECT_THROW(cbw::telegram::subnet_sort_key(GetParam().netuid), cbw::ValueError);
}

INSTANTIATE_TEST_SUITE_P(
    Unconvertible, SubnetSortKeyErrorTest,
    testing::Values(KeyCase{"null", json::Value(nullptr), ""},
                    KeyCase{"decimalText", json::Value("7.0"), ""},
                    KeyCase{"word", json::Value("abc"), ""},
                    KeyCase{"emptyText", json::Value(""), ""},
                    KeyCase{"doubleUnderscore", json::Value("1__0"), ""},
                    KeyCase{"list", json::Value(json::Array{1}), ""},
                    KeyCase{"object", json::Value(json::Object{}), ""},
                    KeyCase{"nan", json::Value(std::nan("")), ""},
                    KeyCase{"infinity", json::Value(std::numeric_limits<double>::infinity()), ""}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

}  // namespace
