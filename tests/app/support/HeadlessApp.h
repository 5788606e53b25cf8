// The installer's controller on the toolkit's headless host, inside the test program: its
// controls can be looked at and clicked, its message boxes answered and its loop run, while
// its workers talk to real servers and write real files.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/SetupFrameWnd.h"
#include "tests/app/support/AppTestSupport.h"
#include "ui/host/headless/HeadlessHost.h"

namespace apptest {

// Set up once per test program, before the first controller: the Program Files stand-in, the
// URL configuration file the program reads instead of its own, analytics sent nowhere, and the
// recording opener first on PATH.
struct HeadlessEnv {
  std::filesystem::path programFiles;
  std::filesystem::path urlIni;
  RecordingOpener* opener;
};
const HeadlessEnv& SetUpHeadlessEnv();

class HeadlessApp {
 public:
  // Writes the URL configuration, then creates the window (hidden, as the host is headless).
  explicit HeadlessApp(const std::map<std::string, std::string>& urls = {});
  ~HeadlessApp();
  HeadlessApp(const HeadlessApp&) = delete;
  HeadlessApp& operator=(const HeadlessApp&) = delete;

  CSetupFrameWnd& frame() { return *frame_; }
  SkinUI::CHeadlessBackend& backend() { return *backend_; }
  SkinUI::CHeadlessWindow& host();
  SkinUI::CControlUI* Find(const wchar_t* name);
  template <typename T>
  T* Find(const wchar_t* name) {
    return dynamic_cast<T*>(Find(name));
  }
  // Lays out and clicks the control's centre with the mouse.
  void Click(const wchar_t* name);
  // Runs the UI loop until pred holds; false on time-out.
  bool RunUntil(const std::function<bool()>& pred,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void RunFor(std::chrono::milliseconds time);
  // The window was destroyed (closed).
  bool Closed() const { return !frame_->IsWindow(); }
  // Boxes are answered by this (on the UI thread); without it, with their dismiss answer.
  void SetAnswerer(std::function<int(const SkinUI::MessageBoxRequest&)> answerer);
  std::vector<SkinUI::MessageBoxRequest> Boxes() const { return backend_->GetMessageBoxes(); }
  // The tab page shown (0 home, 1 banner page).
  int Page();
  int ProgressValue();
  std::wstring ProgressText();
  bool Visible(const wchar_t* name);
  // Destroys the controller now (waits for its workers).
  void DestroyFrame();
  // The log of this test's controller.
  std::filesystem::path LogFile() const;

 private:
  std::shared_ptr<SkinUI::CHeadlessBackend> backend_;
  std::unique_ptr<CSetupFrameWnd> frame_;
};

}  // namespace apptest
