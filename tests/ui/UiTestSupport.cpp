#include "tests/ui/UiTestSupport.h"

#include "tests/support/TestSupport.h"

namespace uitest {

std::wstring SkinFolder() {
  std::string s = (kvtest::SourceDir() / "ui" / "skin").string();
  return std::wstring(s.begin(), s.end());
}

HeadlessScope::HeadlessScope() : backend_(std::make_shared<SkinUI::CHeadlessBackend>()) {
  SkinUI::SetHostBackend(backend_);
}

HeadlessScope::~HeadlessScope() {
  SkinUI::SetHostBackend(nullptr);
}

RecordingWindow::RecordingWindow(SkinUI::UILIB_RESOURCETYPE type, std::wstring folderOrZip,
                                 std::wstring file)
    : type_(type), folder_(std::move(folderOrZip)), file_(std::move(file)) {}

void RecordingWindow::Notify(SkinUI::TNotifyUI& msg) {
  events.push_back(
      Recorded{msg.sType, msg.pSender ? msg.pSender->GetName() : L"", msg.wParam, msg.lParam});
  SkinWindowBase::Notify(msg);
}

void RecordingWindow::OnClick(SkinUI::TNotifyUI& msg) {
  ++clicksSeenByBase;
  SkinWindowBase::OnClick(msg);
}

SkinUI::LRESULT RecordingWindow::HandleCustomMessage(SkinUI::UINT msg, SkinUI::WPARAM wParam,
                                                     SkinUI::LPARAM lParam, bool& bHandled) {
  messages.emplace_back(msg, wParam);
  return SkinWindowBase::HandleCustomMessage(msg, wParam, lParam, bHandled);
}

SkinUI::LRESULT RecordingWindow::OnDestroy(SkinUI::UINT msg, SkinUI::WPARAM wParam,
                                           SkinUI::LPARAM lParam, bool& bHandled) {
  ++destroyCalls;
  return SkinWindowBase::OnDestroy(msg, wParam, lParam, bHandled);
}

SkinUI::CHeadlessWindow& RecordingWindow::host() {
  return *static_cast<SkinUI::CHeadlessWindow*>(GetHostWindow());
}

std::vector<std::wstring> RecordingWindow::TakeEvents() {
  std::vector<std::wstring> out;
  for (const Recorded& r : events) out.push_back(r.type + L":" + r.sender);
  events.clear();
  return out;
}

SkinUI::UiPoint Centre(const SkinUI::CControlUI* c) {
  const SkinUI::UiRect& r = c->GetPos();
  return SkinUI::UiPoint{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace uitest
