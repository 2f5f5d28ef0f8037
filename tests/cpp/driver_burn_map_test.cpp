// Turning fetched subnet rows into the burn map.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "corvane_burn_watch/core/errors.hpp"
#include "corvane_burn_watch/core/subnet_row.hpp"
#include "corvane_burn_watch/core/text/python_text.hpp"
#include "corvane_burn_watch/driver/burn_map.hpp"

namespace cbw = corvane_burn_watch;
using cbw::json::Array;
using cbw::json::Integer;
using cbw::json::Object;
using cbw::json::Value;

namespace {

struct NetuidCase {
  const char* name;
  Value netuid;
  std::string expected;
};

class NetuidText : public testing::TestWithParam<NetuidCase> {};

TEST_P(NetuidText, WritesTheKeyAPythonHostWouldPrint) {
  EXPECT_EQ(cbw::python_text::plain_text(GetParam().netuid), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NetuidText,
    testing::Values(NetuidCase{"text_unchanged", Value(" 07 "), " 07 "},
                    NetuidCase{"integer", Value(7), "7"},
                    NetuidCase{"negative_integer", Value(-3), "-3"},
                    NetuidCase{"integer_beyond_64_bits", Value(Integer{"18446744073709551616"}),
                               "18446744073709551616"},
                    NetuidCase{"whole_double_keeps_fraction", Value(7.0), "7.0"},
                    NetuidCase{"fractional_double", Value(7.25), "7.25"},
                    NetuidCase{"large_double_exponent", Value(1e16), "1e+16"},
                    NetuidCase{"null", Value(nullptr), "None"},
                    NetuidCase{"true", Value(true), "True"},
                    NetuidCase{"false", Value(false), "False"},
                    NetuidCase{"list", Value(Array{Value(1), Value("a")}), "[1, 'a']"},
                    NetuidCase{"object", Value(Object{{"a", 1}}), "{'a': 1}"}),
    [](const auto& info) { return std::string(info.param.name); });

cbw::SubnetRow row(Value netuid, Value burn) {
  return {std::move(netuid), std::move(burn)};
}
using Rows = std::vector<cbw::SubnetRow>;

TEST(BuildBurnMap, KeysInRowOrderWithOwnerBurnTexts) {
  const Rows rows{row(3, 0.18), row(1, nullptr), row(2, "abc"), row(10, 1e-05)};
  const Object expected{{"3", "0.18"}, {"1", "0"}, {"2", "abc"}, {"10", "1e-05"}};
  const Object burns = cbw::driver::build_burn_map(rows);
  EXPECT_EQ(burns, expected);
  // Object equality may ignore order; the watch relies on arrival order.
  std::vector<std::string> keys;
  for (const auto& member : burns) keys.push_back(member.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"3", "1", "2", "10"}));
}

TEST(BuildBurnMap, LaterDuplicateReplacesValueButKeepsFirstPosition) {
  // 7 and "7" give the same key text.
  const Rows rows{row(7, 0.1), row(8, 0.2), row("7", 0.3)};
  const Object burns = cbw::driver::build_burn_map(rows);
  ASSERT_EQ(burns.size(), 2u);
  EXPECT_EQ(burns.begin()->key, "7");
  EXPECT_EQ(burns.begin()->value, Value("0.3"));
  EXPECT_EQ(std::next(burns.begin())->key, "8");
}

TEST(BuildBurnMap, SkipsRowsWithoutNetuidButNotNullNetuid) {
  const Rows rows{cbw::SubnetRow::from_object(Object{{"incentive_burn", 0.5}}), row(nullptr, 0.25),
                  cbw::SubnetRow{}};
  const Object burns = cbw::driver::build_burn_map(rows);
  EXPECT_EQ(burns, (Object{{"None", "0.25"}}));
}

TEST(SubnetRow, AValueThatIsNotAnObjectIsATypeError) {
  EXPECT_THROW(cbw::SubnetRow::from_value(Value("netuid")), cbw::TypeError);
  EXPECT_EQ(cbw::SubnetRow::from_value(Object{{"name", "x"}, {"netuid", 4}}),
            (cbw::SubnetRow{Value(4), std::nullopt}));
}

}  // namespace
