#include "kvhttp/download/multi_download.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <cctype>
#include <filesystem>

#include "kvhttp/download/ResumeRecord.h"
#include "kvhttp/download/detail/ContentRange.h"
#include "kvhttp/download/detail/PathText.h"
#include "kvhttp/download/detail/UrlText.h"
#include "kvhttp/download/detail/http_stream_object.h"

namespace kvhttp {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Pieces double from 16 KiB until the file has at most about 2048 of them, up to 16 MiB.
std::int64_t AutomaticPieceSize(std::int64_t fileSize) {
  std::int64_t p = multi_download::kMinPieceSize;
  const std::int64_t n = fileSize / multi_download::kPiecesPerFile;
  while (p < n && p < multi_download::kMaxPieceSize) p *= 2;
  return p;
}

}  // namespace

multi_download::multi_download(boost::asio::io_context& io) : io_(io), timer_(io) {}

multi_download::~multi_download() {
  CloseFiles();
}

void multi_download::Start(const std::string& url, const DownloadSettings& settings,
                           boost::system::error_code& ec) {
  ec.clear();
  ++generation_;
  {
    std::lock_guard lock(connections_mutex_);
    connections_.clear();
  }
  file_size_ = -1;
  settings_ = settings;
  multi_ = false;
  keep_alive_ = false;
  complete_ = false;
  piece_size_ = 0;
  connection_count_ = 0;
  record_bitfield_.clear();
  allocated_.reset(0);
  downloaded_.reset(0);
  {
    std::lock_guard lock(error_mutex_);
    ending_error_.clear();
  }
  {
    std::lock_guard lock(name_mutex_);
    output_file_name_.clear();
  }
  final_url_ = ParseUrl(detail::EscapeUrlText(url), ec);
  if (ec) return;

  // The first connection asks for everything from byte 0; its answer tells whether ranges work.
  auto conn = std::make_shared<detail::http_stream_object>();
  conn->stream = std::make_shared<http_stream>(io_);
  RequestOptions first = settings_.request_options;
  first.replace("Range", "bytes=0-");
  first.replace("Connection", "keep-alive");
  conn->stream->SetRequestOptions(first);
  conn->stream->SetProxy(settings_.proxy);
  conn->stream->SetCheckCertificate(settings_.check_certificate);
  // A server that accepts and never answers must not hold the start forever.
  if (settings_.time_out > 0)
    conn->stream->SetOpenTimeout(std::chrono::seconds(settings_.time_out));
  conn->stream->Open(final_url_, ec);
  if (ec) {
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
    return;
  }
  if (!conn->stream->FinalLocation().empty()) {
    boost::system::error_code parseError;
    ParsedUrl moved = ParseUrl(conn->stream->FinalLocation(), parseError);
    if (!parseError) final_url_ = moved;
  }

  const RequestOptions& head = conn->stream->ResponseOptions();
  bool multi = head.find(kStatusCode) == "206" && !settings_.single_connection_only;
  bool responseServesStart = true;
  // For a 206 the total after "/" is the file's size; Content-Length is only this part of it.
  std::string lengthText;
  const std::string rangeText = head.find("Content-Range");
  detail::ContentRange range;
  bool totalUnknown = false;
  if (multi && detail::ParseContentRange(rangeText, range)) {
    responseServesStart = range.first == 0;
    if (range.total >= 0) lengthText = std::to_string(range.total);
    // "/*": this part's length says nothing about the file's.
    totalUnknown = range.total < 0;
  }
  if (lengthText.empty() && !totalUnknown) lengthText = head.find("Content-Length");
  if (lengthText.empty() && !totalUnknown)
    lengthText = std::string(detail::ContentRangeTotalText(rangeText));
  if (lengthText.empty()) {
    multi = false;
  } else {
    std::int64_t length = -1;
    if (!detail::ParseDecimal(lengthText, length)) {
      multi = false;
    } else if (length != file_size_) {
      file_size_ = length;
      allocated_.reset(length);
      downloaded_.reset(length);
    }
  }
  multi_ = multi;

  {
    std::lock_guard lock(name_mutex_);
    output_file_name_ = settings_.output_file;
  }
  bool recordLoaded = false;
  if (multi) {
    keep_alive_ = Lower(head.find("Connection")) == "keep-alive";
    if (settings_.resume_record_path.empty())
      settings_.resume_record_path = settings_.output_file + L".cfg";
    record_path_ = settings_.resume_record_path;
    TakeOverResumeRecord();
    recordLoaded = downloaded_.total() > 0;
  }

  storage_.reset(settings_.storage ? settings_.storage() : new default_storage());
  storage_->open(settings_.output_file, ec);
  if (ec) {
    storage_.reset();
    record_file_.close();
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
    return;
  }
  if (recordLoaded && !RecordMatchesStorage()) {
    DiscardResumeRecord();
    recordLoaded = false;
  }
  // Bytes no record vouches for are never kept: a partial file from another download could
  // otherwise survive into this one, or leave a tail behind a shorter file.
  storage_->truncate(recordLoaded ? std::max<std::int64_t>(file_size_, 0) : 0);
  if (!multi) {
    // A record left by an earlier run with ranges no longer describes the data file.
    record_path_ = settings_.resume_record_path.empty() ? settings_.output_file + L".cfg"
                                                        : settings_.resume_record_path;
    std::error_code ignored;
    std::filesystem::remove(detail::PathToNative(record_path_), ignored);
  }

  if (multi && downloaded_.is_full()) {
    complete_ = true;
    CloseFiles();
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
    return;
  }

  rate_budget_ = settings_.download_rate_limit;
  if (settings_.connection_limit == -1) settings_.connection_limit = kDefaultConnections;
  if (settings_.pieces_per_request <= 0) settings_.pieces_per_request = 1;
  if (settings_.time_out <= 0) settings_.time_out = DownloadSettings().time_out;
  if (settings_.piece_size <= 0 && file_size_ >= 0)
    settings_.piece_size = static_cast<std::int32_t>(AutomaticPieceSize(file_size_));
  if (multi) piece_size_ = settings_.piece_size;

  further_options_ = settings_.request_options;
  further_options_.replace("Connection", keep_alive_ ? "keep-alive" : "close");

  abort_ = false;
  complete_ = false;
  connection_count_ = 1;
  {
    std::lock_guard lock(connections_mutex_);
    connections_.push_back(conn);
  }
  StartFirstConnection(conn, responseServesStart, ec);
  if (ec) {
    abort_ = true;
    CloseFiles();
    return;
  }
  if (multi) StartFurtherConnections();
  ArmTimer({});
}

