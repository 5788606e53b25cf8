#include "http/BaseRequest.h"

bool CBaseRequest::SplitRequestUrl(const std::wstring& url, std::wstring& host,
                                   std::wstring& path) {
  std::wstring rest;
  if (url.find(L"http://") != std::wstring::npos) {
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

bool CBaseRequest::OpenHostPath(const std::wstring& host, const std::wstring& path,
                                Transport transport) {
  host_ = host;
  path_ = path;
  return OpenSession() && ConnectSession(transport) && OpenRequest(transport) && SendRequest();
}

bool CBaseRequest::OpenUrl(const std::wstring& url) {
  std::wstring host, path;
  if (!SplitRequestUrl(url, host, path)) return false;
  if (OpenHostPath(host, path, Transport::Secure)) return true;
  CloseHandles();
  return OpenHostPath(host, path, Transport::Plain);
}

bool CBaseRequest::IsUseProxyConnect() {
  return platform::WebIsProxyConfigured();
}
