#include "ui/window/SkinWindowBase.h"

#include <cstdlib>
#include <cwctype>

#include "platform/Resources.h"
#include "ui/controls/Button.h"
#include "ui/controls/Control.h"
#include "ui/core/SkinResources.h"
#include "ui/core/Utf.h"
#include "ui/window/AccessibleTree.h"

namespace SkinUI {
namespace {

void* g_instance = nullptr;

std::wstring& ResourcePath() {
  static std::wstring path;
  return path;
}

// Controls that take the mouse even inside the caption area. Check boxes and edits are
// included: a control the user cannot click would be useless there.
bool TakesMouseInCaption(const CControlUI* c) {
  static const wchar_t* kClasses[] = {L"Button", L"Option", L"Text", L"CheckBox", L"Edit"};
  for (const wchar_t* k : kClasses) {
    if (EqualsNoCase(c->GetClass(), k)) return true;
  }
  return false;
}

std::string JoinPath(const std::wstring& folder, const std::wstring& name) {
  std::string f = ToUtf8(folder);
  std::string n = ToUtf8(name);
  for (char& ch : n) {
    if (ch == '\\') ch = '/';
  }
  if (!n.empty() && n.front() == '/') return n;
  if (!f.empty() && f.back() != '/') f += '/';
  return f + n;
}

}  // namespace

void FailSkinLoad(IHostWindow* owner) {
  if (IHostBackend* backend = GetHostBackend()) {
    backend->MessageBox(owner, L"加载资源文件失败", L"SkinUI", MB_OK | MB_ICONERROR);
  }
  std::exit(1);
}

SkinWindowBase::SkinWindowBase() {
  AddNotifyHandler(kNotifyClick, L"", [this](TNotifyUI& msg) { OnClick(msg); });
}

SkinWindowBase::~SkinWindowBase() {
  m_pm.RemoveNotifier(this);
}

void SkinWindowBase::SetInstance(void* instance) {
  g_instance = instance;
}
void* SkinWindowBase::GetInstance() {
  return g_instance;
}
void SkinWindowBase::SetResourcePath(const std::wstring& path) {
  ResourcePath() = path;
}
const std::wstring& SkinWindowBase::GetResourcePath() {
  return ResourcePath();
}

void SkinWindowBase::OnClick(TNotifyUI& msg) {
  if (msg.pSender == nullptr) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"closebtn") {
    PostMessage(WM_CLOSE, 1, 0);
  } else if (name == L"minbtn") {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == L"maxbtn") {
    SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  } else if (name == L"restorebtn") {
    SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
  }
}

LRESULT SkinWindowBase::OnClose(UINT, WPARAM, LPARAM, bool& bHandled) {
  bHandled = false;
  return 0;
}

LRESULT SkinWindowBase::OnDestroy(UINT, WPARAM, LPARAM, bool& bHandled) {
  bHandled = false;
  return 0;
}

LRESULT SkinWindowBase::HandleCustomMessage(UINT, WPARAM, LPARAM, bool& bHandled) {
  bHandled = false;
  return 0;
}

void SkinWindowBase::OnSkinLoadFailed(const std::string& error) {
  FailSkinLoad(GetHostWindow());
}

void SkinWindowBase::Notify(TNotifyUI& msg) {
  RouteNotify(msg);
}

LRESULT SkinWindowBase::MessageHandler(UINT, WPARAM, LPARAM, bool& bHandled) {
  bHandled = false;
  return 0;
}

bool SkinWindowBase::LoadSkin(std::string& error) {
  auto resources = std::make_shared<CSkinResources>();
  bool opened = false;
  switch (GetResourceType()) {
    case UILIB_ZIPRESOURCE:
    case UILIB_RESOURCE:
      opened = resources->OpenEmbedded(platform::kResTypeZipRes, GetResourceID());
      if (!opened) error = "no skin resource ZIPRES " + std::to_string(GetResourceID());
      break;
    case UILIB_ZIP:
      opened = resources->OpenZipFile(JoinPath(GetResourcePath(), GetZIPFileName()));
      if (!opened) error = "cannot open the skin archive " + ToUtf8(GetZIPFileName());
      break;
    case UILIB_FILE:
    default:
      opened = resources->OpenFolder(JoinPath(GetResourcePath(), GetSkinFolder()));
      if (!opened) error = "cannot open the skin folder " + ToUtf8(GetSkinFolder());
      break;
  }
  if (!opened) return false;
  m_pm.SetResources(resources);
  std::wstring file = GetSkinFile();
  static const std::wstring kRtlSuffix = L"_rtl.xml";
  rightToLeft_ =
      file.size() >= kRtlSuffix.size() &&
      EqualsNoCase(std::wstring_view(file).substr(file.size() - kRtlSuffix.size()), kRtlSuffix);
  BuildResult built = BuildSkin(file, m_pm, this);
  if (!built.root) {
    error = built.error;
    return false;
  }
  m_pm.AttachRoot(std::move(built.root));
  return true;
}

