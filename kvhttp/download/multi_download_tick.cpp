// The one-second supervision of multi_download: speed, rate budget, resume record, time-outs
// and reconnects, and the end of the download.
#include <boost/asio/error.hpp>

#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/download/detail/http_stream_object.h"
#include "kvhttp/download/multi_download.h"

namespace kvhttp {

namespace {

bool EndsConnection(const boost::system::error_code& ec) {
  return ec.category() == error_category() &&
         (ec.value() == errc::forbidden || ec.value() == errc::not_found ||
          ec.value() == errc::method_not_allowed);
}

}  // namespace

void multi_download::ArmTimer(completion done) {
  BeginOperation();
  timer_.expires_after(std::chrono::seconds(1));
  auto self = shared_from_this();
  timer_.async_wait(
      [self, done = std::move(done), gen = generation_](const boost::system::error_code& ec) {
        if (gen != self->generation_) return self->EndOperation();
        self->OnTimerTick(done, ec);
      });
}

void multi_download::OnTimerTick(completion done, const boost::system::error_code& ec) {
  EndOperation();
  {
    std::lock_guard lock(connections_mutex_);
    FlushAllLocked();
  }
  if (multi_) WriteResumeRecord();
  if (abort_ || ec) {
    CloseFiles();
    FinishTick(done, ec);
    return;
  }
  speed_ = static_cast<int>((speed_.load() * 7.0 + bytes_this_second_.exchange(0)) * 0.125);
  rate_budget_ = settings_.download_rate_limit;

  bool allDone = true;
  boost::system::error_code lastConnectionError;
  {
    std::lock_guard lock(connections_mutex_);
    for (std::size_t i = 0; i < connections_.size(); ++i) ReconnectLocked(i);
    for (const connection_ptr& conn : connections_) {
      if (!conn->done) allDone = false;
      if (conn->last_error) lastConnectionError = conn->last_error;
    }
  }
  if (!allDone) {
    ArmTimer(std::move(done));
    return;
  }
  abort_ = true;
  complete_ = file_size_ >= 0 && downloaded_.is_full();
  if (!complete_) SetEndingError(lastConnectionError);
  if (multi_) WriteResumeRecord();
  CloseFiles();
  FinishTick(done, {});
}

void multi_download::ReconnectLocked(std::size_t i) {
  connection_ptr conn = connections_[i];
  if (conn->done) return;
  if (!conn->reconnect_now) {
    if (!conn->last_request_time) return;
    const auto idle = detail::http_stream_object::clock::now() - *conn->last_request_time;
    if (idle <= std::chrono::seconds(settings_.time_out)) return;
    // A stalled connection: say so, should it be the one that ends the download.
    if (!conn->last_error) conn->last_error = make_error_code(boost::asio::error::timed_out);
  }
  boost::system::error_code ignored;
  if (conn->stream) conn->stream->Close(ignored);
  FlushPending(*conn);
  if (EndsConnection(conn->last_error)) {
    conn->done = true;
    return;
  }
  if (!multi_) {
    abort_ = true;
    conn->done = true;
    --connection_count_;
    return;
  }
  // A late handler of the old operation keeps working on the old object only.
  auto fresh = std::make_shared<detail::http_stream_object>(*conn);
  fresh->reconnect_now = false;
  fresh->stream = std::make_shared<http_stream>(io_);
  connections_[i] = fresh;
  if (fresh->RangeComplete()) {
    if (!AllocateRange(*fresh)) {
      fresh->done = true;
      --connection_count_;
      return;
    }
    fresh->bytes_transferred = 0;
  }
  PrepareStream(*fresh, OptionsForRange(fresh->first + fresh->bytes_transferred, fresh->last));
  fresh->last_request_time = detail::http_stream_object::clock::now();
  AsyncOpen(static_cast<int>(i), fresh);
}

void multi_download::WriteResumeRecord() {
  if (piece_size_ <= 0 || file_size_ < 0) return;
  ResumeRecordContent content;
  content.finalUrl = UrlToString(final_url_, url_full);
  content.fileSize = file_size_;
  content.pieceSize = piece_size_;
  content.bitfield = RangesToBitfield(downloaded_, content.pieceSize);
  if (content.bitfield.bytes() != record_bitfield_) {
    // The record may only name pieces whose bytes are already on the device.
    if (!storage_ || !storage_->sync()) return;
  }
  if (kvhttp::WriteResumeRecord(record_file_, record_path_, content))
    record_bitfield_ = content.bitfield.bytes();
}

void multi_download::FinishTick(completion& done, const boost::system::error_code& ec) {
  if (!done) return;
  if (complete_) {
    done({});
  } else if (ec) {
    done(ec);
  } else {
    done(make_error_code(boost::system::errc::operation_canceled));
  }
}

}  // namespace kvhttp
