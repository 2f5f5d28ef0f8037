// The burn text of a row's owner burn field, for every kind of value it can hold.
// (Display and change test are checked against Python's own rules in the
// module's tests.)
#include <gtest/gtest.h>

#include <limits>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"

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

}  // namespace
