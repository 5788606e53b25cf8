// The base of a skinned application window: builds the window from a skin package on
// creation, routes input to its controls and the controls' notifications to the hooks below.
// All hooks run on the UI thread.
#pragma once

#include <string>

#include "ui/core/Notify.h"
#include "ui/core/PaintManager.h"
#include "ui/core/SkinBuilder.h"
#include "ui/window/NativeWindow.h"

namespace SkinUI {

// Sees every message before the window handles it; set bHandled to stop it there.
class IMessageFilter {
 public:
  virtual ~IMessageFilter() = default;
  virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

class SkinWindowBase : public CNativeWindow,
                       public CNotifyRouter,
                       public INotifyListener,
                       public IMessageFilter,
                       public ISkinBuilderCallback {
 public:
  SkinWindowBase();
  ~SkinWindowBase() override;

  // Process-wide settings made once at start. The resource path is the folder that skin
  // folders and zip file names are relative to.
  static void SetInstance(void* instance);
  static void* GetInstance();
  static void SetResourcePath(const std::wstring& path);
  static const std::wstring& GetResourcePath();

  // --- Hooks, in the order the application overrides them
  std::wstring GetWindowClassName() const override = 0;
  // After the skin is built and attached.
  virtual void InitWindow() {}
  // "click" notifications; the base reacts to "closebtn", "minbtn", "maxbtn", "restorebtn".
  virtual void OnClick(TNotifyUI& msg);
  virtual std::wstring GetSkinFolder() = 0;
  virtual std::wstring GetSkinFile() = 0;
  virtual UILIB_RESOURCETYPE GetResourceType() const { return UILIB_FILE; }
  // The "ZIPRES" resource id for UILIB_ZIPRESOURCE.
  virtual int GetResourceID() const { return 0; }
  // WM_CLOSE: leave bHandled false to let the window close, set it to keep the window.
  virtual LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, bool& bHandled);
  virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, bool& bHandled);
  // WM_TIMER and the application's own messages.
  virtual LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& bHandled);
  // The zip file for UILIB_ZIP.
  virtual std::wstring GetZIPFileName() const { return L""; }
  // The skin could not be built: the default shows the error box and ends the process with
  // status 1.
  virtual void OnSkinLoadFailed(const std::string& error);

  // INotifyListener: routes through the notification map.
  void Notify(TNotifyUI& msg) override;
  // IMessageFilter: nothing by default.
  LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

  CPaintManagerUI& GetPaintManager() { return m_pm; }
  CControlUI* FindControl(std::wstring_view name) const { return m_pm.FindControl(name); }
  CControlUI* FindSubControl(CControlUI* parent, std::wstring_view name) const {
    return m_pm.FindSubControlByName(parent, name);
  }
  // Which part of the window a client point is: size box, caption or client.
  HitArea HitTest(UiPoint pt);
  // A right-to-left skin: its window file's name ends in "_rtl.xml", as the program names them.
  bool IsRightToLeftSkin() const { return rightToLeft_; }

 protected:
  bool OnCreate() override;
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

  void OnHostPaint(cairo_t* cr) override;
  void OnHostResize(UiSize clientSize) override;
  HitArea OnHostHitTest(UiPoint pt) override { return HitTest(pt); }
  void OnHostMouseMove(UiPoint pt) override { m_pm.OnMouseMove(pt); }
  void OnHostMouseLeave() override { m_pm.OnMouseLeaveWindow(); }
  void OnHostButtonDown(UiPoint pt, unsigned modifiers) override {
    m_pm.OnButtonDown(pt, modifiers);
  }
  void OnHostButtonUp(UiPoint pt, unsigned modifiers) override { m_pm.OnButtonUp(pt, modifiers); }
  void OnHostDoubleClick(UiPoint pt) override { m_pm.OnDoubleClick(pt); }
  void OnHostKeyDown(Key key, unsigned modifiers) override { m_pm.OnKeyDown(key, modifiers); }
  void OnHostChar(wchar_t ch) override { m_pm.OnChar(ch); }
  void OnHostFocusLost() override { m_pm.OnWindowFocusLost(); }
  std::vector<AccessibleNode> OnHostAccessibleNodes() override;
  // The action runs after the call returns, as a click would: a handler that opens a box must
  // not hold the screen reader's request open.
  bool OnHostAccessibleAction(std::uintptr_t id) override;
  bool OnHostAccessibleFocus(std::uintptr_t id) override;

  CPaintManagerUI m_pm;

 private:
  bool LoadSkin(std::string& error);
  bool rightToLeft_ = false;
};

// Shows the "could not load the skin" box and ends the process with status 1.
[[noreturn]] void FailSkinLoad(IHostWindow* owner);

}  // namespace SkinUI
