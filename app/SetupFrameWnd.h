// CSetupFrameWnd: the controller of the installer's only window. It builds the window from the
// skin, binds the localized texts, reacts to the controls, the timers and the close request,
// runs the window states kWindow_Init -> kWindow_Downloading -> kWindow_Installing ->
// kWindow_Finish, and shows progress on the bar, the percentage label and the taskbar button.
// The install flow (InstallFlow.cpp) and the installer run (InstallerRun.cpp) are further
// operations of this class.
//
// Threads, decided once for the whole program:
// - The UI thread runs the window's hooks, notifications, clicks, timers, the close and destroy
//   handlers, and every call that changes a control, starts or stops a timer or touches the
//   taskbar. It owns the window and the controls.
// - Workers: PrepareDownload, one download thread at a time, the installer thread and the
//   analytics senders, all started through workers_. A worker never touches a control. What it
//   changes on screen (progress, pages, the taskbar, timers, closing) it hands to
//   RunOnUiThread, which posts it to the UI thread; posted work runs in the order it was
//   posted, which is the order the flow describes. A worker that needs an answer calls
//   AskUser, which shows the box on the UI thread and blocks the worker until it is answered.
// - The window state is atomic. Whoever enters a state (UpdateWindowSate, any thread) stores and
//   logs it on its own thread, so the log keeps the flow's order; only the page change is posted.
// - Values workers share with the UI thread (installation folder, download URL, which download
//   is current) sit under fieldsMutex_ or are atomic; the rest is fixed by InitData before the
//   first worker starts.
// - Shutdown: when the window is destroyed, posted work is dropped, every waiting and every later
//   AskUser gets the box's dismiss answer, the running download is cancelled and the installer's
//   processes are ended. The controller outlives its workers: its destructor waits for them. The
//   process entry waits for them with a time limit first and, if they do not finish, ends the
//   process without destroying anything they still use.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/BannerCarousel.h"
#include "app/CheckedInstaller.h"
#include "app/TaskbarProgress.h"
#include "app/WorkerThreads.h"
#include "config/LanguageManager.h"
#include "ui/window/SkinWindowBase.h"

namespace SkinUI {
class CControlUI;
class CEditUI;
class CLabelUI;
class CCheckBoxUI;
class CProgressUI;
}  // namespace SkinUI

enum WindowState : std::int32_t {
  kWindow_None = -1,  // before InitData
  kWindow_Init = 0,
  kWindow_Downloading = 1,
  kWindow_Installing = 2,
  kWindow_Finish = 3,
};

// A WM_CLOSE with this wParam closes the window without the close question.
inline constexpr SkinUI::WPARAM kCloseNoPrompt = 1000;

inline constexpr int kTimerBannerRotate = CBannerCarousel::kTimerBannerRotate;
inline constexpr int kTimerProgressPoll = 12;
inline constexpr int kTimerBannerReady = CBannerCarousel::kTimerBannerReady;

class CSetupFrameWnd : public SkinUI::SkinWindowBase {
 public:
  CSetupFrameWnd();
  ~CSetupFrameWnd() override;

  // --- Start-up (UI thread)
  // The work folder, the log, the language package and the language manager; only the first
  // call acts.
  void InitEnvironment();
  // Runs from the initialisation hook: paths, texts, control references, kWindow_Init and the
  // start-up log lines.
  void InitData();
  void BindTexts();
  void InitTaskbar();
  void InitAnalytics();

  // --- Window frame (UI thread)
  void ShowPathTip(const std::wstring& text);
  // The folder exists (or cannot be checked for another reason than its absence).
  static bool IsInstallFolderUsable(const std::wstring& path);
  void SelectInstallFolder();
  void ToggleCustomPanel();
  void SyncInstallButton();

  // --- Any thread (see the thread notes above)
  // Shows an overall progress of 0-100 on the bar, the label and the taskbar button.
  void SetProgress(int percent);
  // Enters a state; entering the one the window has does nothing.
  void UpdateWindowSate(WindowState state);
  WindowState GetWindowState() const { return state_.load(); }

  // Runs fn on the UI thread: at once when called there, else posted behind what was posted
  // before. Dropped once the window is gone.
  void RunOnUiThread(std::function<void()> fn);
  // Shows a message box owned by the window (title STR_MESSAGEBOX_TITLE, right-to-left flags
  // when the language needs them) and returns the answer; a worker waits for it. Once the
  // window is gone the box's dismiss answer comes back at once.
  int AskUser(const std::wstring& text, unsigned flags);
  // Waits until every worker has ended; false on time-out.
  bool WaitForWorkers(std::chrono::milliseconds timeout) const;
  bool IsWindowGone() const { return windowGone_.load(); }

  // --- Install flow (InstallFlow.cpp)
  // Click on "btn_install". UI thread.
  void OnClickInstall();
  // Worker body started by OnClickInstall.
  void PrepareDownload();
  // Asks the redirect service at host/path where the installer is; true with url set to the
  // target (or unchanged when no answer came). Any thread.
  static bool GetRedirectUrl(const std::wstring& host, const std::wstring& path, std::wstring& url);
  // Starts a download thread (it waits for an earlier one to end first); false when either
  // string is empty. Any thread.
  bool StartDownload(const std::wstring& url, const std::wstring& targetFile);
  // The download driver's callback, on the download thread; window is the job's user data.
  static int OnDownloadEvent(int event, int a, int b, void* window);
  // Outcome handlers, on the download thread.
  void DownloadSuccess();
  void DownloadFailed();

