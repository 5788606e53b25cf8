#include <new>

#include "http/HttpBase.h"
#include "http/HttpSocket.h"
#include "http/WinHttp.h"
#include "http/WininetHttp.h"

bool CreateHttpClient(IHttpBase** out, HttpClientKind kind) {
  if (!out) return false;
  switch (kind) {
    case HttpClientSocket:
      *out = new (std::nothrow) CHttpSocket;
      return *out != nullptr;
    case HttpClientWinInet:
      *out = new (std::nothrow) CWininetHttp;
      return *out != nullptr;
    case HttpClientWinHttp:
      *out = new (std::nothrow) CWinHttp;
      return *out != nullptr;
  }
  *out = nullptr;
  return false;
}
