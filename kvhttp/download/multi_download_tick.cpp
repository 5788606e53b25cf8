// The one-second supervision of multi_download: speed, rate budget, resume record, stalls,
// retries that are due, idle connections, and the end of the download.
#include <boost/asio/error.hpp>
#include <limits>

#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/download/detail/http_stream_object.h"
#include "kvhttp/download/multi_download.h"

namespace kvhttp {

namespace {
using phase = detail::http_stream_object::phase;
}

void multi_download::ArmTimer(completion done) {
  BeginOperation();
  if (speed_samples_.empty()) speed_since_ = clock::now();
  timer_.expires_after(std::chrono::seconds(1));
  auto self = shared_from_this();
  timer_.async_wait(
      [self, done = std::move(done), gen = generation_](const boost::system::error_code& ec) {
        self->EndOperation();
        if (gen == self->generation_) self->OnTimerTick(done, ec);
      });
}

void multi_download::OnTimerTick(completion done, const boost::system::error_code& ec) {
  if (multi_) WriteResumeRecord();
  if (abort_ || ec) {
    CloseFiles();
    FinishTick(done, ec);
    return;
  }
  UpdateSpeed();
  rate_budget_ = settings_.download_rate_limit;
  ++budget_second_;
  Supervise();
  if (abort_) {
    if (multi_) WriteResumeRecord();
    CloseFiles();
    FinishTick(done, {});
    return;
  }
  ArmTimer(std::move(done));
}

void multi_download::UpdateSpeed() {
  // The rate over the last two seconds or so, from the first second on.
  const clock::time_point now = clock::now();
  speed_samples_.emplace_back(now, bytes_this_second_.exchange(0));
  while (speed_samples_.size() > 1 &&
         now - speed_samples_.front().first >= std::chrono::seconds(2)) {
    speed_since_ = speed_samples_.front().first;
    speed_samples_.pop_front();
  }
  std::int64_t bytes = 0;
  for (const auto& sample : speed_samples_) bytes += sample.second;
  const double seconds = std::chrono::duration<double>(now - speed_since_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
  speed_ = rate >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                   : static_cast<int>(rate);
}

std::int64_t multi_download::MinimumRate() const {
  std::int64_t rate = kMinBytesPerSecond;
  if (settings_.download_rate_limit >= 0) {
    // A rate limit may hold every connection below the minimum on purpose.
    std::int64_t reading = 0;
    for (const connection_ptr& c : connections_)
      if (c->current == phase::reading || c->current == phase::parked) ++reading;
    rate = std::min(rate, settings_.download_rate_limit / (2 * std::max<std::int64_t>(reading, 1)));
  }
  return rate;
}

void multi_download::Supervise() {
  std::vector<connection_ptr> slots;
  {
    std::lock_guard lock(connections_mutex_);
    slots = connections_;
  }
  const clock::time_point now = clock::now();
  const auto window = std::chrono::seconds(settings_.time_out);
  const std::int64_t minimum = MinimumRate() * settings_.time_out;
  for (const connection_ptr& conn : slots) {
    if (abort_) return;
    if (conn->dead) continue;
    switch (conn->current) {
      case phase::reading:
        if (now - conn->window_start < window) break;
        // Too little over a whole window is as bad as nothing: the range goes to someone who
        // gets it.
        if (conn->window_bytes < minimum) {
          Fail(conn, boost::asio::error::timed_out, detail::RetryPolicy::failure::transient);
        } else {
          conn->window_start = now;
          conn->window_bytes = 0;
        }
        break;
      case phase::parked:
        conn->current = phase::reading;
        conn->window_start = now;
        conn->window_bytes = 0;
        IssueRead(conn);
        break;
      case phase::waiting:
        if (now < conn->retry_at) break;
        conn->current = phase::idle;
        Launch(static_cast<std::size_t>(conn->slot));
        break;
      case phase::idle:
        Launch(static_cast<std::size_t>(conn->slot));
        break;
      case phase::opening:
      case phase::requesting:
      case phase::done:
        // Opens and requests carry their own time bound.
        break;
    }
  }
  CheckAllDone();
}

void multi_download::WriteResumeRecord() {
  if (piece_size_ <= 0 || FileSize() < 0) return;
  detail::RecordSnapshot snapshot;
  snapshot.finalUrl = UrlToString(final_url_, url_full);
  snapshot.fileSize = FileSize();
  snapshot.pieceSize = piece_size_;
  snapshot.validator = validator_;
  snapshot.written = book_.WrittenRanges();
  snapshot.writtenBytes = book_.WrittenBytes();
  submitted_written_ = snapshot.writtenBytes;
  keeper_.Submit(std::move(snapshot));
}

void multi_download::FinishTick(completion& done, const boost::system::error_code& ec) {
  if (!done) return;
  if (IsComplete()) {
    done({});
  } else if (ec) {
    done(ec);
  } else {
    done(make_error_code(boost::system::errc::operation_canceled));
  }
}

}  // namespace kvhttp