  // --- Installer run (InstallerRun.cpp)
  // Runs on the thread that enters kWindow_Installing (the download thread): the product
  // check, the product folder, the domain file, the progress watch and the installer thread.
  void StartInstallExe();
  // Runs the installer (from the checked, open file when there is one, else by its path) and
  // waits for it; the installer's exit code, -1 when it did not start.
  int SilentInstallation(const std::wstring& installerFile, const std::wstring& installFolder,
                         const std::wstring& progressFile);
  bool WriteDomainFile();
  void StartProgressWatch();
  // Tick of kTimerProgressPoll. UI thread.
  void ReadProgressFile();
  // Runs on the thread that enters kWindow_Finish (the installer thread).
  void InstallExeFinish();
  // Any thread.
  void KillSilentInstallProcess();
  void RemoveInstallerFiles();
  // Click on "btn_start". UI thread.
  void LaunchProduct();

  // --- Read-only views for tests and the process entry
  const LanguageManager& Language() const { return lang_; }
  const std::wstring& WorkFolder() const { return workFolder_; }
  const std::wstring& InstallerFile() const { return installerFile_; }
  const std::wstring& ProgressFile() const { return progressFile_; }
  std::wstring GetInstallFolder() const;
  std::wstring GetDownloadUrl() const;

 protected:
  // SkinWindowBase hooks, UI thread.
  std::wstring GetWindowClassName() const override { return L"KVMainFrame"; }
  void InitWindow() override;
  void OnClick(SkinUI::TNotifyUI& msg) override;
  std::wstring GetSkinFolder() override { return L""; }
  std::wstring GetSkinFile() override;
  SkinUI::UILIB_RESOURCETYPE GetResourceType() const override { return SkinUI::UILIB_ZIPRESOURCE; }
  int GetResourceID() const override { return 104; }
  SkinUI::LRESULT OnClose(SkinUI::UINT msg, SkinUI::WPARAM wParam, SkinUI::LPARAM lParam,
                          bool& bHandled) override;
  SkinUI::LRESULT OnDestroy(SkinUI::UINT msg, SkinUI::WPARAM wParam, SkinUI::LPARAM lParam,
                            bool& bHandled) override;
  SkinUI::LRESULT HandleCustomMessage(SkinUI::UINT msg, SkinUI::WPARAM wParam,
                                      SkinUI::LPARAM lParam, bool& bHandled) override;
  void Notify(SkinUI::TNotifyUI& msg) override;

 private:
  struct PendingBox;
  struct DownloadJob;

  // UI thread: the page and control part of entering a state.
  void ShowStatePage(WindowState state);
  // UI thread: the box itself.
  int ShowMessageBox(const std::wstring& text, unsigned flags);
  // Marks the window gone, answers waiting questions, cancels the download and ends the
  // installer. UI thread, from the destroy handler.
  void ShutDown();
  // Runs one download on the calling (download) thread.
  void RunDownload(const std::wstring& url, const std::wstring& targetFile,
                   std::uint64_t generation);
  void HandleDownloadEvent(int event, int a, int b, std::uint64_t generation);
  // The installer thread: runs the installer, then the finish page or, when the run did not
  // install the product, InstallFailed.
  void RunInstaller(const std::wstring& installFolder);
  // The installer thread: the failure box and back home.
  void InstallFailed();
  // Cancels the running download for the close question; true when one was running.
  bool CancelDownloadForQuestion();
  // Starts the analytics send of `kind` on a worker.
  void SendAnalytics(int kind);
  void SetInstallFolder(const std::wstring& folder);
  void SetDownloadUrl(const std::wstring& url);
  std::wstring ProductFolder() const;
  std::wstring ProductExecutable() const;

  // The controller's fields.
  std::wstring workFolder_;
  std::wstring installFolder_;  // fieldsMutex_
  std::wstring downloadUrl_;    // fieldsMutex_
  std::wstring progressFile_;
  std::atomic<WindowState> state_{kWindow_None};
  SkinUI::CEditUI* pathEdit_ = nullptr;
  SkinUI::CLabelUI* tipLabel_ = nullptr;
  SkinUI::CCheckBoxUI* foldCheck_ = nullptr;
  SkinUI::CLabelUI* progressLabel_ = nullptr;
  SkinUI::CProgressUI* progressBar_ = nullptr;
  std::unique_ptr<TaskbarProgress> taskbar_;
  // The banner images of the progress page (UI thread), made by InitData.
  std::unique_ptr<CBannerCarousel> banner_;
  LanguageManager lang_;
  int downloadRatio_ = 90;
  unsigned readFileTimeout_ = 1500;

  std::wstring installerFile_;
  // What the brand's signed statement says the installer of the current download is (unset for
  // a brand that signs nothing), and the installer once checked. fieldsMutex_.
  std::optional<integrity::ExpectedPayload> expectedPayload_;
  std::shared_ptr<CCheckedInstaller> checkedInstaller_;
  bool environmentReady_ = false;
  bool hasSwitch_ = false;  // fixed by InitData, read by workers
  bool closeQuestionOpen_ = false;

  mutable std::mutex fieldsMutex_;
  // Downloads are numbered; a cancel names the number it stopped, so the ending of a download
  // we stopped ourselves stays quiet.
  std::atomic<std::uint64_t> downloadGeneration_{0};
  std::atomic<std::uint64_t> cancelledGeneration_{0};
  std::atomic<bool> downloadRunning_{false};
  // Held by a download thread for its whole run: a new download waits for the old one.
  std::mutex downloadSlot_;
  // Pid of the installer's first process while it runs, 0 otherwise.
  std::atomic<std::int64_t> installerPid_{0};

  std::atomic<bool> windowGone_{false};
  std::mutex boxesMutex_;
  std::list<std::shared_ptr<PendingBox>> pendingBoxes_;

  CWorkerThreads workers_;
};
