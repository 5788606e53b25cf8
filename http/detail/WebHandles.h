// The session, connection and request handles that the platform-backed clients keep open from
// one operation until the next. Private to http/.
#pragma once

#include <cstdint>
#include <string>

#include "platform/web/WebRequest.h"

namespace http_detail {

struct WebHandles {
  platform::WebHandle session = nullptr;
  platform::WebHandle connection = nullptr;
  platform::WebHandle request = nullptr;

  // Request, connection and session, each when open.
  void Close() {
    for (platform::WebHandle* h : {&request, &connection, &session}) {
      if (*h) platform::WebCloseHandle(*h);
      *h = nullptr;
    }
  }
};

// The status of the answered request; 0 when it cannot be read.
inline int QueryStatus(platform::WebHandle request) {
  int status = 0;
  return platform::WebQueryStatusCode(request, status) ? status : 0;
}

enum class BodyRead { kComplete, kFailed, kTooLarge };

// Reads the whole rest of the body in steps of `step` bytes, stopping as soon as it grows past
// `maxBytes`.
inline BodyRead ReadRest(platform::WebHandle request, std::string& out, std::size_t maxBytes,
                         std::size_t step = 4096) {
  std::string buf(step, '\0');
  for (;;) {
    std::size_t n = 0;
    if (!platform::WebReadData(request, buf.data(), buf.size(), n)) return BodyRead::kFailed;
    if (n == 0) return BodyRead::kComplete;
    if (n > maxBytes - out.size()) return BodyRead::kTooLarge;
    out.append(buf.data(), n);
  }
}

}  // namespace http_detail
