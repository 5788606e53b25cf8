#include "platform/web/WebRequest.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/TextCodec.h"
#include "platform/web/SystemProxy.h"
#include "platform/web/detail/CurlTransfer.h"

namespace platform {

struct WebObject {
  enum class Kind { Session, Connection, Request };
  explicit WebObject(Kind k) : kind(k) {}
  virtual ~WebObject() = default;
  Kind kind;
};

namespace {

using web_detail::CurlTransfer;
using web_detail::TransferSetup;

thread_local std::uint32_t lastError = 0;

struct Settings {
  std::string agent;
  WebAccess access = WebAccess::DefaultProxy;
  int connectMs = 60000;
  int sendMs = 30000;
  int receiveMs = 30000;
  std::uint32_t redirectPolicy = kWebRedirectDisallowHttpsToHttp;
};

struct Session : WebObject {
  Session() : WebObject(Kind::Session) {}
  Settings settings;
};

struct Connection : WebObject {
  Connection() : WebObject(Kind::Connection) {}
  Settings settings;
  std::string host;
  std::uint16_t port = 0;
};

struct Request : WebObject {
  Request() : WebObject(Kind::Request) {}
  Settings settings;
  std::string host;
  std::uint16_t port = 0;
  std::string verb;
  std::string path;
  bool secure = false;
  std::uint32_t securityFlags = 0;
  std::vector<std::string> headerLines;
  bool sent = false;
  bool received = false;
  TransferSetup setup;
  std::unique_ptr<CurlTransfer> transfer;
};

bool Fail(std::uint32_t code) {
  lastError = code;
  return false;
}

template <class T>
T* As(WebHandle h, WebObject::Kind kind) {
  if (!h) {
    lastError = kWebErrInvalidHandle;
    return nullptr;
  }
  if (h->kind != kind) {
    lastError = kWebErrIncorrectHandleType;
    return nullptr;
  }
  return static_cast<T*>(h);
}

std::string HeaderName(const std::string& line) {
  std::size_t c = line.find(':');
  std::string n = line.substr(0, c == std::string::npos ? line.size() : c);
  while (!n.empty() && (n.back() == ' ' || n.back() == '\t')) n.pop_back();
  return n;
}

void AddLines(std::vector<std::string>& lines, const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end;
    while (pos < text.size() && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
    if (line.find(':') == std::string::npos) continue;
    const std::string name = HeaderName(line);
    if (name.empty()) continue;
    bool replaced = false;
    for (auto& l : lines) {
      if (strcasecmp(HeaderName(l).c_str(), name.c_str()) == 0) {
        l = line;
        replaced = true;
        break;
      }
    }
    if (!replaced) lines.push_back(line);
  }
}

// A host the URL can carry: a name or IPv4 address, or an IPv6 address (bracketed).
bool UrlHost(const std::string& host, std::string& out) {
  if (host.find(':') != std::string::npos) {
    in6_addr a6;
    if (inet_pton(AF_INET6, host.c_str(), &a6) != 1) return false;
    out = "[" + host + "]";
    return true;
  }
  for (unsigned char c : host) {
    if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_')) return false;
  }
  out = host;
  return true;
}

std::string EncodePath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  if (path.empty() || path[0] != '/') out += '/';
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7f || c == '#' || c == '"' || c == '<' || c == '>' || c == '\\' ||
        c == '^' || c == '`' || c == '{' || c == '|' || c == '}') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The absolute URL of `location` seen from `base`; "" when it cannot be made.
std::string Resolve(const std::string& base, const std::string& location) {
  CURLU* u = curl_url();
  std::string out;
  if (u && curl_url_set(u, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      curl_url_set(u, CURLUPART_URL, location.c_str(), CURLU_URLENCODE) == CURLUE_OK) {
    char* s = nullptr;
    if (curl_url_get(u, CURLUPART_URL, &s, 0) == CURLUE_OK) out = s;
    curl_free(s);
  }
  curl_url_cleanup(u);
  return out;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  return strncasecmp(s.c_str(), prefix, std::strlen(prefix)) == 0;
}

}  // namespace

WebHandle WebOpen(const std::wstring& agent, WebAccess access) {
  auto* s = new Session;
  s->settings.agent = WideToUtf8(agent);
  s->settings.access = access;
  return s;
}

bool WebSetTimeouts(WebHandle h, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  if (!h) return Fail(kWebErrInvalidHandle);
  Settings* s = nullptr;
  if (h->kind == WebObject::Kind::Session) s = &static_cast<Session*>(h)->settings;
  if (h->kind == WebObject::Kind::Request) s = &static_cast<Request*>(h)->settings;
  if (!s) return Fail(kWebErrIncorrectHandleType);
  s->connectMs = connectMs;
  s->sendMs = sendMs;
  s->receiveMs = receiveMs;
  return true;
}

bool WebSetOption(WebHandle h, WebOption option, std::uint32_t value) {
  if (!h) return Fail(kWebErrInvalidHandle);
  if (option == kWebOptionRedirectPolicy) {
    if (value > kWebRedirectAlways) return Fail(kWebErrInvalidParameter);
    if (h->kind == WebObject::Kind::Session) {
      static_cast<Session*>(h)->settings.redirectPolicy = value;
      return true;
    }
    if (h->kind == WebObject::Kind::Request) {
      static_cast<Request*>(h)->settings.redirectPolicy = value;
      return true;
    }
    return Fail(kWebErrIncorrectHandleType);
  }
  if (option == kWebOptionSecurityFlags) {
    auto* r = As<Request>(h, WebObject::Kind::Request);
    if (!r) return false;
    r->securityFlags = value;
    return true;
  }
  return Fail(kWebErrInvalidOption);
}

WebHandle WebConnect(WebHandle session, const std::wstring& host, std::uint16_t port) {
  auto* s = As<Session>(session, WebObject::Kind::Session);
  if (!s) return nullptr;
  if (host.empty()) {
    lastError = kWebErrInvalidUrl;
    return nullptr;
  }
  auto* c = new Connection;
  c->settings = s->settings;
  c->host = WideToUtf8(host);
  c->port = port;
  return c;
}

WebHandle WebOpenRequest(WebHandle connection, const std::wstring& verb, const std::wstring& path,
                         std::uint32_t flags, const std::wstring& acceptTypes) {
  auto* c = As<Connection>(connection, WebObject::Kind::Connection);
  if (!c) return nullptr;
  auto* r = new Request;
  r->settings = c->settings;
  r->host = c->host;
  r->port = c->port;
  r->verb = verb.empty() ? "GET" : WideToUtf8(verb);
  r->path = WideToUtf8(path);
  r->secure = (flags & kWebFlagSecure) != 0;
  if (!acceptTypes.empty()) r->headerLines.push_back("Accept: " + WideToUtf8(acceptTypes));
  // A caching proxy on the way must ask the origin server.
  if (flags & kWebFlagBypassProxyCache) {
    r->headerLines.push_back("Pragma: no-cache");
    r->headerLines.push_back("Cache-Control: no-cache");
  }
  return r;
}

bool WebAddRequestHeaders(WebHandle request, const std::wstring& headerLines) {
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  AddLines(r->headerLines, WideToUtf8(headerLines));
  return true;
}

bool WebSendRequest(WebHandle request, const std::wstring& extraHeaders, const void* body,
                    std::size_t bodyLength) {
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  if (r->sent) return Fail(kWebErrIncorrectHandleState);
  r->sent = true;
  std::string host;
  if (!UrlHost(r->host, host)) return Fail(kWebErrNameNotResolved);

  TransferSetup setup;
  const bool defaultPort = r->port == (r->secure ? 443 : 80);
  setup.url = std::string(r->secure ? "https://" : "http://") + host +
              (defaultPort ? "" : ":" + std::to_string(r->port)) + EncodePath(r->path);
  setup.verb = r->verb;
  setup.headerLines = r->headerLines;
  AddLines(setup.headerLines, WideToUtf8(extraHeaders));
  if (body && bodyLength > 0) {
    setup.body.assign(static_cast<const char*>(body), bodyLength);
    setup.sendBody = true;
  }
  setup.agent = r->settings.agent;
  setup.noProxy = r->settings.access == WebAccess::NoProxy;
  setup.verifyPeer = (r->securityFlags & kWebIgnoreUnknownCa) == 0;
  setup.verifyHost = (r->securityFlags & kWebIgnoreCertCnInvalid) == 0;
  setup.connectMs = r->settings.connectMs > 0 ? r->settings.connectMs : 0;
  int waitMs = std::max(r->settings.sendMs, r->settings.receiveMs);
  if (r->settings.sendMs <= 0 || r->settings.receiveMs <= 0) waitMs = 0;
  setup.receiveMs = waitMs;

  r->setup = setup;
  r->transfer = std::make_unique<CurlTransfer>();
  std::uint32_t err = 0;
  if (!r->transfer->Start(r->setup, err)) return Fail(err);
  return true;
}

bool WebReceiveResponse(WebHandle request) {
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  if (!r->transfer || r->received) return Fail(kWebErrIncorrectHandleState);
  TransferSetup& setup = r->setup;
  for (int redirects = 0;; ++redirects) {
    std::uint32_t err = 0;
    if (!r->transfer->WaitForHeader(err)) return Fail(err);
    std::string location;
    const int status = r->transfer->status();
    const bool follow = r->settings.redirectPolicy != kWebRedirectNever && IsRedirect(status) &&
                        r->transfer->FindField("Location", location) && !location.empty();
    const std::string next = follow ? Resolve(setup.url, location) : "";
    const bool toHttp = StartsWithNoCase(next, "http://");
    const bool usable = toHttp || StartsWithNoCase(next, "https://");
    const bool allowed =
        usable && !(r->settings.redirectPolicy == kWebRedirectDisallowHttpsToHttp &&
                    StartsWithNoCase(setup.url, "https://") && toHttp);
    if (!allowed) {
      r->received = true;
      return true;
    }
    if (redirects >= kWebMaxRedirects) return Fail(kWebErrRedirectFailed);
    setup.url = next;
    // As browsers do: 303, and 301/302 after a POST, continue as a GET without a body.
    if ((status == 303 && setup.verb != "HEAD") ||
        ((status == 301 || status == 302) && setup.verb == "POST")) {
      setup.verb = "GET";
      setup.sendBody = false;
      setup.body.clear();
    }
    r->transfer = std::make_unique<CurlTransfer>();
    if (!r->transfer->Start(setup, err)) return Fail(err);
  }
}

bool WebQueryStatusCode(WebHandle request, int& status) {
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  if (!r->received) return Fail(kWebErrIncorrectHandleState);
  status = r->transfer->status();
  return true;
}

bool WebQueryHeader(WebHandle request, const std::string& name, std::string& value) {
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  if (!r->received) return Fail(kWebErrIncorrectHandleState);
  if (!r->transfer->FindField(name, value)) return Fail(kWebErrHeaderNotFound);
  return true;
}

bool WebQueryContentLength(WebHandle request, std::uint64_t& length) {
  std::string text;
  if (!WebQueryHeader(request, "Content-Length", text)) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || *end != '\0') return Fail(kWebErrInvalidServerResponse);
  length = v;
  return true;
}

bool WebQueryDataAvailable(WebHandle request, std::size_t& available) {
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  if (!r->received) return Fail(kWebErrIncorrectHandleState);
  std::uint32_t err = 0;
  if (!r->transfer->WaitForData(err)) return Fail(err);
  available = r->transfer->Buffered();
  return true;
}

bool WebReadData(WebHandle request, void* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  auto* r = As<Request>(request, WebObject::Kind::Request);
  if (!r) return false;
  if (!r->received) return Fail(kWebErrIncorrectHandleState);
  if (size == 0) return true;
  if (!buffer) return Fail(kWebErrInvalidParameter);
  std::uint32_t err = 0;
  if (!r->transfer->WaitForData(err)) return Fail(err);
  read = r->transfer->Take(buffer, size);
  return true;
}

bool WebCloseHandle(WebHandle handle) {
  if (!handle) return Fail(kWebErrInvalidHandle);
  delete handle;
  return true;
}

std::uint32_t WebGetLastError() {
  return lastError;
}

void WebSetLastError(std::uint32_t code) {
  lastError = code;
}

bool WebIsProxyConfigured(const std::string& url) {
  return !SystemProxyFor(url).empty();
}

}  // namespace platform
