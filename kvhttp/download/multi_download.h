// Fetches one HTTP(S) resource into one file. When the server honours ranges and states the
// length, the file is split into ranges fetched over several connections, and a resume record
// beside the file lists the pieces on disk so that a later start fetches only what is missing;
// otherwise one connection reads the body from its start. All work runs on one I/O service; a
// one-second tick supervises the connections, the speed, the rate budget and the record.
//
// Every range request carries the validator (ETag or Last-Modified) of the first answer in
// If-Range, so that bytes of two versions of the file never meet: a changed file starts the
// download again from nothing, once per run. Failures are retried with growing pauses and end
// the download with their cause once a connection gets nowhere (detail::RetryPolicy).
//
// Always held by shared pointer (handlers keep it alive). Start on the thread that will run the
// I/O service, before running it; Stop and the counters from any thread.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kvhttp/download/PositionedFile.h"
#include "kvhttp/download/detail/RecordKeeper.h"
#include "kvhttp/download/detail/RetryPolicy.h"
#include "kvhttp/download/detail/SegmentBook.h"
#include "kvhttp/download/storage.h"
#include "kvhttp/net/ParsedUrl.h"
#include "kvhttp/net/Settings.h"

namespace kvhttp {

namespace detail {
struct http_stream_object;
struct BodyWindow;
}  // namespace detail

// How a download ended.
enum class download_outcome {
  running,     // not ended (or not started)
  complete,    // every byte is on the storage
  stopped,     // Stop ended it
  incomplete,  // it ended on its own without all bytes and without a fault to name (a body
               // without length ended; every connection was refused with 403, 404 or 405)
  failed,      // it ended on an error: LastError() names it
};

class multi_download : public std::enable_shared_from_this<multi_download> {
 public:
  using completion = std::function<void(const boost::system::error_code&)>;
  using connection_ptr = std::shared_ptr<detail::http_stream_object>;

  static constexpr std::int64_t kMinPieceSize = 16384;
  static constexpr std::int64_t kMaxPieceSize = 16777216;
  static constexpr std::int64_t kPiecesPerFile = 2048;
  static constexpr int kDefaultConnections = 5;
  // A connection that receives less than this per second over its time-out counts as stalled.
  static constexpr std::int64_t kMinBytesPerSecond = 1024;
  // Besides every tick, the record is brought up to date after this many new bytes.
  static constexpr std::int64_t kRecordEveryBytes = 16 * 1024 * 1024;

  explicit multi_download(boost::asio::io_context& io);
  ~multi_download();
  multi_download(const multi_download&) = delete;
  multi_download& operator=(const multi_download&) = delete;

  // Opens the first connection synchronously (bounded by the settings' time-out), decides
  // between ranges and one connection, checks the size against the expected size and the free
  // space, takes over the resume record, opens the output file and queues the work; returns
  // at once with everything queued on the I/O service. Errors of the first open (resolve,
  // connect, TLS, an HTTP status that is no success, a refused redirect, the time-out), of the
  // size checks (errc::size_mismatch, no_space_on_device) and of opening the output file come
  // back in `ec`; a Stop during the open gives operation_aborted. Nothing is queued when the
  // record says the file is already complete.
  void Start(const std::string& url, const DownloadSettings& settings,
             boost::system::error_code& ec);
  // Ends the download: every connection is closed and the next tick closes the files. Any
  // thread; also during Start, whose open then ends at once.
  void Stop();
  // Closes the resume record and the output file. The I/O thread, or any thread once the I/O
  // service has stopped.
  void CloseFiles();

  // Total size, -1 while unknown. Any thread.
  std::int64_t FileSize() const { return file_size_.load(); }
  // Bytes written to the storage. Any thread.
  std::int64_t BytesDownloaded() const { return book_.WrittenBytes(); }
  // Bytes per second over the last two seconds or so. Any thread.
  int Speed() const { return speed_.load(); }
  // The settings' output file. Any thread.
  std::wstring OutputFileName();
  // True once the download ended with every byte on disk. Any thread.
  bool IsComplete() const { return outcome_.load() == download_outcome::complete; }
  download_outcome Outcome() const { return outcome_.load(); }
  // The error that ended the download without all bytes (empty otherwise). Any thread.
  boost::system::error_code LastError() const;
  // Asynchronous operations in flight (opens, requests, reads, the tick). Any thread.
  int OutstandingOperations() const { return outstanding_.load(); }
  // The piece size in use (after the automatic choice); 0 before a multi-connection start.
  std::int64_t PieceSize() const { return piece_size_.load(); }
  // Whether the last start chose several connections. Any thread.
  bool IsMultiConnection() const { return multi_.load(); }

 private:
  using clock = std::chrono::steady_clock;
  enum class answer { use, use_from_zero, wrong, changed };

