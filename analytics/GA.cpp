#include "analytics/GA.h"

#include <new>
#include <system_error>
#include <thread>

#include "analytics/ClientId.h"
#include "analytics/DownloaderGAJSONStruct.h"
#include "http/HttpBase.h"
#include "log/Log.h"
#include "platform/TextCodec.h"

CGA::CGA() : clientId_(platform::WideToUtf8(GetClientId())) {}

CGA* CGA::Instance() {
  // Never destroyed: detached senders may still read it while the process ends.
  static CGA* instance = new CGA;
  return instance;
}

bool CGA::SendGACommon(const std::string& eventName) {
  LOGA(LogLevelInfo, "tran code guid:%s", clientId_.c_str());
  GAPayload payload;
  payload.clientId = clientId_;
  payload.userId = clientId_;
  payload.events.push_back({eventName, platform::WideToUtf8(appName_), clientId_});

  rapidjson::Document document;
  CDownloaderGAJSONStruct binder(payload, document.GetAllocator());
  const std::string body = ToJsonText(binder, document);

  IHttpBase* base = nullptr;
  if (!CreateHttpClient(&base, HttpClientWinHttp) || !base) return false;
  auto* client = static_cast<IWinHttp*>(base);
  client->SetCertificateChecks(certificateChecks_);
  const std::string url = platform::WideToUtf8(url_);
  client->PerformRequest(url.c_str(), HttpVerbPost, body.c_str(),
                         "Content-Type: application/json; charset=utf-8");
  const int status = client->StatusCode();
  LOGA(LogLevelInfo, "request url: %s", url.c_str());
  LOGA(LogLevelInfo, "request info: %s", body.c_str());
  LOGA(LogLevelInfo, "request ret Code: %d", status);
  client->Release();
  return true;
}

unsigned SendGAThread(void* param) {
  auto* p = static_cast<GAThreadParam*>(param);
  if (!p) return 0;
  CGA* sender = p->sender ? p->sender : CGA::Instance();
  bool ok = false;
  switch (p->kind) {
    case kGAInstalled:
      ok = sender->SendInstalled();
      break;
    case kGAInstallSucceed:
      ok = sender->SendInstallSucceed();
      break;
    default:
      ok = sender->SendStartInstall();
      break;
  }
  p->result = ok ? 1 : 0;
  delete p;
  return 0;
}

bool StartSendGAThread(int kind) {
  auto* p = new (std::nothrow) GAThreadParam{0, CGA::Instance(), kind};
  if (!p) return false;
  try {
    std::thread(SendGAThread, p).detach();
  } catch (const std::system_error&) {
    delete p;
    return false;
  }
  return true;
}
