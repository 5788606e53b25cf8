// Fetches one HTTP(S) resource into one file. When the server honours ranges and states the
// length, the file is split into ranges fetched over several connections, and a resume record
// beside the file lists the pieces on disk so that a later start fetches only what is missing;
// otherwise one connection reads the body to its end. All work runs on one I/O service; a
// one-second tick supervises the connections, the speed, the rate budget and the record.
//
// Always held by shared pointer (handlers keep it alive). Start on the thread that will run the
// I/O service, before running it; Stop and the counters from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kvhttp/download/PositionedFile.h"
#include "kvhttp/download/RangeSet.h"
#include "kvhttp/download/storage.h"
#include "kvhttp/net/ParsedUrl.h"
#include "kvhttp/net/Settings.h"

namespace kvhttp {

namespace detail {
struct http_stream_object;
}

class multi_download : public std::enable_shared_from_this<multi_download> {
 public:
  using completion = std::function<void(const boost::system::error_code&)>;
  using connection_ptr = std::shared_ptr<detail::http_stream_object>;

  static constexpr std::int64_t kMinPieceSize = 16384;
  static constexpr std::int64_t kMaxPieceSize = 16777216;
  static constexpr std::int64_t kPiecesPerFile = 2048;
  static constexpr int kDefaultConnections = 5;

  explicit multi_download(boost::asio::io_context& io);
  ~multi_download();
  multi_download(const multi_download&) = delete;
  multi_download& operator=(const multi_download&) = delete;

  // Opens the first connection synchronously (bounded by the settings' time-out), decides
  // between ranges and one connection, takes over the resume record, opens the output file and
  // queues the work; returns at once with everything queued on the I/O service. Errors of the
  // first open (resolve, connect, TLS, an HTTP status that is no success, the time-out) and of
  // opening the output file come back in `ec`. Nothing is queued when the record says the file
  // is already complete.
  void Start(const std::string& url, const DownloadSettings& settings,
             boost::system::error_code& ec);
  // Ends the download: every connection is closed and the next tick closes the files. Any
  // thread.
  void Stop();
  // Closes the resume record and the output file. The I/O thread, or any thread once the I/O
  // service has stopped.
  void CloseFiles();

  // Total size, -1 while unknown. Any thread.
  std::int64_t FileSize() const { return file_size_.load(); }
  // Bytes on disk (of the whole file when the size is known). Any thread.
  std::int64_t BytesDownloaded();
  // Smoothed bytes per second. Any thread.
  int Speed() const { return speed_.load(); }
  // The settings' output file. Any thread.
  std::wstring OutputFileName();
  // True once the download ended with every byte on disk. Any thread.
  bool IsComplete() const { return complete_.load(); }
  // The error that ended the download without all bytes (empty otherwise). Any thread.
  boost::system::error_code LastError() const;
  // Asynchronous operations in flight (opens, requests, reads, the tick). Any thread.
  int OutstandingOperations() const { return outstanding_.load(); }
  // The piece size in use (after the automatic choice); 0 before a multi-connection start.
  std::int64_t PieceSize() const { return piece_size_.load(); }
  // Whether the last start chose several connections. Any thread.
  bool IsMultiConnection() const { return multi_.load(); }

 private:
  // Start, split up (multi_download.cpp).
  void TakeOverResumeRecord();
  bool RecordMatchesStorage();
  void DiscardResumeRecord();
  void StartFirstConnection(const connection_ptr& conn, bool responseServesStart,
                            boost::system::error_code& ec);
  void StartFurtherConnections();
  bool AllocateRange(detail::http_stream_object& conn);
  RequestOptions OptionsForRange(std::int64_t first, std::int64_t last) const;
  void PrepareStream(detail::http_stream_object& conn, const RequestOptions& options);
  void SetEndingError(const boost::system::error_code& ec);

  // Connection handlers (multi_download_io.cpp).
  void IssueRead(int index, const connection_ptr& conn);
  void AsyncOpen(int index, const connection_ptr& conn);
  void OnConnectionOpened(int index, connection_ptr conn, const boost::system::error_code& ec);
  void OnRangeRequested(int index, connection_ptr conn, const boost::system::error_code& ec);
  void OnResponseHead(int index, const connection_ptr& conn, const boost::system::error_code& ec);
  void OnDataRead(int index, connection_ptr conn, std::size_t bytes,
                  const boost::system::error_code& ec);
  bool CheckRangeResponse(const detail::http_stream_object& conn,
                          boost::system::error_code& ec) const;
  bool StoreBytes(detail::http_stream_object& conn, std::size_t bytes);
  bool FlushPending(detail::http_stream_object& conn);
  void FlushAllLocked();
  void EndSingleConnection(const boost::system::error_code& ec);

  // Supervision (multi_download_tick.cpp).
  void ArmTimer(completion done);
  void OnTimerTick(completion done, const boost::system::error_code& ec);
  void SuperviseConnections();
  void ReconnectLocked(std::size_t i);
  void WriteResumeRecord();
  void FinishTick(completion& done, const boost::system::error_code& ec);

  void BeginOperation() { ++outstanding_; }
  void EndOperation() { --outstanding_; }

  boost::asio::io_context& io_;
  std::vector<connection_ptr> connections_;
  std::mutex connections_mutex_;
  ParsedUrl final_url_;
  std::atomic<bool> multi_{false};
  bool keep_alive_ = false;
  std::atomic<std::int64_t> file_size_{-1};
  std::mutex name_mutex_;
  std::wstring output_file_name_;  // guarded by name_mutex_
  DownloadSettings settings_;
  std::atomic<std::int64_t> piece_size_{0};
  boost::asio::steady_timer timer_;
  std::atomic<int> bytes_this_second_{0};
  std::atomic<int> speed_{0};
  int connection_count_ = 0;
  std::unique_ptr<storage_interface> storage_;
  PositionedFile record_file_;
  std::wstring record_path_;
  std::string record_bitfield_;  // the bitfield last written, to sync only when it grows
  RangeSet allocated_;
  RangeSet downloaded_;
  std::mutex allocation_mutex_;
  int rate_budget_ = -1;
  RequestOptions further_options_;
  std::atomic<int> outstanding_{0};
  // Each start opens a new generation; handlers of an earlier run that complete late see that
  // they are stale and do nothing. I/O thread only.
  unsigned generation_ = 0;
  std::atomic<bool> abort_{true};
  std::atomic<bool> complete_{false};
  mutable std::mutex error_mutex_;
  boost::system::error_code ending_error_;  // guarded by error_mutex_
};

}  // namespace kvhttp
