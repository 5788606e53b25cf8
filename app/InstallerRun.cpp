// The silent installer run: product check, domain file, the installer thread, the progress
// watch, the finish page, the clean-up and the start of the product.
#include "app/InstallerRun.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "analytics/GA.h"
#include "app/SetupFrameWnd.h"
#include "log/Log.h"
#include "platform/Process.h"
#include "sys/ProcessUtils.h"
#include "sys/SystemInfo.h"

using namespace SkinUI;

namespace {

constexpr wchar_t kInstallerWorkProcess[] = L"korvana-download.tmp";

void RemoveFileIfPresent(const std::wstring& path) {
  std::error_code ec;
  std::filesystem::remove(WideToLocale(path), ec);
}

}  // namespace

std::vector<std::string> InstallerArguments(const std::wstring& installFolder,
                                            const std::wstring& progressFile) {
  std::wstring folder = installFolder;
  if (folder.empty() || folder.back() != L'/') folder += L'/';
  return {"/verysilent", "/korvana_down", "/wait_run", "/path=" + WideToLocale(folder),
          "/progress=" + WideToLocale(progressFile)};
}

int ProgressFromText(const std::string& text) {
  const int value = std::atoi(text.substr(0, 10).c_str());
  return value < 0 ? 0 : value > 100 ? 100 : value;
}

bool MakeInstallerExecutable(const std::wstring& installerFile) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Only the owner may change what is about to run.
  fs::permissions(WideToLocale(installerFile),
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::replace, ec);
  return !ec;
}

void CSetupFrameWnd::StartInstallExe() {
  std::uint32_t pid = 0;
  if (FindProcess(lang_.GetExeName(), pid)) {
    LOGA(LogLevelInfo, "StartInstallExe：FindProcess");
    RunOnUiThread([this] {
      if (taskbar_) taskbar_->SetState(TaskbarState::kPaused);
    });
    if (AskUser(lang_.GetText(L"STR_SOFT_RUN"), MB_OKCANCEL | MB_ICONWARNING) != IDOK) {
      RunOnUiThread([this] { PostMessage(WM_CLOSE, kCloseNoPrompt, 0); });
      return;
    }
    KillProcess(pid);
    RunOnUiThread([this] {
      if (taskbar_) taskbar_->SetState(TaskbarState::kNormal);
    });
  }

  const std::wstring productFolder = ProductFolder();
  if (!CreateFolderTree(productFolder)) CreateFolderTree(productFolder);
  WriteDomainFile();
  MakeInstallerExecutable(installerFile_);

  // The leftover progress file goes before the installer can write a new one.
  StartProgressWatch();
  const std::wstring folder = GetInstallFolder();
  workers_.Start([this, folder] {
    const int exitCode = SilentInstallation(installerFile_, folder, progressFile_);
    if (windowGone_) return;
    CGA::Instance()->SendInstallSucceed();
    LOGA(LogLevelInfo, "StartInstallExe：SilentInstallation");
    LOGA(LogLevelInfo, "installer exit code %d", exitCode);
    UpdateWindowSate(kWindow_Finish);
  });
}

int CSetupFrameWnd::SilentInstallation(const std::wstring& installerFile,
                                       const std::wstring& installFolder,
                                       const std::wstring& progressFile) {
  const pid_t pid = platform::StartProcess(WideToLocale(installerFile),
                                           InstallerArguments(installFolder, progressFile));
  if (pid <= 0) {
    LOGW(LogLevelInfo, L"cannot start the installer %ls", installerFile.c_str());
    return -1;
  }
  installerPid_ = pid;
  const int exitCode = platform::WaitProcess(pid);
  installerPid_ = 0;
  return exitCode;
}

bool CSetupFrameWnd::WriteDomainFile() {
  const std::string code = WideToLocale(lang_.GetCustom());
  if (code.empty()) return false;
  std::ofstream out(WideToLocale(ProductFolder() + L"domain"), std::ios::binary | std::ios::trunc);
  out.write(code.data(), static_cast<std::streamsize>(code.size()));
  return static_cast<bool>(out);
}

void CSetupFrameWnd::StartProgressWatch() {
  RemoveFileIfPresent(progressFile_);
  RunOnUiThread([this] { SetTimer(kTimerProgressPoll, readFileTimeout_); });
}

void CSetupFrameWnd::ReadProgressFile() {
  std::ifstream in(WideToLocale(progressFile_));
  if (!in) return;
  char buffer[10] = {};
  in.read(buffer, sizeof buffer);
  const int value = ProgressFromText(std::string(buffer, static_cast<std::size_t>(in.gcount())));
  SetProgress(downloadRatio_ + (100 - downloadRatio_) * value / 100);
}

void CSetupFrameWnd::InstallExeFinish() {
  LOGA(LogLevelInfo, "InstallExeFinish");
  RunOnUiThread([this] {
    KillTimer(kTimerBannerRotate);
    KillTimer(kTimerProgressPoll);
    if (CControlUI* c = FindControl(L"btn_start")) c->SetVisible(true);
    if (CControlUI* c = FindControl(L"btn_install")) c->SetVisible(false);
    if (CControlUI* c = FindControl(L"lineLayout")) c->SetAttribute(L"visible", L"false");
    if (CControlUI* c = FindControl(L"customLayout")) c->SetAttribute(L"visible", L"false");
    if (CControlUI* c = FindControl(L"control_tip")) c->SetVisible(false);
    if (taskbar_) {
      taskbar_->SetState(TaskbarState::kNormal);
      taskbar_->SetValue(100, 100);
    }
    if (IHostWindow* host = GetHostWindow(); host != nullptr && !host->IsVisible()) {
      ShowWindow(true);
    }
  });
  RemoveInstallerFiles();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  RunOnUiThread([this] {
    if (taskbar_) taskbar_->SetState(TaskbarState::kNoProgress);
  });
  const std::wstring page = lang_.GetInstallUrl();
  if (!page.empty()) ShellOpen(nullptr, page);
}

void CSetupFrameWnd::KillSilentInstallProcess() {
  std::uint32_t pid = 0;
  if (!FindProcess(kInstallerWorkProcess, pid)) return;
  LOGA(LogLevelInfo, "KillSilentInstallProcess");
  KillProcess(pid);
}

void CSetupFrameWnd::RemoveInstallerFiles() {
  KillSilentInstallProcess();
  RemoveFileIfPresent(installerFile_);
  RemoveFileIfPresent(progressFile_);
}

void CSetupFrameWnd::LaunchProduct() {
  RunProgram(ProductExecutable(), lang_.IsRunAsAdmin());
  PostMessage(WM_CLOSE, kCloseNoPrompt, 0);
}
