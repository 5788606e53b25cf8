#include "kvhttp/download/detail/RetryPolicy.h"

#include <gtest/gtest.h>

namespace kvhttp::detail {
namespace {

using namespace std::chrono_literals;
using failure = RetryPolicy::failure;
using verdict = RetryPolicy::verdict;

TEST(RetryPolicy, FailuresWithoutProgressBackOffAndEndABoundedRun) {
  RetryPolicy p;
  p.Reset(2, 500ms);
  for (int i = 1; i < RetryPolicy::kMaxFailuresWithoutProgress; ++i) {
    const auto d = p.OnFailure(0, failure::transient, false, 1);
    ASSERT_EQ(d.what, verdict::retry) << i;
    // 0.5 s doubling up to 8 s, each within a quarter either way.
    const auto nominal = std::min(500ms * (1 << (i - 1)), 8000ms);
    EXPECT_GE(d.delay, nominal * 3 / 4) << i;
    EXPECT_LE(d.delay, nominal * 5 / 4) << i;
  }
  // The eighth in a row: this connection is done while another is alive...
  EXPECT_EQ(p.OnFailure(0, failure::transient, false, 1).what, verdict::retire);
  // ...and the download ends when it was the last.
  for (int i = 1; i < RetryPolicy::kMaxFailuresWithoutProgress; ++i)
    p.OnFailure(1, failure::transient, false, 0);
  EXPECT_EQ(p.OnFailure(1, failure::transient, false, 0).what, verdict::give_up);
}

TEST(RetryPolicy, ProgressResetsTheCountAndRetriesAtOnce) {
  RetryPolicy p;
  p.Reset(1, 500ms);
  for (int round = 0; round < 3; ++round) {
    // The failure that made progress counts as the first of a new run.
    const int before = round == 0 ? 0 : 1;
    for (int i = before + 1; i < RetryPolicy::kMaxFailuresWithoutProgress; ++i)
      ASSERT_EQ(p.OnFailure(0, failure::transient, false, 0).what, verdict::retry) << round;
    const auto d = p.OnFailure(0, failure::transient, true, 0);
    EXPECT_EQ(d.what, verdict::retry);
    EXPECT_EQ(d.delay, 0ms);
    EXPECT_EQ(p.FailuresInARow(0), 1);
  }
  for (int i = 2; i < RetryPolicy::kMaxFailuresWithoutProgress; ++i)
    p.OnFailure(0, failure::transient, false, 0);
  EXPECT_EQ(p.OnFailure(0, failure::transient, false, 0).what, verdict::give_up);
}

TEST(RetryPolicy, FinalStatusesEndTheConnectionAtOnce) {
  RetryPolicy p;
  p.Reset(2);
  EXPECT_EQ(p.OnFailure(0, failure::final_status, false, 1).what, verdict::retire);
  EXPECT_EQ(p.OnFailure(1, failure::final_status, true, 0).what, verdict::give_up);
}

TEST(RetryPolicy, WrongAnswersInARowStopNewRangesButTheLastConnectionGoesOn) {
  RetryPolicy p;
  p.Reset(4);
  p.OnFailure(1, failure::wrong_answer, false, 3);
  p.OnFailure(2, failure::wrong_answer, false, 3);
  p.OnRightAnswer();  // a server that answers most ranges right is no refuser
  p.OnFailure(3, failure::wrong_answer, false, 3);
  EXPECT_FALSE(p.NoNewRanges());
  EXPECT_EQ(p.OnFailure(1, failure::wrong_answer, false, 3).what, verdict::retry);
  EXPECT_EQ(p.OnFailure(2, failure::wrong_answer, false, 3).what, verdict::retire);
  EXPECT_TRUE(p.NoNewRanges());
  // From now on failures retire connections while others live; the last one keeps trying.
  EXPECT_EQ(p.OnFailure(3, failure::transient, true, 1).what, verdict::retire);
  EXPECT_EQ(p.OnFailure(0, failure::transient, false, 0).what, verdict::retry);
}

TEST(RetryPolicy, OneChangeOfTheFileIsForgivenPerRun) {
  RetryPolicy p;
  p.Reset(1);
  EXPECT_TRUE(p.OnChange());
  EXPECT_FALSE(p.OnChange());
  p.Reset(1);
  EXPECT_TRUE(p.OnChange());
}

}  // namespace
}  // namespace kvhttp::detail
