// Owner burn values: the burn text of a row, its display and the change test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "corvane_burn_watch/burn_watch.hpp"

namespace cbw = corvane_burn_watch;
using cbw::json::Integer;
using cbw::json::Object;
using cbw::json::Value;

namespace {

struct RowCase {
  const char* name;
  Value burn;
  std::string expected;
};

class OwnerBurnFromRow : public testing::TestWithParam<RowCase> {};

TEST_P(OwnerBurnFromRow, GivesBurnText) {
  const RowCase& c = GetParam();
  Object row{{"netuid", 7}, {"incentive_burn", c.burn}};
  EXPECT_EQ(cbw::owner_burn_from_row(row), c.expected);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, OwnerBurnFromRow,
    testing::Values(RowCase{"null", nullptr, "0"}, RowCase{"false", false, "0"},
                    RowCase{"int_zero", 0, "0"}, RowCase{"double_zero", 0.0, "0"},
                    RowCase{"negative_zero", -0.0, "0"}, RowCase{"empty_text", "", "0"},
                    RowCase{"empty_list", cbw::json::Array{}, "0"},
                    RowCase{"empty_object", Object{}, "0"}, RowCase{"text_zero_kept", "0.0", "0.0"},
                    RowCase{"space_kept", " ", " "}, RowCase{"text_kept", "abc", "abc"},
                    RowCase{"decimal", 0.18, "0.18"}, RowCase{"small", 1e-05, "1e-05"},
                    RowCase{"hundred_double", 100.0, "100.0"}, RowCase{"hundred_int", 100, "100"},
                    RowCase{"huge_int", Integer{"-123456789012345678901234567890"},
                            "-123456789012345678901234567890"},
                    RowCase{"big_double", 1e16, "1e+16"}, RowCase{"true", true, "True"},
                    RowCase{"nan", kNaN, "nan"}, RowCase{"minus_inf", -kInf, "-inf"},
                    RowCase{"list", cbw::json::Array{1, "a", nullptr}, "[1, 'a', None]"},
                    RowCase{"object", Object{{"k", true}}, "{'k': True}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OwnerBurnFromRowMissing, MissingFieldIsZero) {
  EXPECT_EQ(cbw::owner_burn_from_row(Object{{"netuid", 1}}), "0");
  EXPECT_EQ(cbw::owner_burn_from_row(Object{}), "0");
}

TEST(OwnerBurnFromRowMissing, RejectsRowThatIsNotAnObject) {
  for (const Value& row : {Value(nullptr), Value("row"), Value(cbw::json::Array{}), Value(1)})
    EXPECT_THROW(cbw::owner_burn_from_row(row), cbw::TypeError) << row.kind_name();
}

class FormatOwnerBurn : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(FormatOwnerBurn, ShowsFourDecimalsOrTextUnchanged) {
  EXPECT_EQ(cbw::format_owner_burn(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FormatOwnerBurn,
    testing::Values(std::pair{"0.18", "0.1800"}, std::pair{" 0.5 ", "0.5000"},
                    std::pair{"1_000.25", "1000.2500"}, std::pair{"1e-05", "0.0000"},
                    std::pair{"0", "0.0000"}, std::pair{"0.03125", "0.0312"},
                    std::pair{"0.09375", "0.0938"}, std::pair{"0.12345", "0.1235"},
                    std::pair{"1e20", "100000000000000000000.0000"}, std::pair{"-0", "-0.0000"},
                    std::pair{"-0.00001", "-0.0000"}, std::pair{"Infinity", "inf"},
                    std::pair{"-INF", "-inf"}, std::pair{"-nan", "nan"}, std::pair{"1e999", "inf"},
                    std::pair{"abc", "abc"}, std::pair{"", ""}, std::pair{"None", "None"},
                    std::pair{"1__0", "1__0"}, std::pair{"0x10", "0x10"},
                    std::pair{"1 000", "1 000"}));

struct ChangedCase {
  const char* old_burn;
  const char* new_burn;
  double threshold;
  bool changed;
};

class OwnerBurnChanged : public testing::TestWithParam<ChangedCase> {};

TEST_P(OwnerBurnChanged, ComparesNumbersOrTexts) {
  const ChangedCase& c = GetParam();
  EXPECT_EQ(cbw::owner_burn_changed(c.old_burn, c.new_burn, c.threshold), c.changed)
      << c.old_burn << " -> " << c.new_burn << " @ " << c.threshold;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, OwnerBurnChanged,
    testing::Values(ChangedCase{"0.18", "0.1800", 0.0, false},
                    ChangedCase{"0.18", "0.185", 0.01, false},
                    ChangedCase{"0.18", "0.19", 0.01, true},  // 0.010000000000000009
                    ChangedCase{"0.5", "1.0", 0.5, false}, ChangedCase{"abc", "abc", 1.0, false},
                    ChangedCase{"abc", "0.1", 1e9, true}, ChangedCase{"0.1", "abc", 1e9, true},
                    ChangedCase{"abc", "ABC", 0.0, true}, ChangedCase{"abc ", "abc", 0.0, true},
                    ChangedCase{"nan", "nan", 0.0, false}, ChangedCase{"nan", "1", 0.0, false},
                    ChangedCase{"inf", "inf", 0.0, false}, ChangedCase{"inf", "-inf", 1e308, true},
                    ChangedCase{"1", "1", -1.0, true}, ChangedCase{"inf", "inf", -1.0, false},
                    ChangedCase{"1", "2", kNaN, false}));

}  // namespace
