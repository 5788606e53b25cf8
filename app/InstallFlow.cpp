// The install flow: from the click on the install button to the start of the installer run.
#include "app/InstallFlow.h"

#include <algorithm>
#include <filesystem>

#include "analytics/GA.h"
#include "app/SetupFrameWnd.h"
#include "config/SplitUrl.h"
#include "http/WinHttpRequest.h"
#include "integrity/PayloadCheck.h"
#include "kvhttp/download/HttpDownload.h"
#include "log/Log.h"
#include "platform/Elevation.h"
#include "platform/Folders.h"
#include "platform/web/SystemProxy.h"
#include "platform/web/WebRequest.h"
#include "sys/ProcessUtils.h"
#include "sys/SystemInfo.h"
#include "ui/controls/Edit.h"

using namespace SkinUI;

struct CSetupFrameWnd::DownloadJob {
  CSetupFrameWnd* owner;
  std::uint64_t generation;
};

void CSetupFrameWnd::OnClickInstall() {
  LOGA(LogLevelInfo, "OnClickInstall");
  ShowPathTip(L"");
  std::wstring folder = pathEdit_ != nullptr ? pathEdit_->GetText() : GetInstallFolder();
  if (folder.empty() || folder.back() != L'/') folder += L'/';
  SetInstallFolder(folder);
  LOGW(LogLevelInfo, L"sel path:%ls", folder.c_str());

  bool usable = IsInstallFolderUsable(folder);
  // As root, the product must not sit below a folder another user could change.
  if (usable && platform::IsElevated() && !platform::PathSafeForRoot(WideToLocale(folder))) {
    LOGA(LogLevelInfo, "sel path refused: others can write on its way");
    usable = false;
  }
  if (!usable) {
    ShowPathTip(lang_.GetText(L"STR_PATH_INVALID"));
    return;
  }
  LOGA(LogLevelInfo, "sel path end");

  if (banner_) banner_->StartFetch();
  workers_.Start([this] { PrepareDownload(); });

  LOGA(LogLevelInfo, "send ga begin");
  SendAnalytics(kGAStartInstall);
  LOGA(LogLevelInfo, "send ga end");

  LOGA(LogLevelInfo, "change page downloading begin");
  UpdateWindowSate(kWindow_Downloading);
  LOGA(LogLevelInfo, "change page downloading end");
}

void CSetupFrameWnd::PrepareDownload() {
  std::wstring url = GetDownloadUrl();
  const std::wstring redirect = lang_.GetDownloadUrlEx();
  if (!redirect.empty()) {
    std::wstring host, path;
    SplitUrl(redirect, host, path);
    std::wstring target = redirect;
    if (GetRedirectUrl(host, path, target)) {
      url = target;
      SetDownloadUrl(url);
      LOGW(LogLevelInfo, L"get redirect Url:%ls", url.c_str());
    }
  }

  LOGA(LogLevelInfo, "get file size begin");
  const std::uint32_t bytes = QueryRemoteFileSize(url);
  LOGA(LogLevelInfo, "get file size end");
  const std::uint32_t sizeMb = bytes >> 20;
  const std::uint32_t requiredMb = 3 * sizeMb;

  // The installer lands in the work folder and unpacks below the installation folder: both
  // file systems need the room.
  LOGA(LogLevelInfo, "get disk size begin");
  const DiskRoom room = CheckDiskRoom({GetInstallFolder(), workFolder_}, requiredMb);
  LOGA(LogLevelInfo, "get disk size end");

  // Not knowing the free space is no reason to stop: the download itself will tell.
  if (room.anyUnknown) LOGA(LogLevelInfo, "OnClickInstall：GetFreeSize Failed");
  if (!room.enough) {
    LOGA(LogLevelInfo, "OnClickInstall：filesize:%dMB--FreeSize:%dMB", static_cast<int>(sizeMb),
         static_cast<int>(room.freeMb));
    std::wstring unit = lang_.GetText(L"STR_MB");
    if (unit.empty()) unit = L"MB";
    const std::wstring message =
        lang_.GetText(L"STR_STORAGE") + L" " + std::to_wstring(requiredMb) + L" " + unit;
    if (AskUser(message, MB_OK) == IDOK) {
      SetProgress(0);
      UpdateWindowSate(kWindow_Init);
    }
    return;
  }

  if (windowGone_) return;
  JudgeDeleteHistoryFile(url, static_cast<std::int32_t>(bytes), installerFile_);
  StartDownload(url, installerFile_);
}

