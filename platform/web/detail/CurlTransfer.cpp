#include "platform/web/detail/CurlTransfer.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/web/SystemProxy.h"
#include "platform/web/WebRequest.h"

namespace platform::web_detail {
namespace {

// More than this many unread body bytes pause the transfer until the reader catches up.
constexpr std::size_t kPauseAbove = 256 * 1024;
constexpr int kPollMs = 50;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Connection sockets are made close-on-exec from the start, so a program started meanwhile by
// another thread never inherits one.
curl_socket_t OpenSocket(void*, curlsocktype, curl_sockaddr* address) {
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

}  // namespace

void MarkSocketsCloseOnExec() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || fd <= 2 || fd == own) continue;
    const int flags = fcntl(static_cast<int>(fd), F_GETFD);
    if (flags < 0 || (flags & FD_CLOEXEC)) continue;
    struct stat st;
    if (fstat(static_cast<int>(fd), &st) == 0 && S_ISSOCK(st.st_mode)) {
      fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
    }
  }
  closedir(dir);
}

std::uint32_t ErrorFromCurl(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return kWebErrNone;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kWebErrUnrecognizedScheme;
    case CURLE_URL_MALFORMAT:
      return kWebErrInvalidUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kWebErrNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kWebErrCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kWebErrTimeout;
    case CURLE_TOO_MANY_REDIRECTS:
      return kWebErrRedirectFailed;
    case CURLE_ABORTED_BY_CALLBACK:
      return kWebErrOperationCancelled;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_BAD_CONTENT_ENCODING:
      return kWebErrInvalidServerResponse;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return kWebErrSecureFailure;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return kWebErrConnectionError;
    case CURLE_OUT_OF_MEMORY:
      return kWebErrOutOfHandles;
    default:
      return kWebErrInternal;
  }
}

CurlTransfer::CurlTransfer() {
  GlobalInit();
}

CurlTransfer::~CurlTransfer() {
  Cleanup();
}

void CurlTransfer::Cleanup() {
  if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
  if (easy_) curl_easy_cleanup(easy_);
  if (multi_) curl_multi_cleanup(multi_);
  if (headers_) curl_slist_free_all(headers_);
  easy_ = nullptr;
  multi_ = nullptr;
  headers_ = nullptr;
}

bool CurlTransfer::Start(const TransferSetup& s, std::uint32_t& error) {
  Cleanup();
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
  // The multi handle's wake-up pair is made without close-on-exec.
  MarkSocketsCloseOnExec();
  if (!multi_ || !easy_) {
    error = kWebErrOutOfHandles;
    return false;
  }
  CURL* e = easy_;
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket);
  curl_easy_setopt(e, CURLOPT_URL, s.url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed one by one by the request object, which applies the policy.
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  // A proxy's answer to CONNECT is not the server's response: without this its "200" and
  // empty line would end our header wait before the real header arrives.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  if (!s.agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, s.agent.c_str());
  // The proxy is always named here (libcurl would otherwise read the variables itself, without
  // the desktop's settings); "" is a direct connection.
  proxy_ = s.noProxy ? "" : SystemProxyFor(s.url);
  curl_easy_setopt(e, CURLOPT_PROXY, proxy_.c_str());
  curl_easy_setopt(e, CURLOPT_NOPROXY, "");
  if (s.connectMs > 0) curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, s.connectMs);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, s.verifyPeer ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, s.verifyHost ? 2L : 0L);
  // The same trust store as OpenSSL's own defaults, so SSL_CERT_FILE / SSL_CERT_DIR count.
  if (const char* f = std::getenv("SSL_CERT_FILE"); f && *f) curl_easy_setopt(e, CURLOPT_CAINFO, f);
  if (const char* d = std::getenv("SSL_CERT_DIR"); d && *d) curl_easy_setopt(e, CURLOPT_CAPATH, d);

  if (s.verb == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (s.verb == "POST" || s.sendBody) {
    requestBody_ = s.body;
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, requestBody_.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(requestBody_.size()));
    if (s.verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, s.verb.c_str());
  } else if (s.verb != "GET") {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, s.verb.c_str());
  }

  bool haveAccept = false;
  for (const auto& line : s.headerLines) {
    if (strncasecmp(line.c_str(), "Accept:", 7) == 0) haveAccept = true;
    headers_ = curl_slist_append(headers_, line.c_str());
  }
  // The platform sends only the fields it was given: no default "Accept", no "Expect".
  if (!haveAccept) headers_ = curl_slist_append(headers_, "Accept:");
  headers_ = curl_slist_append(headers_, "Expect:");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_);

  secure_ = s.url.compare(0, 8, "https://") == 0;
  receiveMs_ = s.receiveMs;
  connected_ = false;
  lastActivity_ = std::chrono::steady_clock::now();
  status_ = 0;
  fields_.clear();
  headerDone_ = false;
  done_ = false;
  result_ = CURLE_OK;
  buffer_.clear();
  readPos_ = 0;
  paused_ = false;

  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
    error = kWebErrInternal;
    return false;
  }
  return Drive([this] { return headerDone_ || ConnectionReady(); }, error);
}