bool SkinWindowBase::OnCreate() {
  std::string error;
  if (!LoadSkin(error)) {
    OnSkinLoadFailed(error);
    return false;
  }
  m_pm.AddNotifier(this);
  m_pm.SetTimerHandlers([this](int id, unsigned ms) { return SetTimer(id, ms); },
                        [this](int id) { KillTimer(id); });
  m_pm.SetInvalidateHandler([this] {
    if (IHostWindow* w = GetHostWindow()) w->Invalidate();
  });
  UiSize size = m_pm.GetInitSize();
  if (size.cx > 0 && size.cy > 0) ResizeClient(size.cx, size.cy);
  // Below the skin's own size the fixed rows would overlap.
  UiSize least = m_pm.GetMinInfo();
  SetMinClientSize(least.cx, least.cy);
  m_pm.SetClientSize(GetClientSize());
  InitWindow();
  return true;
}

LRESULT SkinWindowBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  // Control timers are the toolkit's own; the window's handlers never see their ticks.
  if (msg == WM_TIMER && m_pm.OnWindowTimer(static_cast<int>(wParam))) return 0;
  bool handled = false;
  LRESULT r = MessageHandler(msg, wParam, lParam, handled);
  if (handled) return r;
  switch (msg) {
    case WM_CLOSE:
      r = OnClose(msg, wParam, lParam, handled);
      if (!handled) DestroyWindow();
      return r;
    case WM_DESTROY:
      r = OnDestroy(msg, wParam, lParam, handled);
      return r;
    case WM_SYSCOMMAND:
      return CNativeWindow::HandleMessage(msg, wParam, lParam);
    default:
      break;
  }
  r = HandleCustomMessage(msg, wParam, lParam, handled);
  if (handled) return r;
  return CNativeWindow::HandleMessage(msg, wParam, lParam);
}

void SkinWindowBase::OnHostPaint(cairo_t* cr) {
  m_pm.Paint(cr);
}

void SkinWindowBase::OnHostResize(UiSize clientSize) {
  m_pm.SetClientSize(clientSize);
}

std::vector<AccessibleNode> SkinWindowBase::OnHostAccessibleNodes() {
  m_pm.EnsureLayout();
  return DescribeControls(
      m_pm, rightToLeft_ ? LayoutDirection::kRightToLeft : LayoutDirection::kLeftToRight);
}

bool SkinWindowBase::OnHostAccessibleAction(std::uintptr_t id) {
  CControlUI* c = FindDescribedControl(m_pm, id);
  if (c == nullptr || !c->IsEnabled() || dynamic_cast<CButtonUI*>(c) == nullptr) return false;
  PostTask([this, id] {
    // Looked up again: the control may be gone or hidden by now.
    if (CControlUI* now = FindDescribedControl(m_pm, id)) now->Activate();
  });
  return true;
}

bool SkinWindowBase::OnHostAccessibleFocus(std::uintptr_t id) {
  CControlUI* c = FindDescribedControl(m_pm, id);
  if (c == nullptr || !c->IsFocusable() || !c->IsEnabled()) return false;
  m_pm.SetFocus(c);
  return m_pm.GetFocus() == c;
}

HitArea SkinWindowBase::HitTest(UiPoint pt) {
  UiSize size = m_pm.GetClientSize();
  IHostWindow* host = GetHostWindow();
  const UiRect& box = m_pm.GetSizeBox();
  if (host == nullptr || !host->IsMaximized()) {
    bool left = pt.x < box.left;
    bool right = pt.x >= size.cx - box.right;
    bool top = pt.y < box.top;
    bool bottom = pt.y >= size.cy - box.bottom;
    if (top && left) return HitArea::kTopLeft;
    if (top && right) return HitArea::kTopRight;
    if (bottom && left) return HitArea::kBottomLeft;
    if (bottom && right) return HitArea::kBottomRight;
    if (left) return HitArea::kLeft;
    if (right) return HitArea::kRight;
    if (top) return HitArea::kTop;
    if (bottom) return HitArea::kBottom;
  }
  const UiRect& cap = m_pm.GetCaptionRect();
  if (pt.x >= cap.left && pt.x < size.cx - cap.right && pt.y >= cap.top && pt.y < cap.bottom) {
    CControlUI* c = m_pm.FindControlAt(pt);
    if (c != nullptr && TakesMouseInCaption(c)) return HitArea::kClient;
    return HitArea::kCaption;
  }
  return HitArea::kClient;
}

}  // namespace SkinUI