DiskRoom CheckDiskRoom(const std::vector<std::wstring>& folders, std::uint32_t requiredMb) {
  DiskRoom room;
  bool first = true;
  for (const std::wstring& folder : folders) {
    std::uint32_t freeMb = 0;
    if (!GetFreeSpaceMB(folder, freeMb)) {
      room.anyUnknown = true;
      continue;
    }
    room.freeMb = first ? freeMb : std::min(room.freeMb, freeMb);
    first = false;
    if (freeMb < requiredMb) room.enough = false;
  }
  return room;
}

namespace {

// "name:port" or "[v6]:port" into its parts; no port gives the scheme's.
void SplitHostPort(const std::wstring& host, bool secure, std::wstring& name, std::uint16_t& port) {
  name = host;
  port = secure ? 443 : 80;
  const std::size_t colon = host.rfind(L':');
  if (colon == std::wstring::npos) return;
  const std::size_t bracket = host.rfind(L']');
  if (bracket != std::wstring::npos && bracket > colon) return;  // an IPv6 address, no port
  const std::wstring digits = host.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return;
  }
  const unsigned long value = std::stoul(digits);
  if (value == 0 || value > 65535) return;
  name = host.substr(0, colon);
  port = static_cast<std::uint16_t>(value);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.rfind(prefix, 0) == 0;
}

struct WebHandles {
  platform::WebHandle session = nullptr, connection = nullptr, request = nullptr;
  ~WebHandles() {
    platform::WebCloseHandle(request);
    platform::WebCloseHandle(connection);
    platform::WebCloseHandle(session);
  }
};

}  // namespace

bool CSetupFrameWnd::GetRedirectUrl(const std::wstring& host, const std::wstring& path,
                                    std::wstring& url) {
  using namespace platform;
  // The probe speaks the scheme and port its address names.
  const bool secure = StartsWith(url, L"https://");
  std::wstring name;
  std::uint16_t port = 0;
  SplitHostPort(host, secure, name, port);

  WebHandles h;
  h.session = WebOpen(L"", WebAccess::DefaultProxy);
  if (h.session == nullptr) return false;
  if (!WebSetOption(h.session, kWebOptionRedirectPolicy, kWebRedirectNever)) return false;
  h.connection = WebConnect(h.session, name, port);
  if (h.connection == nullptr) return false;
  h.request = WebOpenRequest(h.connection, L"GET", path, secure ? kWebFlagSecure : 0);
  if (h.request == nullptr || !WebSendRequest(h.request, L"", nullptr, 0)) return false;
  if (!WebReceiveResponse(h.request)) {
    LOGA(LogLevelInfo, "Error %d has occurred.\n", static_cast<int>(WebGetLastError()));
    return true;
  }
  int status = 0;
  if (!WebQueryStatusCode(h.request, status) || status != 302) return false;
  std::string location;
  if (!WebQueryHeader(h.request, "Location", location) || location.empty()) return false;
  std::wstring target = Utf8ToWide(location);
  if (StartsWith(target, L"/")) target = (secure ? L"https://" : L"http://") + host + target;
  if (!StartsWith(target, L"https://") && !StartsWith(target, L"http://")) return false;
  if (secure && !StartsWith(target, L"https://")) {
    LOGW(LogLevelInfo, L"redirect to plain HTTP refused: %ls", target.c_str());
    return false;
  }
  url = target;
  return true;
}

bool CSetupFrameWnd::StartDownload(const std::wstring& url, const std::wstring& targetFile) {
  if (url.empty() || targetFile.empty()) return false;
  const std::uint64_t generation = ++downloadGeneration_;
  return workers_.Start(
      [this, url, targetFile, generation] { RunDownload(url, targetFile, generation); });
}

