// One connection of the segmented downloader: its stream, read buffer and the byte range it is
// fetching. Shared by the connection list and the one operation in flight on it; its fields are
// used on the I/O thread only, apart from the atomic byte count, which progress queries read.
#pragma once

#include <array>
#include <atomic>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kvhttp/net/http_stream.h"

namespace kvhttp::detail {

struct http_stream_object {
  static constexpr std::size_t kBufferSize = 2048;
  // Received bytes are gathered up to this much before they go to the storage in one write.
  static constexpr std::size_t kWriteChunk = 64 * 1024;
  using clock = std::chrono::steady_clock;

  http_stream_object() = default;
  // The copy a reconnect puts in the list: same range and counters, no stream yet.
  http_stream_object(const http_stream_object& o)
      : first(o.first),
        last(o.last),
        bytes_transferred(o.bytes_transferred),
        bytes_downloaded(o.bytes_downloaded.load()),
        last_request_time(o.last_request_time),
        last_error(o.last_error),
        read_size(o.read_size),
        done(o.done),
        reconnect_now(o.reconnect_now) {}
  http_stream_object& operator=(const http_stream_object&) = delete;

  std::int64_t RangeLength() const { return last - first + 1; }
  bool RangeComplete() const { return bytes_transferred >= RangeLength(); }

  std::shared_ptr<http_stream> stream;
  std::array<char, kBufferSize> buffer{};
  std::vector<char> pending;                           // received, not yet written; not copied
  std::int64_t pending_offset = 0;                     // file offset of pending[0]
  std::int64_t first = 0;                              // inclusive
  std::int64_t last = -1;                              // inclusive
  std::int64_t bytes_transferred = 0;                  // for the current range
  std::atomic<std::int64_t> bytes_downloaded{0};       // on this connection in all
  std::optional<clock::time_point> last_request_time;  // unset: never times out
  boost::system::error_code last_error;
  std::size_t read_size = 0;  // bytes asked for by the read in flight
  bool done = false;
  bool reconnect_now = false;
};

}  // namespace kvhttp::detail
