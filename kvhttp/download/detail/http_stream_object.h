// One connection slot of the segmented downloader: its stream, read buffer, the byte range it
// has checked out of the book and where its response's body stands. Shared by the connection
// list and the one operation in flight on it. A failed attempt marks the object dead and puts a
// fresh copy in the list, so that a late handler of the old attempt drops what it carries. Its
// fields are used on the I/O thread only, apart from the atomic byte count.
#pragma once

#include <atomic>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kvhttp/net/http_stream.h"

namespace kvhttp::detail {

struct http_stream_object {
  // One socket read lands straight in this buffer (capped by the range and the rate budget).
  static constexpr std::size_t kBufferSize = 256 * 1024;
  using clock = std::chrono::steady_clock;

  enum class phase {
    idle,        // no range to fetch right now; the tick looks again
    waiting,     // failed; tries again at retry_at
    opening,     // connecting and asking for its range
    requesting,  // asking for its next range on the kept-alive connection
    reading,     // reading the body
    parked,      // reading, but this second's rate budget is spent
    done,        // given up, or nothing left to do for good
  };

  http_stream_object(int slotIndex) : slot(slotIndex) {}
  // The copy that takes a slot over after a failure: same slot and counters, no stream, no
  // range.
  http_stream_object(const http_stream_object& o)
      : slot(o.slot),
        bytes_downloaded(o.bytes_downloaded.load()),
        written_mark(o.written_mark),
        last_error(o.last_error) {}
  http_stream_object& operator=(const http_stream_object&) = delete;

  bool holds_range() const { return end > first; }
  bool alive() const { return current != phase::done; }

  const int slot;
  std::shared_ptr<http_stream> stream;
  std::vector<char> buffer;  // allocated on the first read
  // The range checked out of the book: [first, end).
  std::int64_t first = 0;
  std::int64_t end = 0;
  // File offset of the next body byte the response delivers; bytes before `first` are
  // skipped.
  std::int64_t position = 0;
  // File offset where the body ends (exclusive), -1 when only the connection's end tells.
  std::int64_t body_end = -1;
  // The body goes on past the range, so the range may grow along it.
  bool open_ended = false;
  std::atomic<std::int64_t> bytes_downloaded{0};  // body bytes received on this slot in all
  std::int64_t attempt_written = 0;               // bytes written in this attempt
  // The download's written bytes when this slot last failed: an attempt that writes only what
  // a restart from zero had erased is no progress.
  std::int64_t written_mark = 0;
  std::optional<clock::time_point> last_request_time;
  clock::time_point window_start{};  // stall watch: bytes received since window_start
  std::int64_t window_bytes = 0;
  clock::time_point retry_at{};
  std::unique_ptr<boost::asio::steady_timer> retry_timer;  // wakes a waiting slot at retry_at
  boost::system::error_code last_error;
  std::size_t read_size = 0;  // bytes asked for by the read in flight
  unsigned read_second = 0;   // the rate budget's second that paid for it
  phase current = phase::idle;
  bool dead = false;  // superseded by a fresh copy: whatever still arrives is dropped
};

}  // namespace kvhttp::detail
