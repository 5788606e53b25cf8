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

// Reads the whole rest of the body in steps of `step` bytes; false when a read failed.
inline bool ReadRest(platform::WebHandle request, std::string& out, std::size_t step = 4096) {
  std::string buf(step, '\0');
  for (;;) {
    std::size_t n = 0;
    if (!platform::WebReadData(request, buf.data(), buf.size(), n)) return false;
    if (n == 0) return true;
    out.append(buf.data(), n);
  }
}

}  // namespace http_detail