void multi_download::TakeOverResumeRecord() {
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
  // A record for another length describes another file; its pieces would corrupt this one.
  if (record.fileSize != file_size_ || record.pieceSize > INT32_MAX) {
    DiscardResumeRecord();
    return;
  }
  if (settings_.take_url_from_record && !record.finalUrl.empty()) {
    boost::system::error_code ec;
    ParsedUrl url = ParseUrl(record.finalUrl, ec);
    if (!ec) final_url_ = url;
  }
  settings_.piece_size = static_cast<std::int32_t>(record.pieceSize);
  BitfieldToRanges(record.bitfield, record.pieceSize, allocated_);
  BitfieldToRanges(record.bitfield, record.pieceSize, downloaded_);
  record_bitfield_ = record.bitfield.bytes();
}

bool multi_download::RecordMatchesStorage() {
  // The partial file must reach as far as the record claims; a record left beside a removed or
  // cut data file would otherwise finish a download with bytes that are not there.
  std::int64_t end = 0;
  for (const ByteRange& r : downloaded_.ranges()) end = std::max(end, r.end);
  if (end == 0) return true;
  char byte;
  return storage_->read(&byte, end - 1, 1) == 1;
}

void multi_download::DiscardResumeRecord() {
  record_file_.close();
  std::error_code ignored;
  std::filesystem::remove(detail::PathToNative(record_path_), ignored);
  allocated_.reset(file_size_ < 0 ? 0 : file_size_.load());
  downloaded_.reset(file_size_ < 0 ? 0 : file_size_.load());
  record_bitfield_.clear();
}