bool CurlTransfer::ConnectionReady() {
  curl_off_t t = 0;
  if (curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &t) != CURLE_OK || t <= 0) return false;
  if (!secure_) return true;
  t = 0;
  return curl_easy_getinfo(easy_, CURLINFO_APPCONNECT_TIME_T, &t) == CURLE_OK && t > 0;
}

bool CurlTransfer::WaitForHeader(std::uint32_t& error) {
  if (!easy_) {
    error = kWebErrIncorrectHandleState;
    return false;
  }
  if (!Drive([this] { return headerDone_; }, error)) return false;
  if (!headerDone_) {
    error = result_ != CURLE_OK ? ErrorFromCurl(result_) : kWebErrInvalidServerResponse;
    return false;
  }
  return true;
}

template <class Ready>
bool CurlTransfer::Drive(Ready ready, std::uint32_t& error) {
  // The receive limit bounds each wait, not the time the reader spent between waits.
  lastActivity_ = std::chrono::steady_clock::now();
  while (!ready() && !done_) {
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
      error = kWebErrInternal;
      return false;
    }
    // Until the connection stands, libcurl may have made the resolver's socket pair, which it
    // leaves inheritable.
    if (!connected_) MarkSocketsCloseOnExec();
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == easy_) {
        done_ = true;
        result_ = m->data.result;
      }
    }
    if (ready() || done_) break;
    auto now = std::chrono::steady_clock::now();
    if (!connected_) {
      curl_off_t t = 0;
      if (curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &t) == CURLE_OK && t > 0) {
        connected_ = true;
        lastActivity_ = now;
      }
    }
    if (connected_ && receiveMs_ > 0 &&
        now - lastActivity_ > std::chrono::milliseconds(receiveMs_)) {
      done_ = true;
      result_ = CURLE_OPERATION_TIMEDOUT;
      curl_multi_remove_handle(multi_, easy_);
      break;
    }
    curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr);
  }
  if (done_ && result_ != CURLE_OK && !ready()) {
    error = ErrorFromCurl(result_);
    return false;
  }
  return true;
}

std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* p) {
  auto* self = static_cast<CurlTransfer*>(p);
  std::size_t n = size * count;
  std::string line(data, n);
  self->lastActivity_ = std::chrono::steady_clock::now();
  self->connected_ = true;
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new status line starts a new header block (after 1xx answers).
    self->fields_.clear();
    std::size_t sp = line.find(' ');
    self->status_ = sp == std::string::npos ? 0 : std::atoi(line.c_str() + sp + 1);
    return n;
  }
  std::string t = Trim(line);
  if (t.empty()) {
    if (self->status_ >= 200) self->headerDone_ = true;
    return n;
  }
  std::size_t colon = t.find(':');
  if (colon != std::string::npos) {
    self->fields_.emplace_back(Trim(t.substr(0, colon)), Trim(t.substr(colon + 1)));
  }
  return n;
}

std::size_t CurlTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* p) {
  auto* self = static_cast<CurlTransfer*>(p);
  std::size_t n = size * count;
  self->lastActivity_ = std::chrono::steady_clock::now();
  self->headerDone_ = true;
  if (self->Buffered() > kPauseAbove) {
    self->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (self->readPos_ > 0 && self->readPos_ == self->buffer_.size()) {
    self->buffer_.clear();
    self->readPos_ = 0;
  }
  self->buffer_.append(data, n);
  return n;
}

bool CurlTransfer::FindField(const std::string& name, std::string& value) const {
  for (const auto& [k, v] : fields_) {
    if (strcasecmp(k.c_str(), name.c_str()) == 0) {
      value = v;
      return true;
    }
  }
  return false;
}

bool CurlTransfer::WaitForData(std::uint32_t& error) {
  if (Buffered() > 0) return true;
  if (!easy_) {
    error = kWebErrIncorrectHandleState;
    return false;
  }
  return Drive([this] { return Buffered() > 0; }, error);
}

std::size_t CurlTransfer::Take(void* out, std::size_t size) {
  std::size_t n = std::min(size, Buffered());
  if (n > 0) std::memcpy(out, buffer_.data() + readPos_, n);
  readPos_ += n;
  if (readPos_ == buffer_.size()) {
    buffer_.clear();
    readPos_ = 0;
  }
  if (paused_ && Buffered() <= kPauseAbove / 2) {
    paused_ = false;
    curl_easy_pause(easy_, CURLPAUSE_CONT);
  }
  return n;
}

}  // namespace platform::web_detail