void CSetupFrameWnd::RunDownload(const std::wstring& url, const std::wstring& targetFile,
                                 std::uint64_t generation) {
  std::lock_guard<std::mutex> slot(downloadSlot_);
  // The window went, a newer download was asked for, or the one before this finished the file
  // meanwhile. (The first download may start before OnClickInstall has entered its state.)
  const WindowState state = state_;
  if (windowGone_ || generation != downloadGeneration_ || state == kWindow_Installing ||
      state == kWindow_Finish) {
    return;
  }
  downloadRunning_ = true;
  DownloadJob job{this, generation};
  DownloadRequest request;
  request.connections = 8;
  request.userData = &job;
  request.url = url;
  request.savePath = targetFile;
  request.proxy = platform::SystemProxyFor(WideToUtf8(url));
  // A brand that signs its installers says first what this one must be.
  std::optional<integrity::ExpectedPayload> expected;
  if (!integrity::EmbeddedPublicKeys().empty()) {
    integrity::ExpectedPayload payload;
    const integrity::PayloadCheck check =
        integrity::FetchPayloadStatement(url, integrity::EmbeddedPublicKeys(), payload);
    if (check != integrity::PayloadCheck::kOk) {
      LOGA(LogLevelInfo, "installer statement: %s", integrity::DescribePayloadCheck(check));
      if (!windowGone_) DownloadFailed();
      downloadRunning_ = false;
      return;
    }
    expected = payload;
    request.expectedSize = static_cast<std::int64_t>(payload.size);
  }
  {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    expectedPayload_ = expected;
  }
  RunHttpDownload(request, &CSetupFrameWnd::OnDownloadEvent, nullptr);
  downloadRunning_ = false;
}

int CSetupFrameWnd::OnDownloadEvent(int event, int a, int b, void* window) {
  auto* job = static_cast<DownloadJob*>(window);
  if (job != nullptr) job->owner->HandleDownloadEvent(event, a, b, job->generation);
  return 0;
}

void CSetupFrameWnd::HandleDownloadEvent(int event, int a, int b, std::uint64_t generation) {
  const bool cancelledByUs = cancelledGeneration_ >= generation || windowGone_;
  if (event == kDownloadEventProgress) {
    // A cancel that came before the driver had its task is repeated here, where it holds.
    if (cancelledByUs) {
      CancelHttpDownload();
      return;
    }
    SetProgress(a * downloadRatio_ / 100);
    return;
  }
  if (event != kDownloadEventFinished) return;
  if (windowGone_) return;
  switch (a) {
    case kDownloadResultOk:
      DownloadSuccess();
      break;
    case kDownloadResultIncomplete:
    case -1:
      // An engine that stopped short is a failure the user can retry; our own cancel is not.
      if (!cancelledByUs) DownloadFailed();
      break;
    case kDownloadResultError:
    case -3:
      if (!cancelledByUs) DownloadFailed();
      break;
    default:
      break;
  }
}

void CSetupFrameWnd::DownloadSuccess() {
  LOGA(LogLevelInfo, "HttpDownloadEnd：Success");
  // The file that is checked here is the file that will run: it stays open until it starts.
  std::optional<integrity::ExpectedPayload> expected;
  {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    expected = expectedPayload_;
  }
  auto installer = std::make_shared<CCheckedInstaller>();
  const InstallerCheck check = installer->Open(installerFile_, expected ? &*expected : nullptr);
  if (check != InstallerCheck::kOk) {
    LOGA(LogLevelInfo, "the downloaded installer is refused: %s",
         check == InstallerCheck::kMismatch ? "not the signed one" : "not a file of ours");
    // Nothing of it may be resumed: the next try starts from nothing.
    std::error_code ec;
    std::filesystem::remove(WideToLocale(installerFile_), ec);
    RemoveTemporaryFileWrap(installerFile_);
    DownloadFailed();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    checkedInstaller_ = installer;
  }
  SendAnalytics(kGAInstalled);
  UpdateWindowSate(kWindow_Installing);
  SetProgress(downloadRatio_);
}

void CSetupFrameWnd::DownloadFailed() {
  LOGA(LogLevelInfo, "HttpDownloadEnd：Failed");
  RunOnUiThread([this] {
    if (taskbar_) taskbar_->SetState(TaskbarState::kError);
  });
  const std::wstring text =
      lang_.GetText(L"STR_NETWORK_ERROR") + L"\n\n" + lang_.GetText(L"STR_OPERATE_TIP");
  const int answer = AskUser(text, MB_ABORTRETRYIGNORE | MB_ICONWARNING);
  const std::wstring url = GetDownloadUrl();
  if (answer == IDABORT) {
    RunOnUiThread([this] { PostMessage(WM_CLOSE, kCloseNoPrompt, 0); });
  } else if (answer == IDRETRY) {
    RemoveInstallerFiles();
    CancelHttpDownload();
    StartDownload(url, installerFile_);
  } else if (answer == IDIGNORE) {
    ShellOpen(nullptr, url);
    RemoveInstallerFiles();
    SetProgress(0);
    UpdateWindowSate(kWindow_Init);
  }
}

bool CSetupFrameWnd::CancelDownloadForQuestion() {
  if (!downloadRunning_) return false;
  cancelledGeneration_ = downloadGeneration_.load();
  CancelHttpDownload();
  return true;
}
