// The analytics sender: one JSON POST per event to the collection endpoint, under the client
// identifier read (or made) once when the sender is first used. Configure it (SetUrl,
// SetAppName) on the UI thread before any send; sends may then run on any thread at once, as
// they only read the members.
#pragma once

#include <cstdint>
#include <string>

#include "http/HttpBase.h"

class CGA {
 public:
  // The process-wide sender, made on the first call.
  static CGA* Instance();

  // The endpoint comes from the brand (brand::kAnalyticsUrl, "/mp/collect" with its
  // "measurement_id" and "api_secret"); nothing about the brand lives in this library.
  void SetUrl(const std::wstring& url) { url_ = url; }
  // The event category, e.g. the product title + " (Windows version)".
  void SetAppName(const std::wstring& text) { appName_ = text; }
  // How the collector's certificate is treated: verified unless the brand asks to relax it
  // (brand::kAnalyticsRelaxedCertificates).
  void SetCertificateChecks(CertificateChecks checks) { certificateChecks_ = checks; }
  const std::string& clientId() const { return clientId_; }

  // Posts one event and logs the URL, the body and the answer's status (0 when none came). The
  // answer's body is read up to kHttpMaxTextBody and dropped.
  // True when a request was made, whatever came of it; false without an HTTP client.
  bool SendGACommon(const std::string& eventName);
  bool SendStartInstall() { return SendGACommon("Downloader_Start_Install"); }
  bool SendInstalled() { return SendGACommon("Downloader_Installed"); }
  bool SendInstallSucceed() { return SendGACommon("Installed_Succeed"); }

 private:
  CGA();
  CGA(const CGA&) = delete;
  CGA& operator=(const CGA&) = delete;

  std::wstring url_;
  std::wstring appName_;
  std::string clientId_;
  CertificateChecks certificateChecks_ = CertificateChecks::kVerify;
};

// Kinds of SendGAThread: 1 "Downloader_Installed", 2 "Installed_Succeed", any other
// "Downloader_Start_Install".
enum GAEventKind { kGAStartInstall = 0, kGAInstalled = 1, kGAInstallSucceed = 2 };

struct GAThreadParam {
  std::uint8_t result;
  CGA* sender;
  int kind;
};

// Thread entry: sends the event of param->kind, stores the result and frees the record
// (allocated with new). Returns 0.
unsigned SendGAThread(void* param);

// Starts SendGAThread for `kind` on a detached thread of its own; false when no thread could
// be started. Any thread.
bool StartSendGAThread(int kind);
