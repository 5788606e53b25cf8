// The connection handlers of multi_download: opens, range requests and body reads.
#include <boost/asio/error.hpp>
#include <thread>

#include "kvhttp/download/detail/ContentRange.h"
#include "kvhttp/download/detail/http_stream_object.h"
#include "kvhttp/download/multi_download.h"

namespace kvhttp {

namespace {

bool IsEndOfStream(const boost::system::error_code& ec) {
  return ec == boost::asio::error::eof;
}

}  // namespace

void multi_download::IssueRead(int index, const connection_ptr& conn) {
  conn->last_request_time = detail::http_stream_object::clock::now();
  std::size_t size = detail::http_stream_object::kBufferSize;
  if (rate_budget_ >= 0) {
    size = std::min<std::size_t>(static_cast<std::size_t>(rate_budget_), size);
    rate_budget_ -= static_cast<int>(size);
    // The budget of this second is spent: poll gently until the tick refills it.
    if (size == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  conn->read_size = size;
  BeginOperation();
  auto self = shared_from_this();
  conn->stream->AsyncReadSome(boost::asio::buffer(conn->buffer.data(), size),
                              [self, index, conn, gen = generation_](
                                  const boost::system::error_code& ec, std::size_t bytes) {
                                if (gen != self->generation_) return self->EndOperation();
                                self->OnDataRead(index, conn, bytes, ec);
                              });
}

void multi_download::AsyncOpen(int index, const connection_ptr& conn) {
  BeginOperation();
  auto self = shared_from_this();
  conn->stream->AsyncOpen(
      final_url_, [self, index, conn, gen = generation_](const boost::system::error_code& ec) {
        if (gen != self->generation_) return self->EndOperation();
        self->OnConnectionOpened(index, conn, ec);
      });
}

void multi_download::OnConnectionOpened(int index, connection_ptr conn,
                                        const boost::system::error_code& ec) {
  EndOperation();
  if (!ec && !abort_ && !multi_) {
    const std::int64_t length = conn->stream->ContentLength();
    if (length != -1 && length != file_size_) {
      allocated_.reset(length);
      downloaded_.reset(length);
      file_size_ = length;
    }
  }
  OnResponseHead(index, conn, ec);
}

void multi_download::OnRangeRequested(int index, connection_ptr conn,
                                      const boost::system::error_code& ec) {
  EndOperation();
  OnResponseHead(index, conn, ec);
}

void multi_download::OnResponseHead(int index, const connection_ptr& conn,
                                    const boost::system::error_code& ec) {
  if (ec || abort_) {
    if (ec) conn->last_error = ec;
    if (!multi_) EndSingleConnection(ec);
    return;
  }
  boost::system::error_code rangeError;
  if (multi_ && !CheckRangeResponse(*conn, rangeError)) {
    // Writing this body at the range's offset would put the wrong bytes there.
    conn->last_error = rangeError;
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
    return;
  }
  conn->last_error.clear();
  IssueRead(index, conn);
}

bool multi_download::CheckRangeResponse(const detail::http_stream_object& conn,
                                        boost::system::error_code& ec) const {
  const http_stream& s = *conn.stream;
  if (s.StatusCode() != 206) {
    ec = make_status_error(s.StatusCode());
    return false;
  }
  detail::ContentRange range;
  if (!detail::ParseContentRange(s.ResponseOptions().find("Content-Range"), range) ||
      range.first != conn.first + conn.bytes_transferred ||
      (range.total != -1 && range.total != file_size_)) {
    ec = make_error_code(errc::malformed_response_headers);
    return false;
  }
  return true;
}

bool multi_download::StoreBytes(detail::http_stream_object& conn, std::size_t bytes) {
  if (!storage_) return true;
  std::int64_t n = static_cast<std::int64_t>(bytes);
  // Bytes past the connection's range belong to another connection's range.
  if (conn.last >= conn.first) n = std::min(n, conn.RangeLength() - conn.bytes_transferred);
  if (n <= 0) return true;
  // Writes of whole pages: a write of part of a fresh page makes the kernel clear the page
  // first, which costs more than the copy itself.
  if (conn.pending.empty()) conn.pending_offset = conn.first + conn.bytes_transferred;
  conn.pending.insert(conn.pending.end(), conn.buffer.data(), conn.buffer.data() + n);
  if (conn.pending.size() >= detail::http_stream_object::kWriteChunk) return FlushPending(conn);
  return true;
}

bool multi_download::FlushPending(detail::http_stream_object& conn) {
  if (conn.pending.empty()) return true;
  const auto size = static_cast<std::int64_t>(conn.pending.size());
  const std::int64_t offset = conn.pending_offset;
  const bool ok = !storage_ || storage_->write(conn.pending.data(), offset,
                                               static_cast<std::int32_t>(size)) == size;
  conn.pending.clear();
  if (ok) {
    // Only bytes that reached the storage count as downloaded (and so reach the record).
    if (storage_ && file_size_ >= 0) downloaded_.mark(offset, offset + size);
    return true;
  }
  // The range is fetched again from the first byte that is not on disk.
  conn.bytes_transferred = offset - conn.first;
  conn.last_error = make_error_code(boost::system::errc::io_error);
  boost::system::error_code ignored;
  if (conn.stream) conn.stream->Close(ignored);
  return false;
}

void multi_download::FlushAllLocked() {
  for (const connection_ptr& conn : connections_) FlushPending(*conn);
}

void multi_download::OnDataRead(int index, connection_ptr conn, std::size_t bytes,
                                const boost::system::error_code& ec) {
  EndOperation();
  bytes_this_second_ += static_cast<int>(bytes);
  if (bytes > 0 && (!ec || IsEndOfStream(ec)) && !StoreBytes(*conn, bytes)) {
    if (!multi_) EndSingleConnection(conn->last_error);
    return;
  }
  conn->bytes_transferred += static_cast<std::int64_t>(bytes);
  conn->bytes_downloaded += static_cast<std::int64_t>(bytes);

  // A read that was allowed bytes and got none without an error: the message is over.
  const bool messageOver = !ec && bytes == 0 && conn->read_size > 0;
  if (ec || abort_ || (!multi_ && messageOver)) {
    const bool flushed = FlushPending(*conn);
    if (ec && flushed) conn->last_error = ec;
    // The range arrived whole just before the server closed: no need to wait for a time-out.
    if (multi_ && IsEndOfStream(ec) && conn->RangeComplete()) conn->reconnect_now = true;
    if (!multi_) {
      // A chunked body whose last chunk arrived is whole, whatever length was (not) announced.
      if (flushed && conn->stream->ChunkedBodyComplete() && !abort_) {
        const std::int64_t size = conn->bytes_downloaded.load();
        allocated_.reset(size);
        downloaded_.reset(size);
        if (size > 0) downloaded_.mark(0, size);
        file_size_ = size;
      }
      EndSingleConnection(!flushed ? conn->last_error
                          : ec     ? ec
                                   : make_error_code(boost::asio::error::eof));
    }
    return;
  }

  if (multi_) {
    if (conn->RangeComplete()) {
      if (!FlushPending(*conn)) return;
      // A finished range goes into the record at once, so that a killed run fetches again at
      // most the ranges that were in flight.
      WriteResumeRecord();
      // Every byte is on disk: end now rather than at the next tick.
      if (downloaded_.is_full()) {
        abort_ = true;
        complete_ = true;
        timer_.cancel();
        return;
      }
      // The first connection's open-ended answer goes on past its range: it cannot carry
      // another request.
      if (!keep_alive_ || (index == 0 && conn->first == 0)) {
        conn->reconnect_now = true;
        return;
      }
      if (!AllocateRange(*conn)) {
        conn->reconnect_now = true;
        return;
      }
      RequestOptions options = OptionsForRange(conn->first, conn->last);
      PrepareStream(*conn, options);
      conn->last_request_time = detail::http_stream_object::clock::now();
      BeginOperation();
      auto self = shared_from_this();
      conn->stream->AsyncSendRequest(
          options, [self, index, conn, gen = generation_](const boost::system::error_code& e) {
            if (gen != self->generation_) return self->EndOperation();
            self->OnRangeRequested(index, conn, e);
          });
      return;
    }
    if (messageOver) {
      // The server ended this range's body early; the tick asks again for the rest.
      if (!FlushPending(*conn)) return;
      conn->last_error = make_error_code(boost::asio::error::eof);
      boost::system::error_code ignored;
      conn->stream->Close(ignored);
      return;
    }
  } else if (file_size_ >= 0 && conn->bytes_downloaded.load() == file_size_) {
    EndSingleConnection(FlushPending(*conn) ? boost::system::error_code() : conn->last_error);
    return;
  }
  IssueRead(index, conn);
}

void multi_download::EndSingleConnection(const boost::system::error_code& ec) {
  abort_ = true;
  const std::int64_t size = file_size_;
  complete_ = size >= 0 && (size == 0 || downloaded_.is_full());
  if (!complete_) SetEndingError(ec ? ec : make_error_code(boost::asio::error::eof));
  timer_.cancel();
}

}  // namespace kvhttp
