// Undoes chunked transfer coding incrementally, without a socket (so it can be fuzzed).
#pragma once

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvhttp::detail {

class ChunkedDecoder {
 public:
  void reset();
  // Consumes framing and data from [in, in+size) and copies at most `capacity` body bytes to
  // `out`. Sets `consumed` and `produced`. Stops when the input is used up, the output is
  // full or the body ended. Framing errors: errc::invalid_chunked_encoding.
  void decode(const char* in, std::size_t size, char* out, std::size_t capacity,
              std::size_t& consumed, std::size_t& produced, boost::system::error_code& ec);
  // The last chunk and its trailer have been read.
  bool done() const { return state_ == state::done; }
  // The zero-size chunk line has been read (the trailer may still follow).
  bool last_chunk_seen() const { return state_ == state::trailer || state_ == state::done; }
  std::int64_t chunk_left() const { return chunk_left_; }

 private:
  enum class state { size_line, data, data_end, trailer, done, failed };
  void Fail(boost::system::error_code& ec);

  state state_ = state::size_line;
  std::int64_t chunk_left_ = 0;
  std::size_t trailer_bytes_ = 0;
  std::string line_;  // partial line being collected
};

}  // namespace kvhttp::detail
