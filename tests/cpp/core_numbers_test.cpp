#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "corvane_burn_watch/core/text/python_numbers.hpp"

namespace numbers = corvane_burn_watch::numbers;
using corvane_burn_watch::json::Integer;

struct ReadCase {
  const char* text;
  double expected;
};

class ReadsNumber : public testing::TestWithParam<ReadCase> {};
TEST_P(ReadsNumber, ToNearestDouble) {
  auto value = numbers::read_double(GetParam().text);
  ASSERT_TRUE(value.has_value()) << GetParam().text;
  EXPECT_EQ(*value, GetParam().expected) << GetParam().text;
  EXPECT_EQ(std::signbit(*value), std::signbit(GetParam().expected)) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(
    Numerals, ReadsNumber,
    testing::Values(ReadCase{"0.18", 0.18}, ReadCase{" 0.5 ", 0.5}, ReadCase{"\t+.5\n", 0.5},
                    ReadCase{"5.", 5.0}, ReadCase{"1_000.25", 1000.25}, ReadCase{"1e-05", 1e-05},
                    ReadCase{"1E+2", 100.0}, ReadCase{"1e1_0", 1e10}, ReadCase{"-0", -0.0},
                    ReadCase{"1e999", std::numeric_limits<double>::infinity()},
                    ReadCase{"-1e999", -std::numeric_limits<double>::infinity()},
                    ReadCase{"1e-400", 0.0}, ReadCase{"4e-320", 4e-320},
                    ReadCase{"Infinity", std::numeric_limits<double>::infinity()},
                    ReadCase{"-iNF", -std::numeric_limits<double>::infinity()},
                    // Exactly halfway between two doubles: ties to even.
                    ReadCase{"9007199254740993", 9007199254740992.0},
                    ReadCase{"0.1000000000000000055511151231257827", 0.1}));

class RefusesText : public testing::TestWithParam<const char*> {};
TEST_P(RefusesText, AsNumber) {
  EXPECT_FALSE(numbers::read_double(GetParam()).has_value());
}
INSTANTIATE_TEST_SUITE_P(NotNumbers, RefusesText,
                         testing::Values("", " ", "abc", "0x10", "1,5", "1 000", "True", "None",
                                         "_1", "1_", "1__0", "1_.5", "1._5", "1e_5", "1_e5", ".",
                                         "e5", "1e", "1e+", "+-1", "--1", "nan1", "infinit",
                                         "1.5.2", "١"));

TEST(ReadsNumber, NanInAnyCase) {
  for (const char* text : {"nan", "NaN", "-nan", "+NAN"})
    EXPECT_TRUE(std::isnan(numbers::read_double(text).value())) << text;
}

struct WriteCase {
  double value;
  const char* text;
};
class WritesDouble : public testing::TestWithParam<WriteCase> {};
TEST_P(WritesDouble, ShortestRoundTrip) {
  EXPECT_EQ(numbers::write_double(GetParam().value), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Layouts, WritesDouble,
    testing::Values(WriteCase{0.18, "0.18"}, WriteCase{0.0001, "0.0001"}, WriteCase{100.0, "100.0"},
                    WriteCase{1e15, "1000000000000000.0"}, WriteCase{1e16, "1e+16"},
                    WriteCase{1e-05, "1e-05"}, WriteCase{9.999e-05, "9.999e-05"},
                    WriteCase{1.5e-07, "1.5e-07"},
                    WriteCase{1.2345678901234568e+17, "1.2345678901234568e+17"},
                    WriteCase{-0.0, "-0.0"}, WriteCase{-2.5, "-2.5"},
                    WriteCase{0.1 + 0.2, "0.30000000000000004"}, WriteCase{5e-324, "5e-324"},
                    WriteCase{1.7976931348623157e308, "1.7976931348623157e+308"},
                    WriteCase{123456.789, "123456.789"}, WriteCase{1e100, "1e+100"},
                    WriteCase{std::numeric_limits<double>::infinity(), "inf"},
                    WriteCase{-std::numeric_limits<double>::infinity(), "-inf"},
                    WriteCase{std::numeric_limits<double>::quiet_NaN(), "nan"}));

struct FixedCase {
  double value;
  const char* text;
};
class FormatsFixed : public testing::TestWithParam<FixedCase> {};
TEST_P(FormatsFixed, FourDecimalsHalfEvenOnExactValue) {
  EXPECT_EQ(numbers::format_fixed(GetParam().value, 4), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(
    Rounding, FormatsFixed,
    testing::Values(FixedCase{0.18, "0.1800"}, FixedCase{0.03125, "0.0312"},
                    FixedCase{0.09375, "0.0938"}, FixedCase{0.12345, "0.1235"},
                    FixedCase{1e20, "100000000000000000000.0000"}, FixedCase{-0.0, "-0.0000"},
                    FixedCase{-0.00001, "-0.0000"}, FixedCase{1e-05, "0.0000"},
                    FixedCase{-std::numeric_limits<double>::quiet_NaN(), "nan"},
                    FixedCase{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(FormatsFixed, LargestDoubleKeepsAllDigits) {
  std::string text = numbers::format_fixed(std::numeric_limits<double>::max(), 4);
  EXPECT_EQ(text.size(), 309u + 5u);
  EXPECT_EQ(text.substr(0, 6), "179769");
}

struct IntegerCase {
  const char* text;
  const char* digits;
};
class ReadsInteger : public testing::TestWithParam<IntegerCase> {};
TEST_P(ReadsInteger, Canonically) {
  auto value = numbers::read_integer(GetParam().text);
  ASSERT_TRUE(value.has_value()) << GetParam().text;
  EXPECT_EQ(value->digits, GetParam().digits);
}
INSTANTIATE_TEST_SUITE_P(IdTexts, ReadsInteger,
                         testing::Values(IntegerCase{"7", "7"}, IntegerCase{" 7 ", "7"},
                                         IntegerCase{"+7", "7"}, IntegerCase{"007", "7"},
                                         IntegerCase{"0_7", "7"}, IntegerCase{"-0", "0"},
                                         IntegerCase{"-12", "-12"},
                                         IntegerCase{"123456789012345678901234567890",
                                                     "123456789012345678901234567890"}));

TEST(ReadsInteger, RefusesNonIntegers) {
  for (const char* text : {"7.0", "", "abc", "1e3", "_7", "7_", "7__0", "- 7", "0x1"})
    EXPECT_FALSE(numbers::read_integer(text).has_value()) << text;
}

TEST(ComparesIntegers, Numerically) {
  auto cmp = [](const char* a, const char* b) {
    return numbers::compare_integers(Integer{a}, Integer{b});
  };
  EXPECT_LT(cmp("2", "10"), 0);
  EXPECT_GT(cmp("-2", "-10"), 0);
  EXPECT_LT(cmp("-1", "0"), 0);
  EXPECT_EQ(cmp("99999999999999999999", "99999999999999999999"), 0);
  EXPECT_LT(cmp("99999999999999999999", "100000000000000000000"), 0);
}
