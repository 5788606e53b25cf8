#include "kvhttp/download/multi_download.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <filesystem>
#include <limits>

#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/download/detail/ContentRange.h"
#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/download/detail/ResponseWindow.h"
#include "kvhttp/download/detail/UrlText.h"
#include "kvhttp/download/detail/http_stream_object.h"

namespace kvhttp {

namespace {

constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();

// Pieces double from 16 KiB until the file has at most about 2048 of them, up to 16 MiB.
std::int64_t AutomaticPieceSize(std::int64_t fileSize) {
  std::int64_t p = multi_download::kMinPieceSize;
  const std::int64_t n = fileSize / multi_download::kPiecesPerFile;
  while (p < n && p < multi_download::kMaxPieceSize) p *= 2;
  return p;
}

boost::system::error_code NoSpace() {
  return make_error_code(boost::system::errc::no_space_on_device);
}

}  // namespace

multi_download::multi_download(boost::asio::io_context& io) : io_(io), timer_(io) {}

multi_download::~multi_download() {
  CloseFiles();
}

void multi_download::ResetRun(const DownloadSettings& settings) {
  ++generation_;
  stop_requested_ = false;
  {
    std::lock_guard lock(connections_mutex_);
    connections_.clear();
  }
  settings_ = settings;
  if (settings_.connection_limit == -1) settings_.connection_limit = kDefaultConnections;
  if (settings_.pieces_per_request <= 0) settings_.pieces_per_request = 1;
  if (settings_.time_out <= 0) settings_.time_out = DownloadSettings().time_out;
  file_size_ = -1;
  multi_ = false;
  piece_size_ = 0;
  request_size_ = 0;
  size_bound_ = -1;
  size_unconfirmed_ = false;
  validator_.clear();
  record_bitfield_.clear();
  book_.Reset(0);
  retry_.Reset(std::max(settings_.connection_limit, 1),
               std::chrono::milliseconds(std::max(settings_.first_retry_delay_ms, 1)));
  bytes_this_second_ = 0;
  speed_ = 0;
  speed_samples_.clear();
  outcome_ = download_outcome::running;
  {
    std::lock_guard lock(error_mutex_);
    ending_error_.clear();
  }
  last_cause_.clear();
  {
    std::lock_guard lock(name_mutex_);
    output_file_name_.clear();
  }
}

void multi_download::Start(const std::string& url, const DownloadSettings& settings,
                           boost::system::error_code& ec) {
  ec.clear();
  ResetRun(settings);
  final_url_ = ParseUrl(detail::EscapeUrlText(url), ec);
  if (ec) return;

  // The first connection asks for everything from byte 0; its answer tells whether ranges work.
  auto conn = std::make_shared<detail::http_stream_object>(0);
  conn->stream = std::make_shared<http_stream>(io_);
  RequestOptions first = settings_.request_options;
  first.replace("Range", "bytes=0-");
  first.replace("Connection", "keep-alive");
  conn->stream->SetRequestOptions(first);
  conn->stream->SetProxy(settings_.proxy);
  conn->stream->SetCheckCertificate(settings_.check_certificate);
  // A server that accepts and never answers must not hold the start forever.
  conn->stream->SetOpenTimeout(std::chrono::seconds(settings_.time_out));
  {
    // In the list from now on, so that a Stop from another thread can cut the open short.
    std::lock_guard lock(connections_mutex_);
    if (stop_requested_) {
      ec = boost::asio::error::operation_aborted;
      return;
    }
    connections_.push_back(conn);
  }
  auto fail = [&] {
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
    CloseFiles();
    std::lock_guard lock(connections_mutex_);
    connections_.clear();
  };
  conn->stream->Open(final_url_, ec);
  if (!ec && stop_requested_) ec = boost::asio::error::operation_aborted;
  if (ec) return fail();
  if (!conn->stream->FinalLocation().empty()) {
    boost::system::error_code parseError;
    ParsedUrl moved = ParseUrl(conn->stream->FinalLocation(), parseError);
    if (!parseError) final_url_ = moved;
  }
  TakeFirstResponse(conn, ec);
  if (ec) return fail();
  if (book_.IsComplete() && multi_) {
    // The record says every byte is on disk.
    outcome_ = download_outcome::complete;
    fail();
    return;
  }

  abort_ = false;
  detail::BodyWindow window;
  detail::ReadBodyWindow(conn->stream->StatusCode(), conn->stream->ResponseOptions(), window);
  if (!multi_) window.start = 0;
  StartFirstConnection(conn, window);
  if (multi_) StartFurtherConnections();
  ArmTimer({});
  // A Stop that came while the open ran is applied now that there is something to stop.
  if (stop_requested_) Stop();
}

void multi_download::TakeFirstResponse(const connection_ptr& conn, boost::system::error_code& ec) {
  const http_stream& s = *conn->stream;
  const RequestOptions& head = s.ResponseOptions();
  validator_ = detail::ResponseValidator(head);

  detail::BodyWindow window;
  bool multi = false;
  std::int64_t size = -1;
  if (s.StatusCode() == 206) {
    if (detail::ReadBodyWindow(206, head, window)) {
      size = window.total;
      multi = !settings_.single_connection_only;
    } else {
      // A part of unknown total ("bytes 0-9/*") says nothing about the file's size; a range
      // that starts elsewhere cannot be placed at all.
      detail::ContentRange range;
      if (!detail::ParseContentRange(head.find("Content-Range"), range) || range.first != 0) {
        ec = make_error_code(errc::wrong_range);
        return;
      }
    }
  } else if (detail::ReadBodyWindow(200, head, window)) {
    size = window.total;
  }
  if (!CheckSize(size, ec)) return;
  if (size < 0 && settings_.expected_size >= 0) {
    size = settings_.expected_size;
    size_unconfirmed_ = true;
  }
  multi_ = multi;
  file_size_ = size;
  book_.Reset(size);
  {
    std::lock_guard lock(name_mutex_);
    output_file_name_ = settings_.output_file;
  }
  record_path_ = settings_.resume_record_path.empty() ? settings_.output_file + L".cfg"
                                                      : settings_.resume_record_path;

  // What the partial file holds now is the most a record can save; anything beyond needs room.
  std::int64_t onDisk = 0;
  {
    std::error_code fsError;
    const auto n = std::filesystem::file_size(detail::PathToNative(settings_.output_file), fsError);
    if (!fsError) onDisk = static_cast<std::int64_t>(n);
  }
  if (size >= 0 && !CheckFreeSpace(size - std::min(size, onDisk), ec)) return;

  bool recordLoaded = false;
  if (multi) {
    TakeOverResumeRecord(validator_);
    recordLoaded = book_.WrittenBytes() > 0;
  }

  storage_.reset(settings_.storage ? settings_.storage() : new default_storage());
  storage_->open(settings_.output_file, ec);
  if (ec) {
    storage_.reset();
    record_file_.close();
    return;
  }
  if (recordLoaded && !RecordMatchesStorage()) {
    DiscardResumeRecord();
    recordLoaded = false;
  }
  // Bytes no record vouches for are never kept: a partial file from another download could
  // otherwise survive into this one, or leave a tail behind a shorter file.
  storage_->truncate(recordLoaded ? std::max<std::int64_t>(size, 0) : 0);
  if (!multi) {
    // A record left by an earlier run with ranges no longer describes the data file.
    std::error_code ignored;
    std::filesystem::remove(detail::PathToNative(record_path_), ignored);
  } else {
    record_file_.close();
    KeepRecord(record_bitfield_);
  }
  if (size < 0) {
    // A body without a length may fill what is free, no more.
    CheckFreeSpace(0, ec);
    ec.clear();
  }

  rate_budget_ = settings_.download_rate_limit;
  if (settings_.piece_size <= 0 && size >= 0)
    settings_.piece_size = static_cast<std::int32_t>(AutomaticPieceSize(size));
  if (multi) {
    piece_size_ = settings_.piece_size;
    request_size_ = std::int64_t{settings_.pieces_per_request} *
                    std::max<std::int64_t>(settings_.piece_size, 1);
  } else {
    request_size_ = kNoEnd;
  }
  further_options_ = settings_.request_options;
  // HTTP/1.1 keeps connections unless a server says otherwise; each answer tells.
  further_options_.replace("Connection", "keep-alive");
}

bool multi_download::CheckSize(std::int64_t size, boost::system::error_code& ec) const {
  if (size >= 0 && settings_.expected_size >= 0 && size != settings_.expected_size) {
    ec = make_error_code(errc::size_mismatch);
    return false;
  }
  return true;
}

bool multi_download::CheckFreeSpace(std::int64_t needed, boost::system::error_code& ec) {
  std::filesystem::path dir =
      std::filesystem::path(detail::PathToNative(settings_.output_file)).parent_path();
  if (dir.empty()) dir = ".";
  struct statvfs st {};
  if (::statvfs(dir.c_str(), &st) != 0) return true;  // cannot tell: the writes will
  const long double avail = static_cast<long double>(st.f_bavail) * st.f_frsize;
  const std::int64_t free =
      avail >= static_cast<long double>(kNoEnd) ? kNoEnd : static_cast<std::int64_t>(avail);
  size_bound_ = settings_.expected_size >= 0 ? settings_.expected_size : free;
  if (needed > free) {
    ec = NoSpace();
    return false;
  }
  return true;
}

void multi_download::TakeOverResumeRecord(const std::string& validator) {
  ResumeRecordContent record;
  switch (ReadResumeRecordInto(record_file_, record_path_, record)) {
    case ResumeRecordRead::kEmpty:
      return;
    case ResumeRecordRead::kUnreadable:
      DiscardResumeRecord();
      return;
    case ResumeRecordRead::kLoaded:
      break;
  }
  // A record for another length, another version or another address describes another file;
  // its pieces would corrupt this one. A record without a validator only fits a server that
  // gives none.
  const bool sameUrl =
      settings_.take_url_from_record || record.finalUrl == UrlToString(final_url_, url_full);
  if (record.fileSize != FileSize() || record.pieceSize > INT32_MAX ||
      record.validator != validator || !sameUrl) {
    DiscardResumeRecord();
    return;
  }
  if (settings_.take_url_from_record && !record.finalUrl.empty()) {
    boost::system::error_code ec;
    ParsedUrl url = ParseUrl(record.finalUrl, ec);
    if (!ec) final_url_ = url;
  }
  settings_.piece_size = static_cast<std::int32_t>(record.pieceSize);
  RangeSet ranges(record.fileSize);
  BitfieldToRanges(record.bitfield, record.pieceSize, ranges);
  book_.LoadWritten(ranges.ranges());
  record_bitfield_ = record.bitfield.bytes();
}

bool multi_download::RecordMatchesStorage() {
  // The partial file must reach as far as the record claims; a record left beside a removed or
  // cut data file would otherwise finish a download with bytes that are not there.
  std::int64_t end = 0;
  for (const ByteRange& r : book_.WrittenRanges()) end = std::max(end, r.end);
  if (end == 0) return true;
  char byte;
  return storage_->read(&byte, end - 1, 1) == 1;
}

void multi_download::KeepRecord(const std::string& lastWritten) {
  std::function<bool()> sync;
  keeper_may_outlive_ = false;
  const int handle = storage_->sync_handle();
  // Read-only: the finished file may be started as a program at once, and a writable
  // descriptor still open in the record thread would make that fail (ETXTBSY).
  const int own = handle >= 0 ? ::open(("/proc/self/fd/" + std::to_string(handle)).c_str(),
                                       O_RDONLY | O_CLOEXEC)
                              : -1;
  if (own >= 0) {
    // The record thread syncs through a descriptor of its own, so that a finished download
    // need not wait for a sync that is under way.
    auto fd = std::shared_ptr<int>(new int(own), [](int* p) {
      ::close(*p);
      delete p;
    });
    sync = [fd] { return ::fdatasync(*fd) == 0; };
    keeper_may_outlive_ = true;
  } else {
    storage_interface* storage = storage_.get();
    sync = [storage] { return storage->sync(); };
  }
  keeper_.Begin(record_path_, std::move(sync), lastWritten);
  submitted_written_ = book_.WrittenBytes();
}

void multi_download::DiscardResumeRecord() {
  keeper_.Discard();
  record_file_.close();
  std::error_code ignored;
  std::filesystem::remove(detail::PathToNative(record_path_), ignored);
  book_.Reset(FileSize());
  record_bitfield_.clear();
}

void multi_download::StartFirstConnection(const connection_ptr& conn,
                                          const detail::BodyWindow& window) {
  std::optional<ByteRange> range = book_.CheckOut(request_size_);
  if (!range) {
    conn->current = detail::http_stream_object::phase::idle;
    return;
  }
  conn->first = range->start;
  conn->end = range->end;
  if (range->start != window.start) {
    // The open-ended answer on the wire does not start where this connection must: drop it.
    book_.Return(*range);
    Launch(Renew(conn)->slot);
    return;
  }
  conn->position = window.start;
  conn->body_end = window.end;
  conn->open_ended = window.end < 0 || window.end > conn->end;
  conn->current = detail::http_stream_object::phase::reading;
  conn->window_start = clock::now();
  IssueRead(conn);
}

void multi_download::StartFurtherConnections() {
  for (int i = 1; i < settings_.connection_limit; ++i) {
    {
      std::lock_guard lock(connections_mutex_);
      connections_.push_back(std::make_shared<detail::http_stream_object>(i));
    }
    Launch(static_cast<std::size_t>(i));
  }
}

RequestOptions multi_download::OptionsForRange(std::int64_t first, std::int64_t end) const {
  RequestOptions options = further_options_;
  options.replace("Range", end == kNoEnd || !multi_
                               ? "bytes=" + std::to_string(first) + "-"
                               : "bytes=" + std::to_string(first) + "-" + std::to_string(end - 1));
  // Ties the answer to the version the bytes so far came from: a changed file answers 200.
  if (!validator_.empty()) options.replace("If-Range", validator_);
  return options;
}

void multi_download::PrepareStream(detail::http_stream_object& conn,
                                   const RequestOptions& options) {
  conn.stream->SetProxy(settings_.proxy);
  conn.stream->SetRequestOptions(options);
  conn.stream->SetCheckCertificate(settings_.check_certificate);
  conn.stream->SetMaxRedirects(0);
  conn.stream->SetOpenTimeout(std::chrono::seconds(settings_.time_out));
}

void multi_download::Stop() {
  stop_requested_ = true;
  abort_ = true;
  download_outcome running = download_outcome::running;
  outcome_.compare_exchange_strong(running, download_outcome::stopped);
  // The timer belongs to the I/O thread; its cancel goes there.
  std::weak_ptr<multi_download> weak = weak_from_this();
  boost::asio::post(io_, [weak] {
    if (auto self = weak.lock()) {
      self->timer_.cancel();
      self->CancelRetryTimers();
    }
  });
  std::lock_guard lock(connections_mutex_);
  for (const connection_ptr& conn : connections_) {
    if (!conn->stream) continue;
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
  }
}

void multi_download::End(download_outcome outcome, const boost::system::error_code& ec) {
  abort_ = true;
  download_outcome running = download_outcome::running;
  if (!outcome_.compare_exchange_strong(running, outcome)) return;
  if (outcome != download_outcome::complete && ec) {
    std::lock_guard lock(error_mutex_);
    if (!ending_error_) ending_error_ = ec;
  }
  timer_.cancel();
  CancelRetryTimers();
  std::lock_guard lock(connections_mutex_);
  for (const connection_ptr& conn : connections_) {
    if (!conn->stream) continue;
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
  }
}

void multi_download::CloseFiles() {
  // A download that ends without all bytes keeps a record of what it got. A finished one
  // needs none (the file is moved into place next) and does not wait for the device.
  if (!IsComplete())
    keeper_.Finish();
  else if (keeper_may_outlive_)
    keeper_.Abandon();
  else
    keeper_.Discard();
  record_file_.close();
  storage_.reset();
}

std::wstring multi_download::OutputFileName() {
  std::lock_guard lock(name_mutex_);
  return output_file_name_;
}

boost::system::error_code multi_download::LastError() const {
  std::lock_guard lock(error_mutex_);
  return ending_error_;
}

}  // namespace kvhttp
