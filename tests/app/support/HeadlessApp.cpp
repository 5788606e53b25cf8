#include "tests/app/support/HeadlessApp.h"

#include <cstdlib>

#include "log/Log.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/controls/Progress.h"
#include "ui/controls/TabLayout.h"

namespace apptest {

namespace fs = std::filesystem;

const HeadlessEnv& SetUpHeadlessEnv() {
  static PrivateDir root;
  static RecordingOpener opener;
  static const HeadlessEnv env = [] {
    HeadlessEnv e{root.path() / "pf", root.path() / "url.ini", &opener};
    fs::create_directories(e.programFiles);
    setenv("KV_PROGRAM_FILES", e.programFiles.c_str(), 1);
    setenv("KV_TEST_URL_INI", e.urlIni.c_str(), 1);
    // Analytics go to a port nothing listens on: they fail at once.
    setenv("KV_TEST_ANALYTICS_URL", "http://127.0.0.1:9/mp/collect", 1);
    setenv("PATH", opener.PathValue().c_str(), 1);
    setenv("KV_TEST_DOWNLOAD_TIMEOUT", "2", 1);
    return e;
  }();
  return env;
}

HeadlessApp::HeadlessApp(const std::map<std::string, std::string>& urls)
    : backend_(std::make_shared<SkinUI::CHeadlessBackend>()) {
  const HeadlessEnv& env = SetUpHeadlessEnv();
  std::map<std::string, std::string> all = {
      {"STR_DOWN_URL", "http://127.0.0.1:9/download/none.exe"},
      {"STR_DOWN_URL_X64", "http://127.0.0.1:9/download/none.exe"},
      {"STR_LICENCE_URL", "http://127.0.0.1:9/producturl?key=license_agreement"},
      {"STR_INSTALL_URL", "http://127.0.0.1:9/producturl?key=installed"}};
  for (const auto& [key, value] : urls) all[key] = value;
  WriteUrlIni(env.urlIni, all);
  SkinUI::SetHostBackend(backend_);
  frame_ = std::make_unique<CSetupFrameWnd>();
  frame_->InitEnvironment();
  frame_->Create(frame_->Language().GetText(L"STR_MESSAGEBOX_TITLE"));
  frame_->GetPaintManager().EnsureLayout();
}

HeadlessApp::~HeadlessApp() {
  DestroyFrame();
  if (SkinUI::GetHostBackend() == backend_.get()) SkinUI::SetHostBackend(nullptr);
}

void HeadlessApp::DestroyFrame() {
  frame_.reset();
}

SkinUI::CHeadlessWindow& HeadlessApp::host() {
  return *static_cast<SkinUI::CHeadlessWindow*>(frame_->GetHostWindow());
}

SkinUI::CControlUI* HeadlessApp::Find(const wchar_t* name) {
  return frame_->FindControl(name);
}

void HeadlessApp::Click(const wchar_t* name) {
  frame_->GetPaintManager().EnsureLayout();
  SkinUI::CControlUI* c = Find(name);
  if (c == nullptr) return;
  SkinUI::UiPoint p = uitest::Centre(c);
  host().Click(p.x, p.y);
}

bool HeadlessApp::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  return backend_->RunUntil(pred, timeout);
}

void HeadlessApp::RunFor(std::chrono::milliseconds time) {
  backend_->RunUntil([] { return false; }, time);
}

void HeadlessApp::SetAnswerer(std::function<int(const SkinUI::MessageBoxRequest&)> answerer) {
  backend_->SetMessageBoxAnswerer(std::move(answerer));
}

int HeadlessApp::Page() {
  auto* tabs = Find<SkinUI::CTabLayoutUI>(L"switch");
  return tabs != nullptr ? tabs->GetCurSel() : -1;
}

int HeadlessApp::ProgressValue() {
  auto* bar = Find<SkinUI::CProgressUI>(L"progress_download");
  return bar != nullptr ? bar->GetValue() : -1;
}

std::wstring HeadlessApp::ProgressText() {
  SkinUI::CControlUI* label = Find(L"label_progress");
  return label != nullptr ? label->GetText() : L"";
}

bool HeadlessApp::Visible(const wchar_t* name) {
  SkinUI::CControlUI* c = Find(name);
  return c != nullptr && c->IsVisibleInTree();
}

fs::path HeadlessApp::LogFile() const {
  return LogFilePath();
}

}  // namespace apptest
