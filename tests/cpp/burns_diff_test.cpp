// The change list between two burn maps: lookup, ordering and the checks on
// ids and burn values. The worked examples run through the module's tests.
#include <gtest/gtest.h>

#include "corvane_burn_watch/burns/burns.hpp"
#include "corvane_burn_watch/core/errors.hpp"

namespace cbw = corvane_burn_watch;
using cbw::ChangeList;
using cbw::json::Object;

namespace {

struct DiffCase {
  const char* name;
  Object prev;
  Object current;
  double threshold;
  ChangeList expected;
};

class DiffBurns : public testing::TestWithParam<DiffCase> {};

TEST_P(DiffBurns, ListsChangesInNumericOrder) {
  const DiffCase& c = GetParam();
  EXPECT_EQ(cbw::diff_burns(c.prev, c.current, c.threshold), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, DiffBurns,
    testing::Values(
        DiffCase{"new_and_gone_subnets_ignored",
                 {{"1", "0"}, {"5", "0"}},
                 {{"1", "1"}, {"9", "1"}},
                 0.0,
                 {{"1", "0", "1"}}},
        DiffCase{"null_previous_is_absent", {{"1", nullptr}}, {{"1", "1"}}, 0.0, {}},
        DiffCase{"exact_text_lookup_and_stable_order",
                 {{"01", "0"}, {"1", "0"}},
                 {{"01", "2"}, {"1", "3"}, {"0", "4"}},
                 0.0,
                 {{"01", "0", "2"}, {"1", "0", "3"}}},
        DiffCase{"signs_spaces_underscores",
                 {{"-3", "0"}, {" +2 ", "0"}, {"1_0", "0"}},
                 {{"1_0", "1"}, {" +2 ", "1"}, {"-3", "1"}},
                 0.0,
                 {{"-3", "0", "1"}, {" +2 ", "0", "1"}, {"1_0", "0", "1"}}},
        DiffCase{
            "texts_copied_untrimmed", {{"4", " 1 "}}, {{"4", "2\n"}}, 0.0, {{"4", " 1 ", "2\n"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DiffBurnsErrors, IdThatIsNotAnIntegerFailsWholeCall) {
  for (const char* id : {"7.0", "", "abc", "1__0", "_1", "0x1"}) {
    Object current{{"1", "5"}, {id, "1"}};
    try {
      cbw::diff_burns(Object{{"1", "0"}}, current, 0.0);
      ADD_FAILURE() << "no error for id '" << id << "'";
    } catch (const cbw::ValueError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + id + "'"), std::string::npos)
          << e.what();
    }
  }
}

TEST(DiffBurnsErrors, IdsAreReadBeforeAnyComparison) {
  // The non-text burn of "1" would fail its comparison; the bad id must win.
  Object current{{"1", 5}, {"x", "1"}};
  EXPECT_THROW(cbw::diff_burns(Object{{"1", "0"}}, current, 0.0), cbw::ValueError);
}

TEST(DiffBurnsErrors, BurnThatIsNotTextFailsWhenCompared) {
  EXPECT_THROW(cbw::diff_burns(Object{{"1", 0.5}}, Object{{"1", "1"}}, 0.0), cbw::TypeError);
  EXPECT_THROW(cbw::diff_burns(Object{{"1", "0"}}, Object{{"1", nullptr}}, 0.0), cbw::TypeError);
  // Never compared: a new subnet's burn is not looked at.
  EXPECT_TRUE(cbw::diff_burns(Object{{"2", "0"}}, Object{{"1", 5}}, 0.0).empty());
}

}  // namespace
