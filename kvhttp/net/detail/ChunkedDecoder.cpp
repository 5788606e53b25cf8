#include "kvhttp/net/detail/ChunkedDecoder.h"

#include <algorithm>
#include <cstring>

#include "kvhttp/net/Error.h"

namespace kvhttp::detail {
namespace {

// A size line or trailer line longer than this is not framing any server would send.
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxTrailer = 64 * 1024;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void ChunkedDecoder::reset() {
  state_ = state::size_line;
  chunk_left_ = 0;
  trailer_bytes_ = 0;
  line_.clear();
}

void ChunkedDecoder::Fail(boost::system::error_code& ec) {
  // Framing errors stick: bytes produced before the fault are still delivered by the caller,
  // the error comes with the next call.
  state_ = state::failed;
  ec = make_error_code(errc::invalid_chunked_encoding);
}

void ChunkedDecoder::decode(const char* in, std::size_t size, char* out, std::size_t capacity,
                            std::size_t& consumed, std::size_t& produced,
                            boost::system::error_code& ec) {
  consumed = 0;
  produced = 0;
  ec.clear();
  if (state_ == state::failed) {
    ec = make_error_code(errc::invalid_chunked_encoding);
    return;
  }
  while (consumed < size && state_ != state::done) {
    switch (state_) {
      case state::size_line:
      case state::trailer: {
        const char* start = in + consumed;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', size - consumed));
        const std::size_t take = nl ? static_cast<std::size_t>(nl - start) + 1 : size - consumed;
        line_.append(start, take);
        consumed += take;
        if (state_ == state::trailer) trailer_bytes_ += take;
        if (line_.size() > kMaxLine || trailer_bytes_ > kMaxTrailer) {
          return Fail(ec);
        }
        if (!nl) break;
        if (line_.size() < 2 || line_[line_.size() - 2] != '\r') {
          return Fail(ec);
        }
        if (state_ == state::trailer) {
          if (line_.size() == 2) state_ = state::done;  // the empty line ends the trailer
          line_.clear();
          break;
        }
        // The leading hexadecimal number; extensions after it are ignored.
        std::int64_t value = 0;
        std::size_t i = 0;
        for (; i < line_.size() && HexValue(line_[i]) >= 0; ++i) {
          if (value > (INT64_MAX >> 4)) {
            return Fail(ec);
          }
          value = value * 16 + HexValue(line_[i]);
        }
        if (i == 0) {
          return Fail(ec);
        }
        line_.clear();
        chunk_left_ = value;
        state_ = value == 0 ? state::trailer : state::data;
        break;
      }
      case state::data: {
        const std::size_t room = std::min(size - consumed, capacity - produced);
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::int64_t>(chunk_left_, static_cast<std::int64_t>(room)));
        if (n == 0) return;  // the caller's buffer is full
        std::memcpy(out + produced, in + consumed, n);
        consumed += n;
        produced += n;
        chunk_left_ -= static_cast<std::int64_t>(n);
        if (chunk_left_ == 0) state_ = state::data_end;
        break;
      }
      case state::data_end: {
        // The CR LF after the data, possibly split across reads.
        line_ += in[consumed++];
        if (line_.size() == 2) {
          if (line_ != "\r\n") {
            return Fail(ec);
          }
          line_.clear();
          state_ = state::size_line;
        } else if (line_ != "\r") {
          return Fail(ec);
        }
        break;
      }
      case state::done:
      case state::failed:
        break;
    }
  }
}

}  // namespace kvhttp::detail
