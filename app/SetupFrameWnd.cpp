#include "app/SetupFrameWnd.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "analytics/GA.h"
#include "app/TestHooks.h"
#include "config/EmbeddedPackages.h"
#include "kvhttp/download/DownloadTaskManager.h"
#include "kvhttp/download/HttpDownload.h"
#include "log/Log.h"
#include "platform/Resources.h"
#include "sys/ProcessUtils.h"
#include "sys/SystemInfo.h"
#include "ui/controls/Edit.h"
#include "ui/controls/Label.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/controls/TabLayout.h"

using namespace SkinUI;

// A question a worker waits on; answered on the UI thread, or with the dismiss answer when the
// window goes first.
struct CSetupFrameWnd::PendingBox {
  std::wstring text;
  unsigned flags = 0;
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  int answer = 0;

  void Answer(int result) {
    std::lock_guard<std::mutex> lock(mutex);
    if (done) return;
    answer = result;
    done = true;
    answered.notify_all();
  }
};

namespace {

const wchar_t* StateName(WindowState state) {
  switch (state) {
    case kWindow_Init:
      return L"kWindow_Init";
    case kWindow_Downloading:
      return L"kWindow_Downloading";
    case kWindow_Installing:
      return L"kWindow_Installing";
    case kWindow_Finish:
      return L"kWindow_Finish";
    default:
      return L"kWindow_None";
  }
}

bool OnUiThread() {
  IHostBackend* backend = GetHostBackend();
  return backend != nullptr && backend->IsUiThread();
}

// The test hooks' URL configuration, download time-out and retry pause, when set.
void ApplyTestHooks(LanguageManager& lang) {
  const TestHooks& hooks = GetTestHooks();
  if (hooks.downloadTimeOutSeconds > 0 || hooks.retryDelayMs > 0) {
    kvhttp::DownloadTaskDefaults defaults = kvhttp::GetDownloadTaskDefaults();
    if (hooks.downloadTimeOutSeconds > 0) defaults.time_out = hooks.downloadTimeOutSeconds;
    if (hooks.retryDelayMs > 0) defaults.first_retry_delay_ms = hooks.retryDelayMs;
    kvhttp::SetDownloadTaskDefaults(defaults);
  }
  const std::wstring& path = GetTestHooks().urlIniPath;
  if (path.empty()) return;
  std::ifstream in(WideToLocale(path), std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (bytes.empty()) return;
  lang.LoadUrlConfigFrom(bytes.data(), bytes.size());
  LOGW(LogLevelInfo, L"url config from %ls", path.c_str());
}

}  // namespace

CSetupFrameWnd::CSetupFrameWnd() {
  AddNotifyHandler(kNotifySelectChanged, L"chk_fold", [this](TNotifyUI&) { ToggleCustomPanel(); });
  AddNotifyHandler(kNotifySelectChanged, L"chk_agree", [this](TNotifyUI&) { SyncInstallButton(); });
  AddNotifyHandler(kNotifyTextChanged, L"edit_path", [this](TNotifyUI&) { ShowPathTip(L""); });
}

CSetupFrameWnd::~CSetupFrameWnd() {
  if (!windowGone_) ShutDown();
  // Workers use this object until they return.
  workers_.WaitAll(std::chrono::hours(24));
}

// ---------------------------------------------------------------------------------------------
// Start-up

void CSetupFrameWnd::InitEnvironment() {
  if (environmentReady_) return;
  environmentReady_ = true;
  workFolder_ = GetWorkFolder();
  // Nothing below the work folder is opened before it is known to be ours alone.
  const platform::PrepareResult prepared = PrepareWorkFolder();
  LogInit(L"korvana_down.log", (workFolder_ + L"Log").c_str());
  if (prepared != platform::PrepareResult::Ready) {
    LOGA(LogLevelInfo, "work folder %s",
         prepared == platform::PrepareResult::Replaced ? "was not ours and was made anew"
                                                       : "could not be made safe");
  }
  const std::wstring languageFolder = workFolder_ + L"language/";
  LoadResZipFile(languageFolder);
  lang_.Init(languageFolder);
  ApplyTestHooks(lang_);
}

std::wstring CSetupFrameWnd::GetSkinFile() {
  InitEnvironment();
  return lang_.IsRightToLeft() ? L"skin_rtl.xml" : L"skin.xml";
}

void CSetupFrameWnd::InitWindow() {
  SetIconResource(platform::kResIdIcon);
  InitData();
  // The boxes' buttons speak the UI language, as the texts naming them do.
  SetMessageBoxButtonLabels({{IDOK, lang_.GetText(L"STR_BUTTON_OK")},
                             {IDCANCEL, lang_.GetText(L"STR_BUTTON_CANCEL")},
                             {IDABORT, lang_.GetText(L"STR_BUTTON_ABORT")},
                             {IDRETRY, lang_.GetText(L"STR_BUTTON_RETRY")},
                             {IDIGNORE, lang_.GetText(L"STR_BUTTON_IGNORE")},
                             {IDYES, lang_.GetText(L"STR_BUTTON_YES")},
                             {IDNO, lang_.GetText(L"STR_BUTTON_NO")}});
  InitTaskbar();
  InitAnalytics();
}

void CSetupFrameWnd::InitData() {
  pathEdit_ = nullptr;
  tipLabel_ = nullptr;
  foldCheck_ = nullptr;
  progressLabel_ = nullptr;
  taskbar_.reset();
  state_ = kWindow_None;

  SetInstallFolder(GetProgramFilesFolder());
  InitEnvironment();
  LoadDomainFile(lang_);
  installerFile_ = workFolder_ + L"korvana-download.exe";
  BindTexts();
  const std::wstring& carouselHook = GetTestHooks().carouselUrl;
  banner_ = std::make_unique<CBannerCarousel>(
      *this, workFolder_, lang_.GetLanguage(),
      carouselHook.empty() ? lang_.GetCarouselUrl() : carouselHook);

  progressLabel_ = dynamic_cast<CLabelUI*>(FindControl(L"label_progress"));
  tipLabel_ = dynamic_cast<CLabelUI*>(FindControl(L"label_tip"));
  progressBar_ = dynamic_cast<CProgressUI*>(FindControl(L"progress_download"));
  hasSwitch_ = dynamic_cast<CTabLayoutUI*>(FindControl(L"switch")) != nullptr;

  UpdateWindowSate(kWindow_Init);

  LOGW(LogLevelInfo, L"Windows Version:%ls", GetOsProductName().c_str());
  LOGW(LogLevelInfo, L"Windows Bit:%ls", Is64BitSystem() ? L"x64" : L"x86");
  LOGW(LogLevelInfo, L"downloader version:%ls", GetFileVersion(GetModulePath()).c_str());
  progressFile_ = workFolder_ + L"temp.progress";
  downloadRatio_ = lang_.GetDownloadRatio();
  readFileTimeout_ = static_cast<unsigned>(lang_.GetReadFileTimeout());
  LOGA(LogLevelInfo, "DownloadRatio:%d  ==== ReadFileTimeout:%d", downloadRatio_,
       static_cast<int>(readFileTimeout_));
}

void CSetupFrameWnd::BindTexts() {
  auto text = [this](const wchar_t* name, const wchar_t* key) {
    if (CControlUI* c = FindControl(name)) c->SetText(lang_.GetText(key));
  };
  text(L"btn_install", L"STR_INSTALL");
  text(L"btn_hide", L"STR_HIDE");
  text(L"btn_start", L"STR_START");
  text(L"label_path", L"STR_INSTALL_PATH");
  if (CControlUI* tip = FindControl(L"control_tip")) {
    const std::wstring image =
        workFolder_ + L"language/" + lang_.GetLanguage() + L"/install_tips.png";
    if (FileExists(image)) tip->SetBkImage(image);
  }
  if ((pathEdit_ = dynamic_cast<CEditUI*>(FindControl(L"edit_path")))) {
    pathEdit_->SetText(GetInstallFolder());
    pathEdit_->SetReadOnly(true);
  }
  text(L"btn_browse", L"STR_BROWSE");
  text(L"btn_lisence", L"STR_LISENCE");
  text(L"label_install", L"STR_INSTALLING");
  if (auto* agree = dynamic_cast<CCheckBoxUI*>(FindControl(L"chk_agree"))) {
    agree->SetCheck(true, Notification::kNotify);
  }
  if ((foldCheck_ = dynamic_cast<CCheckBoxUI*>(FindControl(L"chk_fold")))) {
    foldCheck_->SetText(lang_.GetText(L"STR_CUSTOMIZE_INSTALL"));
    foldCheck_->SetCheck(false, Notification::kNotify);
  }
  SetDownloadUrl(lang_.GetDownloadUrl());
}

void CSetupFrameWnd::InitTaskbar() {
  if (taskbar_) return;
  taskbar_ = std::make_unique<TaskbarProgress>();
  taskbar_->Attach(this);
  taskbar_->SetState(TaskbarState::kNormal);
}

void CSetupFrameWnd::InitAnalytics() {
  CGA* ga = CGA::Instance();
  const std::wstring& hook = GetTestHooks().analyticsUrl;
  ga->SetUrl(hook.empty() ? lang_.GetAnalyticsUrl() : hook);
  ga->SetAppName(lang_.GetGATitle() + L" (Windows version)");
}

// ---------------------------------------------------------------------------------------------
// Window frame

void CSetupFrameWnd::Notify(TNotifyUI& msg) {
  if (msg.sType == kNotifySetFocus && msg.pSender != nullptr &&
      msg.pSender->GetName() == L"edit_path") {
    SelectInstallFolder();
    if (CControlUI* browse = FindControl(L"btn_browse")) browse->SetFocus();
  }
  SkinWindowBase::Notify(msg);
}

void CSetupFrameWnd::OnClick(TNotifyUI& msg) {
  const std::wstring name = msg.pSender != nullptr ? msg.pSender->GetName() : L"";
  if (name == L"btn_install") {
    OnClickInstall();
  } else if (name == L"btn_browse") {
    SelectInstallFolder();
  } else if (name == L"btn_hide") {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == L"btn_start") {
    LaunchProduct();
  } else if (name == L"btn_lisence") {
    ShellOpen(nullptr, lang_.GetLicenceUrl());
  } else if (msg.pSender != nullptr && msg.pSender->GetCustomAttribute(L"imageIndex") != nullptr &&
             banner_) {
    banner_->OnClick(msg.pSender);
  }
  SkinWindowBase::OnClick(msg);
}

void CSetupFrameWnd::SyncInstallButton() {
  auto* agree = dynamic_cast<COptionUI*>(FindControl(L"chk_agree"));
  CControlUI* install = FindControl(L"btn_install");
  if (agree != nullptr && install != nullptr) install->SetEnabled(agree->IsSelected());
}

void CSetupFrameWnd::ToggleCustomPanel() {
  CControlUI* panel = FindControl(L"bottomLayout");
  if (panel == nullptr || foldCheck_ == nullptr) return;
  const bool unfold = foldCheck_->IsSelected();
  panel->SetAttribute(L"visible", unfold ? L"true" : L"false");
  UiSize size = GetClientSize();
  ResizeClient(size.cx, size.cy + (unfold ? 75 : -75));
}

void CSetupFrameWnd::ShowPathTip(const std::wstring& text) {
  if (tipLabel_ == nullptr) return;
  tipLabel_->SetText(text);
  tipLabel_->SetVisible(!text.empty());
  if (!text.empty() && foldCheck_ != nullptr) foldCheck_->SetCheck(true, Notification::kNotify);
}

void CSetupFrameWnd::SelectInstallFolder() {
  std::wstring folder;
  if (!BrowseForFolder(lang_.GetText(L"STR_SELECT_FOLDER"), folder)) return;
  if (pathEdit_ != nullptr) pathEdit_->SetText(folder);
  ShowPathTip(L"");
}

bool CSetupFrameWnd::IsInstallFolderUsable(const std::wstring& path) {
  std::wstring probe = path;
  if (!probe.empty() && probe.back() == L'/') probe.pop_back();
  probe += L"/.";
  std::error_code ec;
  // Only a folder that is not there is refused; one we may not look into passes.
  return std::filesystem::status(WideToLocale(probe), ec).type() !=
         std::filesystem::file_type::not_found;
}

// ---------------------------------------------------------------------------------------------
// Progress and states

void CSetupFrameWnd::SetProgress(int percent) {
  RunOnUiThread([this, percent] {
    if (progressBar_ != nullptr)
      progressBar_->SetValue(lang_.IsRightToLeft() ? 100 - percent : percent);
    if (progressLabel_ != nullptr) {
      wchar_t text[32];
      std::swprintf(text, 32, L"%d %%", percent);
      progressLabel_->SetText(text);
    }
    if (taskbar_) {
      taskbar_->SetState(TaskbarState::kNormal);
      taskbar_->SetValue(static_cast<std::uint64_t>(percent), 100);
    }
  });
}

void CSetupFrameWnd::UpdateWindowSate(WindowState state) {
  if (state_.exchange(state) == state) return;
  if (!hasSwitch_) return;
  LOGW(LogLevelInfo, L"UpdateWindowSate:%ls", StateName(state));
  switch (state) {
    case kWindow_Init:
    case kWindow_Downloading:
      RunOnUiThread([this, state] { ShowStatePage(state); });
      if (state == kWindow_Downloading) SetProgress(0);
      break;
    case kWindow_Installing:
      StartInstallExe();
      break;
    case kWindow_Finish:
      RunOnUiThread([this, state] { ShowStatePage(state); });
      InstallExeFinish();
      break;
    default:
      break;
  }
}

void CSetupFrameWnd::ShowStatePage(WindowState state) {
  auto* tabs = dynamic_cast<CTabLayoutUI*>(FindControl(L"switch"));
  if (tabs == nullptr) return;
  if (state == kWindow_Init) {
    tabs->SelectItem(0);
    if (CControlUI* start = FindControl(L"btn_start")) start->SetVisible(false);
  } else if (state == kWindow_Downloading) {
    if (foldCheck_ != nullptr) foldCheck_->SetCheck(false, Notification::kNotify);
    tabs->SelectItem(1);
  } else if (state == kWindow_Finish) {
    tabs->SelectItem(0);
  }
}

// ---------------------------------------------------------------------------------------------
// Close, destroy, timers

LRESULT CSetupFrameWnd::OnClose(UINT, WPARAM wParam, LPARAM, bool& bHandled) {
  bHandled = false;
  if (wParam == kCloseNoPrompt) {
    RemoveInstallerFiles();
    return 0;
  }
  CControlUI* start = FindControl(L"btn_start");
  if (start != nullptr && start->IsVisible()) {
    RemoveInstallerFiles();
    return 0;
  }
  auto* tabs = dynamic_cast<CTabLayoutUI*>(FindControl(L"switch"));
  if (tabs == nullptr || closeQuestionOpen_) {
    bHandled = true;
    return 0;
  }

  closeQuestionOpen_ = true;
  const bool busyPage = tabs->GetCurSel() == 1;
  bool cancelled = false;
  std::wstring text = lang_.GetText(L"STR_CLOSE_TIP1");
  if (busyPage) {
    text = lang_.GetText(L"STR_CLOSE_TIP2");
    cancelled = CancelDownloadForQuestion();
  }
  const int answer = ShowMessageBox(text, MB_YESNO | MB_ICONQUESTION);
  closeQuestionOpen_ = false;

  if (answer == IDYES) {
    PostMessage(WM_CLOSE, kCloseNoPrompt, 0);
    RemoveInstallerFiles();
    return 0;
  }
  // No: the download the question stopped goes on where it was.
  if (busyPage && cancelled && state_ == kWindow_Downloading) {
    StartDownload(GetDownloadUrl(), installerFile_);
  }
  bHandled = true;
  return 0;
}

LRESULT CSetupFrameWnd::OnDestroy(UINT, WPARAM, LPARAM, bool& bHandled) {
  ShutDown();
  PostQuitMessage(18);
  bHandled = false;
  return 0;
}

LRESULT CSetupFrameWnd::HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM, bool& bHandled) {
  bHandled = false;
  if (msg != WM_TIMER) return 0;
  const int id = static_cast<int>(wParam);
  if (id == kTimerProgressPoll) {
    ReadProgressFile();
    bHandled = true;
  } else if (banner_ && banner_->OnTimer(id)) {
    bHandled = true;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Threads

void CSetupFrameWnd::RunOnUiThread(std::function<void()> fn) {
  if (windowGone_) return;
  if (OnUiThread()) {
    fn();
    return;
  }
  PostTask([this, fn = std::move(fn)] {
    if (!windowGone_) fn();
  });
}

int CSetupFrameWnd::ShowMessageBox(const std::wstring& text, unsigned flags) {
  if (lang_.IsRightToLeft()) flags |= MB_RTLREADING | MB_RIGHT | MB_SETFOREGROUND;
  return MessageBox(text, lang_.GetText(L"STR_MESSAGEBOX_TITLE"), flags);
}

int CSetupFrameWnd::AskUser(const std::wstring& text, unsigned flags) {
  if (OnUiThread())
    return windowGone_ ? MessageBoxDismissResult(flags) : ShowMessageBox(text, flags);
  auto box = std::make_shared<PendingBox>();
  box->text = text;
  box->flags = flags;
  {
    std::lock_guard<std::mutex> lock(boxesMutex_);
    // Without a window or a host nobody could answer.
    if (windowGone_ || GetHostBackend() == nullptr) return MessageBoxDismissResult(flags);
    pendingBoxes_.push_back(box);
  }
  PostTask([this, box] {
    if (!windowGone_) box->Answer(ShowMessageBox(box->text, box->flags));
  });
  int answer;
  {
    std::unique_lock<std::mutex> lock(box->mutex);
    box->answered.wait(lock, [&] { return box->done; });
    answer = box->answer;
  }
  std::lock_guard<std::mutex> lock(boxesMutex_);
  pendingBoxes_.remove(box);
  return answer;
}

void CSetupFrameWnd::ShutDown() {
  {
    std::lock_guard<std::mutex> lock(boxesMutex_);
    windowGone_ = true;
    for (auto& box : pendingBoxes_) box->Answer(MessageBoxDismissResult(box->flags));
  }
  cancelledGeneration_ = downloadGeneration_.load();
  CancelHttpDownload();
  // Only an installer this window started is ended: a process of that name may belong to
  // another copy of the program.
  if (std::int64_t pid = installerPid_.exchange(0); pid > 0) {
    KillSilentInstallProcess();
    KillProcess(static_cast<std::uint32_t>(pid));
  }
}

bool CSetupFrameWnd::WaitForWorkers(std::chrono::milliseconds timeout) const {
  return workers_.WaitAll(timeout);
}

void CSetupFrameWnd::SendAnalytics(int kind) {
  workers_.Start([kind] { SendGAThread(new GAThreadParam{0, CGA::Instance(), kind}); });
}

// ---------------------------------------------------------------------------------------------
// Shared fields

std::wstring CSetupFrameWnd::GetInstallFolder() const {
  std::lock_guard<std::mutex> lock(fieldsMutex_);
  return installFolder_;
}

void CSetupFrameWnd::SetInstallFolder(const std::wstring& folder) {
  std::lock_guard<std::mutex> lock(fieldsMutex_);
  installFolder_ = folder;
}

std::wstring CSetupFrameWnd::GetDownloadUrl() const {
  std::lock_guard<std::mutex> lock(fieldsMutex_);
  return downloadUrl_;
}

void CSetupFrameWnd::SetDownloadUrl(const std::wstring& url) {
  std::lock_guard<std::mutex> lock(fieldsMutex_);
  downloadUrl_ = url;
}

std::wstring CSetupFrameWnd::ProductFolder() const {
  return GetInstallFolder() + lang_.GetInstallSubDir();
}

std::wstring CSetupFrameWnd::ProductExecutable() const {
  return GetInstallFolder() + lang_.GetExeRelativePath();
}
