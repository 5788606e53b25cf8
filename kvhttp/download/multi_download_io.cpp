// The connection work of multi_download: opening a slot on its range, judging each answer,
// reading bodies into the storage, moving on to the next range, and failures.
#include <boost/asio/error.hpp>
#include <cerrno>
#include <limits>

#include "kvhttp/download/detail/ResponseWindow.h"
#include "kvhttp/download/detail/http_stream_object.h"
#include "kvhttp/download/multi_download.h"

namespace kvhttp {

namespace {

using phase = detail::http_stream_object::phase;
using failure = detail::RetryPolicy::failure;
constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();

bool IsEndOfStream(const boost::system::error_code& ec) {
  return ec == boost::asio::error::eof;
}

failure KindOf(const boost::system::error_code& ec) {
  if (ec.category() != error_category()) return failure::transient;
  switch (ec.value()) {
    case errc::unauthorized:
    case errc::forbidden:
    case errc::not_found:
    case errc::method_not_allowed:
    case errc::proxy_authentication_required:
    case errc::gone:
    case errc::insecure_redirect:
      return failure::final_status;
    case errc::wrong_range:
      return failure::wrong_answer;
    default:
      return failure::transient;
  }
}

// Statuses that end a download quietly (without all bytes, but not as a fault) once every
// connection met them.
bool EndsQuietly(const boost::system::error_code& ec) {
  return ec.category() == error_category() &&
         (ec.value() == errc::forbidden || ec.value() == errc::not_found ||
          ec.value() == errc::method_not_allowed);
}

}  // namespace

bool multi_download::CanSkip() const {
  // Skipping over bytes reads them for nothing; only worth it where asking for a range is not
  // possible.
  return !multi_ || retry_.NoNewRanges();
}

multi_download::connection_ptr multi_download::Renew(const connection_ptr& conn) {
  conn->dead = true;
  if (conn->stream) {
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
  }
  if (conn->holds_range()) book_.Return({conn->first, conn->end});
  auto fresh = std::make_shared<detail::http_stream_object>(*conn);
  fresh->current = phase::idle;
  std::lock_guard lock(connections_mutex_);
  connections_[static_cast<std::size_t>(conn->slot)] = fresh;
  return fresh;
}

void multi_download::Launch(std::size_t slot) {
  bool retired = false;
  {
    std::lock_guard lock(connections_mutex_);
    if (abort_ || slot >= connections_.size()) return;
    connection_ptr conn = connections_[slot];
    if (conn->dead || !conn->alive()) return;
    int otherAlive = 0;
    for (const connection_ptr& c : connections_)
      if (c->slot != conn->slot && c->alive()) ++otherAlive;
    if (multi_ && retry_.NoNewRanges() && otherAlive > 0) {
      // Range requests are answered wrongly: the connections at work carry the rest.
      conn->current = phase::done;
      retired = true;
    } else {
      std::optional<ByteRange> range = book_.CheckOut(request_size_);
      if (!range) {
        conn->current = phase::idle;
        return;
      }
      conn->first = range->start;
      conn->end = range->end;
      conn->position = range->start;
      conn->body_end = -1;
      conn->open_ended = false;
      conn->attempt_written = 0;
      conn->stream = std::make_shared<http_stream>(io_);
      PrepareStream(*conn, OptionsForRange(conn->first, conn->end));
      conn->current = phase::opening;
      conn->last_request_time = clock::now();
      BeginOperation();
      auto self = shared_from_this();
      conn->stream->AsyncOpen(final_url_,
                              [self, conn, gen = generation_](const boost::system::error_code& ec) {
                                self->EndOperation();
                                if (gen == self->generation_) self->OnResponse(conn, ec);
                              });
    }
  }
  if (retired) CheckAllDone();
}

void multi_download::RequestNext(const connection_ptr& conn) {
  book_.Return({conn->first, conn->end});
  conn->first = conn->end = 0;
  std::optional<ByteRange> range = book_.CheckOut(request_size_);
  if (!range || abort_) {
    if (range) book_.Return(*range);
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
    conn->current = phase::idle;
    return;
  }
  conn->first = range->start;
  conn->end = range->end;
  conn->position = range->start;
  conn->body_end = -1;
  conn->open_ended = false;
  conn->attempt_written = 0;
  const RequestOptions options = OptionsForRange(conn->first, conn->end);
  PrepareStream(*conn, options);
  conn->current = phase::requesting;
  conn->last_request_time = clock::now();
  BeginOperation();
  auto self = shared_from_this();
  conn->stream->AsyncSendRequest(
      options, [self, conn, gen = generation_](const boost::system::error_code& ec) {
        self->EndOperation();
        if (gen == self->generation_) self->OnResponse(conn, ec);
      });
}

void multi_download::OnResponse(const connection_ptr& conn, const boost::system::error_code& ec) {
  if (conn->dead || abort_) return;
  if (ec) return Fail(conn, ec, KindOf(ec));
  detail::BodyWindow window;
  switch (JudgeResponse(*conn, window)) {
    case answer::use:
      if (!UseBody(conn, window)) return;
      retry_.OnRightAnswer();
      break;
    case answer::use_from_zero:
      // One body from the start, nothing to tie it to what is on disk: begin again with it.
      RestartChanged(conn, window);
      return;
    case answer::changed:
      if (!retry_.OnChange())
        return End(download_outcome::failed, make_error_code(errc::resource_changed));
      RestartChanged(conn, window);
      return;
    case answer::wrong:
      // Writing this body at the range's offset would put the wrong bytes there.
      return Fail(conn, make_error_code(errc::wrong_range), failure::wrong_answer);
  }
  conn->current = phase::reading;
  conn->window_start = clock::now();
  conn->window_bytes = 0;
  IssueRead(conn);
}

multi_download::answer multi_download::JudgeResponse(detail::http_stream_object& conn,
                                                     detail::BodyWindow& window) {
  const http_stream& s = *conn.stream;
  const RequestOptions& head = s.ResponseOptions();
  if (!detail::ReadBodyWindow(s.StatusCode(), head, window)) return answer::wrong;
  const std::string validator = detail::ResponseValidator(head);
  const detail::validator_match match = detail::CompareValidators(validator_, validator);
  if (match == detail::validator_match::differs) return answer::changed;
  const std::int64_t size = FileSize();
  // Another size is another file, whatever the validators say.
  if (window.total >= 0 && size >= 0 && window.total != size) return answer::changed;
  const bool sameVersion = match == detail::validator_match::same;
  // Without validators on either side nothing can be checked, for a 206 as little as for a
  // 200; with one on our side only, an answer without one proves nothing.
  const bool trusted = sameVersion || (validator_.empty() && validator.empty());
  if (s.StatusCode() == 206) {
    if (window.start == conn.position) return answer::use;
    if (window.start < conn.position && window.end > conn.position && CanSkip() && trusted)
      return answer::use;
    return answer::wrong;
  }
  // A 200 carries the whole file from byte 0.
  if (!multi_) return sameVersion && size >= 0 ? answer::use : answer::use_from_zero;
  return CanSkip() && trusted ? answer::use : answer::wrong;
}

bool multi_download::UseBody(const connection_ptr& conn, const detail::BodyWindow& window) {
  conn->position = window.start;
  conn->body_end = window.end;
  conn->open_ended = window.end < 0 || window.end > conn->end;
  return true;
}

void multi_download::RestartChanged(const connection_ptr& conn, const detail::BodyWindow& window) {
  const http_stream& s = *conn->stream;
  const bool fromZero = s.StatusCode() == 200;
  std::int64_t size = window.total;
  boost::system::error_code ec;
  if (size < 0 && multi_)
    return End(download_outcome::failed, make_error_code(errc::resource_changed));
  if (!CheckSize(size, ec)) return End(download_outcome::failed, ec);
  bool unconfirmed = false;
  if (size < 0 && settings_.expected_size >= 0) {
    size = settings_.expected_size;
    unconfirmed = true;
  }
  if (size >= 0 && !CheckFreeSpace(size, ec)) return End(download_outcome::failed, ec);

  // Every other connection lets go; what they still receive is dropped.
  std::vector<connection_ptr> others;
  {
    std::lock_guard lock(connections_mutex_);
    others = connections_;
  }
  for (const connection_ptr& c : others) {
    if (c == conn || c->dead || !c->alive()) continue;
    Renew(c);
  }
  validator_ = detail::ResponseValidator(s.ResponseOptions());
  size_unconfirmed_ = unconfirmed;
  DiscardResumeRecord();
  book_.Reset(size);
  file_size_ = size;
  if (storage_) storage_->truncate(0);
  if (multi_ && storage_) KeepRecord({});

  conn->first = conn->end = 0;
  if (!fromZero) {
    // A part of the new version cannot start the file: ask again from byte 0.
    Launch(Renew(conn)->slot);
  } else {
    std::optional<ByteRange> range = book_.CheckOut(request_size_);
    if (!range) return End(download_outcome::complete, {});
    conn->first = range->start;
    conn->end = range->end;
    conn->attempt_written = 0;
    UseBody(conn, window);
    conn->current = phase::reading;
    conn->window_start = clock::now();
    conn->window_bytes = 0;
    IssueRead(conn);
  }
  for (const connection_ptr& c : others)
    if (c != conn && c->alive()) Launch(static_cast<std::size_t>(c->slot));
}

void multi_download::IssueRead(const connection_ptr& conn) {
  if (conn->buffer.empty()) conn->buffer.resize(detail::http_stream_object::kBufferSize);
  std::int64_t want = static_cast<std::int64_t>(conn->buffer.size());
  // Never ask for bytes this connection cannot use.
  const std::int64_t until = conn->open_ended ? conn->body_end : conn->end;
  if (until >= 0 && until != kNoEnd) want = std::min(want, until - conn->position);
  // At the end of a size nobody confirmed, one more byte tells whether the body goes on.
  if (want <= 0) want = 1;
  if (rate_budget_ >= 0) {
    want = std::min(want, rate_budget_);
    rate_budget_ -= want;
    if (want == 0) {
      // This second's budget is spent; the tick resumes the read.
      conn->current = phase::parked;
      return;
    }
  }
  conn->read_size = static_cast<std::size_t>(want);
  conn->read_second = budget_second_;
  conn->last_request_time = clock::now();
  BeginOperation();
  auto self = shared_from_this();
  conn->stream->AsyncReadSome(
      boost::asio::buffer(conn->buffer.data(), conn->read_size),
      [self, conn, gen = generation_](const boost::system::error_code& ec, std::size_t bytes) {
        self->EndOperation();
        if (gen == self->generation_) self->OnDataRead(conn, bytes, ec);
      });
}

void multi_download::OnDataRead(const connection_ptr& conn, std::size_t bytes,
                                const boost::system::error_code& ec) {
  if (conn->dead || abort_) return;
  // What the read was allowed but did not get is still this second's to spend.
  if (rate_budget_ >= 0 && conn->read_second == budget_second_ && bytes < conn->read_size)
    rate_budget_ += static_cast<std::int64_t>(conn->read_size - bytes);
  bytes_this_second_ += static_cast<std::int64_t>(bytes);
  conn->bytes_downloaded += static_cast<std::int64_t>(bytes);
  conn->window_bytes += static_cast<std::int64_t>(bytes);
  if (bytes > 0 && (!ec || IsEndOfStream(ec))) {
    bool leftover = false;
    if (!ConsumeBody(conn, conn->buffer.data(), bytes, leftover)) return;
    if (leftover) {
      if (!multi_) {
        // One body that runs past the size it must have, or past the room there is.
        return End(download_outcome::failed,
                   settings_.expected_size >= 0 || size_unconfirmed_
                       ? make_error_code(errc::size_mismatch)
                       : make_error_code(boost::system::errc::no_space_on_device));
      }
      // The body goes on with bytes someone else has: this connection asks anew.
      return AfterRange(conn);
    }
  }
  // A read that was allowed bytes and got none without an error: the message is over.
  const bool messageOver = !ec && bytes == 0 && conn->read_size > 0;
  if (ec && !IsEndOfStream(ec)) return Fail(conn, ec, failure::transient);
  if (IsEndOfStream(ec) || messageOver) return OnBodyEnd(conn);
  if (multi_ && conn->position >= conn->end) return AfterRange(conn);
  IssueRead(conn);
}

bool multi_download::ConsumeBody(const connection_ptr& conn, const char* data, std::size_t size,
                                 bool& leftover) {
  auto n = static_cast<std::int64_t>(size);
  while (n > 0) {
    if (conn->position < conn->first) {
      // Bytes before the range: on disk already, or someone else's.
      const std::int64_t skip = std::min(n, conn->first - conn->position);
      data += skip;
      n -= skip;
      conn->position += skip;
      continue;
    }
    if (conn->position < conn->end) {
      std::int64_t take = std::min(n, conn->end - conn->position);
      if (FileSize() < 0 && size_bound_ >= 0 && conn->position + take > size_bound_) {
        leftover = true;
        return true;
      }
      take = std::min<std::int64_t>(take, std::numeric_limits<std::int32_t>::max());
      errno = 0;
      const std::int64_t wrote =
          storage_ ? storage_->write(data, conn->position, static_cast<std::int32_t>(take)) : take;
      if (wrote != take) {
        const int e = errno != 0 ? errno : EIO;
        Fail(conn, boost::system::error_code(e, boost::system::system_category()),
             failure::transient);
        return false;
      }
      // Only bytes that reached the storage count as downloaded (and so reach the record).
      book_.MarkWritten(conn->position, conn->position + take);
      conn->attempt_written += take;
      data += take;
      n -= take;
      conn->position += take;
      if (!size_unconfirmed_ && book_.IsComplete()) {
        End(download_outcome::complete, {});
        return false;
      }
      if (multi_ && book_.WrittenBytes() - submitted_written_ >= kRecordEveryBytes)
        WriteResumeRecord();
      continue;
    }
    if (!ExtendRange(*conn)) {
      leftover = true;
      return true;
    }
  }
  return true;
}

bool multi_download::ExtendRange(detail::http_stream_object& conn) {
  if (!conn.open_ended || !multi_) return false;
  const std::int64_t limit = conn.body_end >= 0 ? conn.body_end : FileSize();
  if (limit < 0 || conn.position >= limit) return false;
  std::int64_t at = conn.position;
  if (book_.NextFree(at) != at) {
    if (!CanSkip()) return false;
    at = book_.NextFree(at);
    if (at < 0 || at >= limit) return false;
  }
  std::optional<ByteRange> range = book_.CheckOutAt(at, request_size_, limit);
  if (!range) return false;
  book_.Return({conn.first, conn.end});
  conn.first = range->start;
  conn.end = range->end;
  return true;
}

void multi_download::AfterRange(const connection_ptr& conn) {
  // An open-ended body serves the bytes after the range too, when nobody has them yet.
  if (ExtendRange(*conn)) return IssueRead(conn);
  if (conn->stream->KeepAlive() && conn->stream->BodyComplete()) return RequestNext(conn);
  // The server closes, or the body goes on with bytes someone else has: ask anew at once.
  Launch(static_cast<std::size_t>(Renew(conn)->slot));
}

void multi_download::OnBodyEnd(const connection_ptr& conn) {
  const http_stream& s = *conn->stream;
  if (multi_) {
    if (conn->position >= conn->end) return AfterRange(conn);
    // The answer ended before the range did: ask again for the rest.
    return Fail(conn, boost::asio::error::eof, failure::transient);
  }
  const std::int64_t size = FileSize();
  const bool framedEnd = s.ChunkedBodyComplete() || s.BodyComplete();
  if (size_unconfirmed_) {
    // The size is the caller's: the body must end exactly there.
    if (conn->position == size) return End(download_outcome::complete, {});
    if (framedEnd || conn->position > size)
      return End(download_outcome::failed, make_error_code(errc::size_mismatch));
    return Fail(conn, boost::asio::error::eof, failure::transient);
  }
  if (size < 0) {
    if (s.ChunkedBodyComplete()) {
      // The last chunk arrived: the body is whole, whatever length was (not) announced.
      book_.SetSize(conn->position);
      file_size_ = conn->position;
      return End(book_.IsComplete() ? download_outcome::complete : download_outcome::incomplete,
                 {});
    }
    // A chunked body cut short is a failure; a body without framing simply ended here and
    // nothing says whether it is whole.
    if (s.IsChunked()) return Fail(conn, boost::asio::error::eof, failure::transient);
    return End(download_outcome::incomplete, {});
  }
  if (book_.IsComplete()) return End(download_outcome::complete, {});
  Fail(conn, boost::asio::error::eof, failure::transient);
}

void multi_download::Fail(const connection_ptr& conn, const boost::system::error_code& ec,
                          failure kind) {
  if (conn->dead || abort_) return;
  conn->last_error = ec;
  last_cause_ = ec;
  int otherAlive = 0;
  for (const connection_ptr& c : connections_)
    if (c->slot != conn->slot && c->alive()) ++otherAlive;
  const std::int64_t written = book_.WrittenBytes();
  const bool progress = conn->attempt_written > 0 && written > conn->written_mark;
  const detail::RetryPolicy::decision d = retry_.OnFailure(conn->slot, kind, progress, otherAlive);
  connection_ptr fresh = Renew(conn);
  fresh->written_mark = std::max(written, conn->written_mark);
  switch (d.what) {
    case detail::RetryPolicy::verdict::retry:
      if (d.delay.count() <= 0) return Launch(static_cast<std::size_t>(fresh->slot));
      fresh->current = phase::waiting;
      fresh->retry_at = clock::now() + d.delay;
      WakeAt(fresh);
      return;
    case detail::RetryPolicy::verdict::retire:
      fresh->current = phase::done;
      return CheckAllDone();
    case detail::RetryPolicy::verdict::give_up:
      fresh->current = phase::done;
      return End(EndsQuietly(ec) ? download_outcome::incomplete : download_outcome::failed, ec);
  }
}

void multi_download::WakeAt(const connection_ptr& conn) {
  conn->retry_timer = std::make_unique<boost::asio::steady_timer>(io_, conn->retry_at);
  BeginOperation();
  auto self = shared_from_this();
  conn->retry_timer->async_wait(
      [self, conn, gen = generation_](const boost::system::error_code& ec) {
        self->EndOperation();
        if (ec || gen != self->generation_ || conn->dead || self->abort_ ||
            conn->current != phase::waiting)
          return;
        conn->current = phase::idle;
        self->Launch(static_cast<std::size_t>(conn->slot));
      });
}

void multi_download::CancelRetryTimers() {
  std::lock_guard lock(connections_mutex_);
  for (const connection_ptr& conn : connections_)
    if (conn->retry_timer) conn->retry_timer->cancel();
}

void multi_download::CheckAllDone() {
  if (abort_) return;
  for (const connection_ptr& c : connections_)
    if (c->alive()) return;
  if (book_.IsComplete() && !size_unconfirmed_) return End(download_outcome::complete, {});
  End(EndsQuietly(last_cause_) ? download_outcome::incomplete : download_outcome::failed,
      last_cause_ ? last_cause_ : make_error_code(boost::asio::error::eof));
}

}  // namespace kvhttp