void multi_download::StartFirstConnection(const connection_ptr& conn, bool responseServesStart,
                                          boost::system::error_code& ec) {
  if (!multi_) {
    conn->first = 0;
    conn->last = file_size_ - 1;
    IssueRead(0, conn);
    return;
  }
  if (!AllocateRange(*conn)) {
    conn->done = true;
    return;
  }
  conn->last_request_time = detail::http_stream_object::clock::now();
  PrepareStream(*conn, OptionsForRange(conn->first, conn->last));
  if (conn->first == 0 && responseServesStart) {
    IssueRead(0, conn);
    return;
  }
  // The open-ended answer on the wire does not start where this connection must: drop it.
  conn->stream->Close(ec);
  if (ec) return;
  conn->stream = std::make_shared<http_stream>(io_);
  PrepareStream(*conn, OptionsForRange(conn->first, conn->last));
  AsyncOpen(0, conn);
}

void multi_download::StartFurtherConnections() {
  for (int i = 1; i < settings_.connection_limit; ++i) {
    auto conn = std::make_shared<detail::http_stream_object>();
    if (!AllocateRange(*conn)) break;  // nothing left to hand out
    conn->stream = std::make_shared<http_stream>(io_);
    PrepareStream(*conn, OptionsForRange(conn->first, conn->last));
    {
      std::lock_guard lock(connections_mutex_);
      connections_.push_back(conn);
    }
    conn->last_request_time = detail::http_stream_object::clock::now();
    ++connection_count_;
    AsyncOpen(i, conn);
  }
}

bool multi_download::AllocateRange(detail::http_stream_object& conn) {
  std::lock_guard lock(allocation_mutex_);
  std::optional<ByteRange> gap = allocated_.first_free_gap(0);
  if (!gap) return false;
  const std::int64_t request =
      std::int64_t{settings_.pieces_per_request} * std::max<std::int64_t>(settings_.piece_size, 1);
  std::int64_t end = gap->end - gap->start > request ? gap->start + request : gap->end;
  if (!allocated_.mark(gap->start, end)) return false;
  conn.first = gap->start;
  conn.last = end - 1;
  conn.bytes_transferred = 0;
  return conn.last >= conn.first;
}

RequestOptions multi_download::OptionsForRange(std::int64_t first, std::int64_t last) const {
  RequestOptions options = further_options_;
  options.replace("Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last));
  return options;
}

void multi_download::PrepareStream(detail::http_stream_object& conn,
                                   const RequestOptions& options) {
  conn.stream->SetProxy(settings_.proxy);
  conn.stream->SetRequestOptions(options);
  conn.stream->SetCheckCertificate(settings_.check_certificate);
  conn.stream->SetMaxRedirects(0);
}

void multi_download::Stop() {
  abort_ = true;
  // The timer belongs to the I/O thread; its cancel goes there.
  std::weak_ptr<multi_download> weak = weak_from_this();
  boost::asio::post(io_, [weak] {
    if (auto self = weak.lock()) self->timer_.cancel();
  });
  std::lock_guard lock(connections_mutex_);
  for (const connection_ptr& conn : connections_) {
    if (!conn->stream) continue;
    boost::system::error_code ignored;
    conn->stream->Close(ignored);
  }
}

void multi_download::CloseFiles() {
  record_file_.close();
  storage_.reset();
}

std::int64_t multi_download::BytesDownloaded() {
  if (file_size_ >= 0) return downloaded_.total();
  std::lock_guard lock(connections_mutex_);
  std::int64_t sum = 0;
  for (const connection_ptr& conn : connections_) sum += conn->bytes_downloaded.load();
  return sum;
}

std::wstring multi_download::OutputFileName() {
  std::lock_guard lock(name_mutex_);
  return output_file_name_;
}

boost::system::error_code multi_download::LastError() const {
  std::lock_guard lock(error_mutex_);
  return ending_error_;
}

void multi_download::SetEndingError(const boost::system::error_code& ec) {
  // The first cause is the one to report; what follows (closed streams) is its consequence.
  std::lock_guard lock(error_mutex_);
  if (!ending_error_) ending_error_ = ec;
}

}  // namespace kvhttp
