// The one place that decides what a failed attempt of a connection leads to: try again (after
// how long), give that connection up, or end the whole download. Counts are kept per
// connection slot; an attempt that wrote new bytes resets them, so only failures in a row
// without progress add up.
//
// Plain value used by the downloader on its I/O thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace kvhttp::detail {

class RetryPolicy {
 public:
  // Attempts of one connection in a row that end in failure without writing a byte.
  static constexpr int kMaxFailuresWithoutProgress = 8;
  // Wrong answers to range requests in a row (200, another range) before no new range
  // connection is opened: the connections at work carry the rest, and the last one left takes
  // whole-file answers, skipping to where it stands.
  static constexpr int kWrongAnswersBeforeNoNewRanges = 3;
  // The longest pause is this many times the first.
  static constexpr int kLongestDelayFactor = 16;

  enum class failure {
    transient,     // refused, reset, time-out, stall, 5xx, 416, a storage error: worth another try
    wrong_answer,  // a range request answered with other bytes
    final_status,  // 401, 403, 404, 405, 407, 410: asking again will not help
  };
  enum class verdict {
    retry,    // try again after `delay`
    retire,   // this connection is done; others go on
    give_up,  // the download ends with the failure's cause
  };
  struct decision {
    verdict what = verdict::retry;
    std::chrono::milliseconds delay{0};
  };

  void Reset(int slots, std::chrono::milliseconds firstDelay = std::chrono::milliseconds(500));
  // A connection's attempt failed. `madeProgress`: the attempt wrote new bytes before
  // failing (then it is tried again at once). `otherAlive`: other connections are not given up
  // yet.
  decision OnFailure(int slot, failure kind, bool madeProgress, int otherAlive);
  // A range request was answered with the bytes asked for.
  void OnRightAnswer() { wrong_answers_ = 0; }
  // True once range requests were answered wrongly often enough in a row: no connection is
  // opened for a new range any more.
  bool NoNewRanges() const { return no_new_ranges_; }
  // The file changed on the server: true to start again from nothing (the first time in a
  // run), false to give up (the second time).
  bool OnChange();

  int FailuresInARow(int slot) const;

 private:
  std::chrono::milliseconds Backoff(int failures);

  std::vector<int> failures_;
  std::chrono::milliseconds first_delay_{500};
  int wrong_answers_ = 0;
  bool no_new_ranges_ = false;
  int changes_ = 0;
  std::minstd_rand random_{std::random_device{}()};
};

}  // namespace kvhttp::detail
