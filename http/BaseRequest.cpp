#include "http/BaseRequest.h"

#include <cwctype>

#include "platform/TextCodec.h"

namespace {

bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (static_cast<wchar_t>(std::towlower(s[i])) != prefix[i]) return false;
  }
  return true;
}

// The port part of a host ("srv:8080", "[::1]:8080"); npos when there is none.
std::size_t PortColon(const std::wstring& host) {
  if (!host.empty() && host[0] == L'[') {
    const std::size_t close = host.find(L']');
    if (close == std::wstring::npos || close + 1 >= host.size() || host[close + 1] != L':') {
      return std::wstring::npos;
    }
    return close + 1;
  }
  return host.find(L':');
}

}  // namespace

bool CBaseRequest::SplitRequestUrl(const std::wstring& url, std::wstring& host,
                                   std::wstring& path) {
  std::wstring rest;
  // An https URL is cut after its own scheme, even when "http://" appears later in its query.
  if (StartsWithNoCase(url, L"https://")) {
    rest = url.substr(8);
  } else if (url.find(L"http://") != std::wstring::npos) {
    rest = url.substr(7);
  } else if (url.find(L"https://") != std::wstring::npos) {
    rest = url.substr(8);
  } else {
    return true;
  }
  const std::size_t slash = rest.find(L'/');
  if (slash == std::wstring::npos) return false;
  host = rest.substr(0, slash);
  path = rest.substr(slash + 1);
  return true;
}

bool CBaseRequest::SplitHostPort(const std::wstring& host, std::uint16_t fallback,
                                 std::wstring& name, std::uint16_t& port) {
  const std::size_t colon = PortColon(host);
  name = host.substr(0, colon);
  if (name.size() > 2 && name.front() == L'[' && name.back() == L']') {
    name = name.substr(1, name.size() - 2);
  }
  if (colon == std::wstring::npos) {
    port = fallback;
    return true;
  }
  const std::wstring digits = host.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return false;
  }
  const unsigned long value = std::stoul(digits);
  if (value < 1 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

bool CBaseRequest::OpenHostPath(const std::wstring& host, const std::wstring& path,
                                Transport transport) {
  host_ = host;
  path_ = path;
  transport_ = transport;
  return OpenSession() && ConnectSession(transport) && OpenRequest(transport) && SendRequest();
}

bool CBaseRequest::OpenUrl(const std::wstring& url) {
  std::wstring host, path;
  if (!SplitRequestUrl(url, host, path)) return false;
  const bool https = StartsWithNoCase(url, L"https://");
  if (https || PortColon(host) != std::wstring::npos) {
    return OpenHostPath(host, path, https ? Transport::Secure : Transport::Plain);
  }
  if (OpenHostPath(host, path, Transport::Secure)) return true;
  CloseHandles();
  return OpenHostPath(host, path, Transport::Plain);
}

bool CBaseRequest::IsUseProxyConnect() {
  const bool secure = transport_ == Transport::Secure;
  return platform::WebIsProxyConfigured((secure ? "https://" : "http://") +
                                        platform::WideToUtf8(host_) + "/" +
                                        platform::WideToUtf8(path_));
}