  // Start, split up (multi_download.cpp).
  void ResetRun(const DownloadSettings& settings);
  void TakeFirstResponse(const connection_ptr& conn, boost::system::error_code& ec);
  bool CheckSize(std::int64_t size, boost::system::error_code& ec) const;
  bool CheckFreeSpace(std::int64_t needed, boost::system::error_code& ec);
  void TakeOverResumeRecord(const std::string& validator);
  bool RecordMatchesStorage();
  void DiscardResumeRecord();
  void StartFirstConnection(const connection_ptr& conn, const detail::BodyWindow& window);
  void StartFurtherConnections();
  RequestOptions OptionsForRange(std::int64_t first, std::int64_t end) const;
  void PrepareStream(detail::http_stream_object& conn, const RequestOptions& options);
  void End(download_outcome outcome, const boost::system::error_code& ec);

  // Connection work (multi_download_io.cpp).
  void Launch(std::size_t slot);
  void RequestNext(const connection_ptr& conn);
  void IssueRead(const connection_ptr& conn);
  void OnResponse(const connection_ptr& conn, const boost::system::error_code& ec);
  answer JudgeResponse(detail::http_stream_object& conn, detail::BodyWindow& window);
  bool UseBody(const connection_ptr& conn, const detail::BodyWindow& window);
  void OnDataRead(const connection_ptr& conn, std::size_t bytes,
                  const boost::system::error_code& ec);
  bool ConsumeBody(const connection_ptr& conn, const char* data, std::size_t size, bool& leftover);
  bool ExtendRange(detail::http_stream_object& conn);
  void AfterRange(const connection_ptr& conn);
  void OnBodyEnd(const connection_ptr& conn);
  void Fail(const connection_ptr& conn, const boost::system::error_code& ec,
            detail::RetryPolicy::failure kind);
  void RestartChanged(const connection_ptr& conn, const detail::BodyWindow& window);
  connection_ptr Renew(const connection_ptr& conn);
  void WakeAt(const connection_ptr& conn);
  void CancelRetryTimers();
  void CheckAllDone();
  bool CanSkip() const;

  // Supervision (multi_download_tick.cpp).
  void ArmTimer(completion done);
  void OnTimerTick(completion done, const boost::system::error_code& ec);
  void Supervise();
  void UpdateSpeed();
  std::int64_t MinimumRate() const;
  void WriteResumeRecord();
  void KeepRecord(const std::string& lastWritten);
  void FinishTick(completion& done, const boost::system::error_code& ec);

  void BeginOperation() { ++outstanding_; }
  void EndOperation() { --outstanding_; }

  boost::asio::io_context& io_;
  std::vector<connection_ptr> connections_;  // one entry per slot; guarded by the mutex
  std::mutex connections_mutex_;
  ParsedUrl final_url_;
  std::atomic<bool> multi_{false};
  std::atomic<std::int64_t> file_size_{-1};
  std::mutex name_mutex_;
  std::wstring output_file_name_;  // guarded by name_mutex_
  DownloadSettings settings_;
  std::atomic<std::int64_t> piece_size_{0};
  std::int64_t request_size_ = 0;  // longest range handed to one request
  // A body without a length may not grow past this (expected size, else free space).
  std::int64_t size_bound_ = -1;
  // The size came from the caller, not the server: the body must end exactly there.
  bool size_unconfirmed_ = false;
  std::string validator_;
  boost::asio::steady_timer timer_;
  std::atomic<std::int64_t> bytes_this_second_{0};
  std::atomic<int> speed_{0};
  std::deque<std::pair<clock::time_point, std::int64_t>> speed_samples_;
  clock::time_point speed_since_;
  std::unique_ptr<storage_interface> storage_;
  PositionedFile record_file_;  // the record as read at start
  std::wstring record_path_;
  std::string record_bitfield_;         // the bitfield of the record found at start
  detail::RecordKeeper keeper_;         // writes the record from here on
  bool keeper_may_outlive_ = false;    // its sync owns its descriptor
  std::int64_t submitted_written_ = 0;  // written bytes at the last snapshot handed over
  detail::SegmentBook book_;
  detail::RetryPolicy retry_;
  std::int64_t rate_budget_ = -1;
  unsigned budget_second_ = 0;  // counts ticks: a read's unused budget goes back in its second
  RequestOptions further_options_;
  std::atomic<int> outstanding_{0};
  // Each start opens a new generation; handlers of an earlier run that complete late see that
  // they are stale and do nothing. I/O thread only.
  unsigned generation_ = 0;
  std::atomic<bool> abort_{true};
  std::atomic<bool> stop_requested_{false};
  std::atomic<download_outcome> outcome_{download_outcome::running};
  mutable std::mutex error_mutex_;
  boost::system::error_code ending_error_;  // guarded by error_mutex_
  boost::system::error_code last_cause_;    // the latest failure of any connection
};

}  // namespace kvhttp
