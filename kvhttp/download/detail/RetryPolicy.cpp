#include "kvhttp/download/detail/RetryPolicy.h"

#include <algorithm>

namespace kvhttp::detail {

void RetryPolicy::Reset(int slots, std::chrono::milliseconds firstDelay) {
  first_delay_ = std::max(firstDelay, std::chrono::milliseconds(1));
  failures_.assign(static_cast<std::size_t>(std::max(slots, 1)), 0);
  wrong_answers_ = 0;
  no_new_ranges_ = false;
  changes_ = 0;
}

int RetryPolicy::FailuresInARow(int slot) const {
  return slot >= 0 && static_cast<std::size_t>(slot) < failures_.size()
             ? failures_[static_cast<std::size_t>(slot)]
             : 0;
}

RetryPolicy::decision RetryPolicy::OnFailure(int slot, failure kind, bool madeProgress,
                                             int otherAlive) {
  if (slot < 0) slot = 0;
  if (static_cast<std::size_t>(slot) >= failures_.size())
    failures_.resize(static_cast<std::size_t>(slot) + 1, 0);
  int& count = failures_[static_cast<std::size_t>(slot)];
  const verdict endOfSlot = otherAlive > 0 ? verdict::retire : verdict::give_up;

  if (kind == failure::final_status) return {endOfSlot, {}};
  if (madeProgress) count = 0;
  ++count;
  if (kind == failure::wrong_answer && ++wrong_answers_ >= kWrongAnswersBeforeNoNewRanges)
    no_new_ranges_ = true;
  // Without new ranges only the connections still at work carry on; the last one keeps trying.
  if (no_new_ranges_ && otherAlive > 0) return {verdict::retire, {}};
  if (count >= kMaxFailuresWithoutProgress) return {endOfSlot, {}};
  // A connection that got somewhere asks again for the rest at once.
  if (madeProgress) return {verdict::retry, {}};
  return {verdict::retry, Backoff(count)};
}

std::chrono::milliseconds RetryPolicy::Backoff(int failures) {
  const std::chrono::milliseconds longest = first_delay_ * kLongestDelayFactor;
  std::chrono::milliseconds d = first_delay_;
  for (int i = 1; i < failures && d < longest; ++i) d *= 2;
  d = std::min(d, longest);
  // Up to a quarter either way, so that connections that failed together do not come back
  // together.
  std::uniform_int_distribution<long> jitter(-d.count() / 4, d.count() / 4);
  return d + std::chrono::milliseconds(jitter(random_));
}

bool RetryPolicy::OnChange() {
  return ++changes_ <= 1;
}

}  // namespace kvhttp::detail
