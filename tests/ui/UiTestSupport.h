// Helpers for the toolkit's tests: a headless backend installed for the test's lifetime and
// a skinned window that records every notification it receives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/controls/Control.h"
#include "ui/host/headless/HeadlessHost.h"
#include "ui/window/SkinWindowBase.h"

namespace uitest {

// The source tree's skin folder.
std::wstring SkinFolder();

// Installs a fresh headless backend; removes it again on destruction.
class HeadlessScope {
 public:
  HeadlessScope();
  ~HeadlessScope();
  SkinUI::CHeadlessBackend& backend() { return *backend_; }

 private:
  std::shared_ptr<SkinUI::CHeadlessBackend> backend_;
};

struct Recorded {
  std::wstring type;
  std::wstring sender;
  std::intptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// A window built from a skin with the chosen source; records notifications as "type:name".
class RecordingWindow : public SkinUI::SkinWindowBase {
 public:
  RecordingWindow(SkinUI::UILIB_RESOURCETYPE type, std::wstring folderOrZip, std::wstring file);

  std::wstring GetWindowClassName() const override { return L"KVTestFrame"; }
  std::wstring GetSkinFolder() override { return folder_; }
  std::wstring GetSkinFile() override { return file_; }
  SkinUI::UILIB_RESOURCETYPE GetResourceType() const override { return type_; }
  int GetResourceID() const override { return 104; }
  std::wstring GetZIPFileName() const override { return folder_; }
  void Notify(SkinUI::TNotifyUI& msg) override;
  void OnSkinLoadFailed(const std::string& error) override { loadError = error; }
  void InitWindow() override { ++initCalls; }
  SkinUI::LRESULT HandleCustomMessage(SkinUI::UINT msg, SkinUI::WPARAM wParam,
                                      SkinUI::LPARAM lParam, bool& bHandled) override;
  SkinUI::LRESULT OnDestroy(SkinUI::UINT msg, SkinUI::WPARAM wParam, SkinUI::LPARAM lParam,
                            bool& bHandled) override;

  SkinUI::CHeadlessWindow& host();
  // "type:name" of each notification since the last call, and clears the record.
  std::vector<std::wstring> TakeEvents();
  std::vector<Recorded> events;
  std::string loadError;
  int initCalls = 0;
  int clicksSeenByBase = 0;
  int destroyCalls = 0;
  // (message, wParam) of every message that reached HandleCustomMessage.
  std::vector<std::pair<SkinUI::UINT, SkinUI::WPARAM>> messages;

 protected:
  void OnClick(SkinUI::TNotifyUI& msg) override;

 private:
  SkinUI::UILIB_RESOURCETYPE type_;
  std::wstring folder_;
  std::wstring file_;
};

// The centre of a control's rectangle.
SkinUI::UiPoint Centre(const SkinUI::CControlUI* c);

}  // namespace uitest
