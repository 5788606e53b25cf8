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
#include "platform/Folders.h"
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
  // atoi's reading, taken wide: ten digits do not fit an int.
  const long value = std::strtol(text.substr(0, 10).c_str(), nullptr, 10);
  return value < 0 ? 0 : value > 100 ? 100 : static_cast<int>(value);
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
  // The installer becomes a program only now that it is complete and checked.
  std::shared_ptr<CCheckedInstaller> installer;
  {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    installer = checkedInstaller_;
  }
  if (installer) installer->MakeExecutable();

  // The leftover progress file goes before the installer can write a new one.
  StartProgressWatch();
  const std::wstring folder = GetInstallFolder();
  workers_.Start([this, folder] { RunInstaller(folder); });
}

void CSetupFrameWnd::RunInstaller(const std::wstring& installFolder) {
  const int exitCode = SilentInstallation(installerFile_, installFolder, progressFile_);
  if (windowGone_) return;
  // Only a run that ended well and left the product behind counts as an installation.
  const std::wstring product = ProductExecutable();
  if (exitCode != 0) {
    LOGA(LogLevelInfo, "installation failed: the installer %s %d",
         exitCode < 0 ? "did not start," : "ended with", exitCode);
    InstallFailed();
    return;
  }
  if (!FileExists(product)) {
    LOGW(LogLevelInfo, L"installation failed: no product at %ls", product.c_str());
    InstallFailed();
    return;
  }
  CGA::Instance()->SendInstallSucceed();
  LOGA(LogLevelInfo, "StartInstallExe：SilentInstallation");
  UpdateWindowSate(kWindow_Finish);
}

void CSetupFrameWnd::InstallFailed() {
  RunOnUiThread([this] {
    KillTimer(kTimerProgressPoll);
    if (taskbar_) taskbar_->SetState(TaskbarState::kError);
  });
  RemoveInstallerFiles();
  AskUser(lang_.GetText(L"STR_INSTALL_FAILED"), MB_OK | MB_ICONERROR);
  // Home again, where the install button downloads and runs the installer anew.
  SetProgress(0);
  UpdateWindowSate(kWindow_Init);
}

int CSetupFrameWnd::SilentInstallation(const std::wstring& installerFile,
                                       const std::wstring& installFolder,
                                       const std::wstring& progressFile) {
  std::shared_ptr<CCheckedInstaller> installer;
  {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    installer = std::move(checkedInstaller_);
  }
  const std::vector<std::string> args = InstallerArguments(installFolder, progressFile);
  const pid_t pid = installer ? installer->Start(WideToLocale(installerFile), args)
                              : platform::StartProcess(WideToLocale(installerFile), args);
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
  // A link planted at the name is replaced, never written through.
  return platform::WriteFileNoFollow(WideToLocale(ProductFolder() + L"domain"), code);
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
    if (banner_) banner_->StopRotation();
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
  if (RunProgram(ProductExecutable(), lang_.IsRunAsAdmin()) == RunResult::NoInteractiveUser) {
    // Elevated, with nobody to start it for: never as root in the user's place.
    ShowMessageBox(lang_.GetText(L"STR_START_MANUALLY"), MB_OK | MB_ICONINFORMATION);
  }
  PostMessage(WM_CLOSE, kCloseNoPrompt, 0);
}
