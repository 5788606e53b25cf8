// Synchronous web requests with the handle model of the Windows internet APIs: a session, a
// connection to one host and port, and requests on it that are sent, answered and read in
// pieces. Redirects are followed (at most kWebMaxRedirects), chunked bodies are decoded and
// certificates are verified unless the request's security flags say to ignore them. Failures
// return false (or null) and leave a code of the 12000 range for WebGetLastError.
//
// Threads: any thread may create handles; one handle (and the requests of one connection) is
// used by one thread at a time. The last error is per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct WebObject;
using WebHandle = WebObject*;

// Error codes with the values the Windows internet APIs use.
enum WebError : std::uint32_t {
  kWebErrNone = 0,
  kWebErrInvalidHandle = 6,
  kWebErrInvalidParameter = 87,
  kWebErrOutOfHandles = 12001,
  kWebErrTimeout = 12002,
  kWebErrInternal = 12004,
  kWebErrInvalidUrl = 12005,
  kWebErrUnrecognizedScheme = 12006,
  kWebErrNameNotResolved = 12007,
  kWebErrInvalidOption = 12009,
  kWebErrOperationCancelled = 12017,
  kWebErrIncorrectHandleType = 12018,
  kWebErrIncorrectHandleState = 12019,
  kWebErrCannotConnect = 12029,
  kWebErrConnectionError = 12030,
  kWebErrHeaderNotFound = 12150,
  kWebErrInvalidServerResponse = 12152,
  kWebErrRedirectFailed = 12156,
  kWebErrSecureFailure = 12175,
};

// At most this many redirects are followed; one more fails the request with
// kWebErrRedirectFailed.
inline constexpr int kWebMaxRedirects = 10;

enum class WebAccess { DefaultProxy, NoProxy };

// Request flags (values as on Windows).
inline constexpr std::uint32_t kWebFlagBypassProxyCache = 0x00000100;
inline constexpr std::uint32_t kWebFlagSecure = 0x00800000;

// Security flags of kWebOptionSecurityFlags.
inline constexpr std::uint32_t kWebIgnoreUnknownCa = 0x00000100;
inline constexpr std::uint32_t kWebIgnoreCertDateInvalid = 0x00002000;
inline constexpr std::uint32_t kWebIgnoreCertCnInvalid = 0x00001000;
inline constexpr std::uint32_t kWebIgnoreCertWrongUsage = 0x00000200;

enum WebOption : std::uint32_t {
  kWebOptionSecurityFlags = 31,   // request handle
  kWebOptionRedirectPolicy = 88,  // session or request handle
};

enum WebRedirectPolicy : std::uint32_t {
  kWebRedirectNever = 0,
  kWebRedirectDisallowHttpsToHttp = 1,  // the default
  kWebRedirectAlways = 2,
};

// Opens a session. An empty agent sends no "User-Agent" unless a header line sets one.
// DefaultProxy sends each request (and each redirect) through the desktop's proxy for its
// address, SystemProxyFor (platform/web/SystemProxy.h); NoProxy connects directly.
WebHandle WebOpen(const std::wstring& agent, WebAccess access);

// Resolve, connect, send and receive limits in milliseconds for requests opened afterwards on
// this session or for this request; 0 or a negative value means no limit. Defaults: none,
// 60000, 30000, 30000. Name resolution counts against the connect limit; the larger of the
// send and receive limits bounds every later wait for the server.
bool WebSetTimeouts(WebHandle sessionOrRequest, int resolveMs, int connectMs, int sendMs,
                    int receiveMs);

// Security flags on a request; the redirect policy on a session (for connections made
// afterwards) or a request. Another option fails with kWebErrInvalidOption.
bool WebSetOption(WebHandle handle, WebOption option, std::uint32_t value);

// Names the server. Nothing goes over the network before WebSendRequest. An empty host fails
// with kWebErrInvalidUrl.
WebHandle WebConnect(WebHandle session, const std::wstring& host, std::uint16_t port);

// A request for `path` (a leading "/" is added when missing). kWebFlagSecure selects TLS;
// kWebFlagBypassProxyCache sends "Pragma: no-cache" and "Cache-Control: no-cache".
// An empty verb means "GET"; "HEAD" asks for no body. acceptTypes, when not empty, becomes the
// "Accept" field.
WebHandle WebOpenRequest(WebHandle connection, const std::wstring& verb, const std::wstring& path,
                         std::uint32_t flags, const std::wstring& acceptTypes = L"");

// Adds "Name: value" lines separated by CRLF; a line replaces an earlier one of the same name
// (names compare without regard to case).
bool WebAddRequestHeaders(WebHandle request, const std::wstring& headerLines);

// Sends the request with optional extra header lines and body: resolves, connects (with TLS
// when secure) and hands the request over. Name, connection and certificate failures show
// here. A request is sent once.
bool WebSendRequest(WebHandle request, const std::wstring& extraHeaders, const void* body,
                    std::size_t bodyLength);
// Waits for the final response header, following redirects as the policy allows.
bool WebReceiveResponse(WebHandle request);

// The last (final) response's fields; false with kWebErrIncorrectHandleState before the
// response, kWebErrHeaderNotFound when the field is absent.
bool WebQueryStatusCode(WebHandle request, int& status);
bool WebQueryContentLength(WebHandle request, std::uint64_t& length);
bool WebQueryHeader(WebHandle request, const std::string& name, std::string& value);

// Waits until body bytes are buffered or the body ended; `available` is 0 at the end.
bool WebQueryDataAvailable(WebHandle request, std::size_t& available);
// Reads up to `size` body bytes; `read` is 0 at the end of the body. A transfer that broke off
// fails once its buffered bytes have been read.
bool WebReadData(WebHandle request, void* buffer, std::size_t size, std::size_t& read);

// Closes any handle (null is ignored). Requests stay usable after their connection is closed.
bool WebCloseHandle(WebHandle handle);

// The code of the calling thread's last failure; a success leaves it as it was.
std::uint32_t WebGetLastError();
void WebSetLastError(std::uint32_t code);

// The message text of a code, "" for an unknown one.
std::string WebErrorMessage(std::uint32_t code);

// Whether the desktop routes requests for `url` through a proxy.
bool WebIsProxyConfigured(const std::string& url);

}  // namespace platform
