// The family of small synchronous HTTP clients: one interface, three implementations (raw
// socket, and the two platform-backed clients), built by CreateHttpClient and ended by Release.
// A client serves one operation at a time and is used by one thread at a time; it keeps its
// last status and last error code across operations.
#pragma once

#include <cstddef>
#include <string>

// Error codes of the client family, read with LastError(). The values are fixed.
enum HttpInterfaceError {
  HttpErrNone = 0,
  HttpErrOpen = 1,
  HttpErrConnect = 2,
  HttpErrSend = 3,
  HttpErrQuery = 4,
  HttpErrNotFound = 5,
  HttpErrBadUrl = 6,
  HttpErrCreateFile = 7,
  HttpErrIncomplete = 8,
  HttpErrResolve = 9,
  HttpErrSocket = 10,
  HttpErrCancelled = 11,
  HttpErrSize = 12,
  HttpErrHeader = 13,
  HttpErrParam = 14,
  HttpErrWriteFile = 15,
  // The socket client followed kHttpMaxRedirects redirects and was sent one more.
  HttpErrRedirect = 16,
};

// How many redirects the socket client follows for one fetch.
inline constexpr int kHttpMaxRedirects = 10;
// The longest body PerformRequest returns; a longer one fails with HttpErrSize.
inline constexpr std::size_t kHttpMaxTextBody = 64 * 1024;

// How a secure request of the WinHTTP client treats the server's certificate: verified (the
// default), or any certificate accepted (unknown issuer, wrong name, wrong usage, bad dates).
enum class CertificateChecks { kVerify, kRelaxed };

enum HttpTransferState {
  HttpTransferRunning = 0,
  HttpTransferFailed = 1,  // sent with both sizes 0
  HttpTransferFinished = 2,
};

// Supplied by the caller; called on the thread running the fetch.
class IHttpProgressSink {
 public:
  virtual void OnProgress(void* userValue, HttpTransferState state, double totalBytes,
                          double doneBytes) = 0;
  virtual bool CancelRequested() = 0;

 protected:
  ~IHttpProgressSink() = default;
};

enum HttpClientKind {
  HttpClientSocket = 0,
  HttpClientWinInet = 1,
  HttpClientWinHttp = 2,
};

enum HttpVerb {
  HttpVerbGet = 0,
  HttpVerbPost = 1,
};

class IHttpBase {
 public:
  // The sink (may be null) gets progress and is asked about cancelling; userValue goes back to
  // it unchanged.
  virtual void SetProgressSink(IHttpProgressSink* sink, void* userValue) = 0;
  // Stores the body of `url` in the file at `filePath`.
  virtual bool FetchToFile(const wchar_t* url, const wchar_t* filePath) = 0;
  // Returns the body in a block from malloc (the caller frees it with free) and its size.
  virtual bool FetchToMemory(const wchar_t* url, void** buffer, int* size) = 0;
  // Destroys the object.
  virtual void Release() = 0;
  // The code of the latest failure that names one; a later success does not reset it.
  virtual HttpInterfaceError LastError() = 0;
  // A field sent with every later request; the first value of a name stays, empty or null
  // names and values are ignored.
  virtual void AddRequestHeader(const char* name, const char* value) = 0;
  // The last HTTP status received, 0 before any.
  virtual int StatusCode() = 0;

 protected:
  ~IHttpBase() = default;
};

class ISocketHttp : public IHttpBase {
 public:
  // Dotted IPv4 text of the host resolved by the last connection attempt, "" before any.
  virtual const wchar_t* PeerAddress() = 0;

 protected:
  ~ISocketHttp() = default;
};

class IWininetHttp : public IHttpBase {
 public:
  // A GET or POST whose body comes back as text; "" on failure and for a body over
  // kHttpMaxTextBody. data (may be null) is sent as the body, extraHeaders (may be null) as
  // additional "Name: value" lines.
  virtual std::string PerformRequest(const wchar_t* url, HttpVerb verb, const char* data,
                                     const wchar_t* extraHeaders) = 0;
  virtual std::string PerformRequest(const char* url, HttpVerb verb, const char* data,
                                     const char* extraHeaders) = 0;

 protected:
  ~IWininetHttp() = default;
};

class IWinHttp : public IWininetHttp {
 public:
  // Applied from the next operation on.
  virtual void SetTimeouts(int connectMs, int sendMs, int receiveMs) = 0;
  // Applied from the next operation on; kVerify until changed.
  virtual void SetCertificateChecks(CertificateChecks checks) = 0;

 protected:
  ~IWinHttp() = default;
};

// Builds a client of `kind` into *out (null and false for an unknown kind). Any thread.
bool CreateHttpClient(IHttpBase** out, HttpClientKind kind);
