// Owns a window's control tree and everything the controls share: the skin resources, the
// font table, the image cache, focus, hot and pushed tracking, option groups, layout and
// the notification listeners. Hosts feed it input and ask it to paint. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/core/Events.h"
#include "ui/core/Notify.h"
#include "ui/core/Types.h"

typedef struct _cairo cairo_t;

namespace SkinUI {

class CControlUI;
class COptionUI;
class CSkinResources;
class CImageCache;
class CFontCache;
class CRenderContext;

struct FontInfo {
  std::wstring name;
  int size = 12;  // pixel height
  bool bold = false;
  bool italic = false;
  bool underline = false;
};

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // --- Resources, fonts, images, link colours
  void SetResources(std::shared_ptr<CSkinResources> resources);
  CSkinResources* GetResources() const { return resources_.get(); }
  void AddFont(int id, const FontInfo& font);
  // The font of an index, or the default font for an index the table lacks.
  const FontInfo& GetFont(int id) const;
  const FontInfo& GetDefaultFont() const { return defaultFont_; }
  void SetDefaultFont(const FontInfo& font) { defaultFont_ = font; }
  CImageCache& GetImageCache() { return *images_; }
  CFontCache& GetFontCache() { return *fonts_; }
  UiColor GetLinkColor() const { return linkColor_; }
  UiColor GetLinkHoverColor() const { return linkHoverColor_; }
  void SetLinkColors(UiColor normal, UiColor hover);

  // --- Window attributes read from the skin's root element
  UiSize GetInitSize() const { return initSize_; }
  void SetInitSize(UiSize size) { initSize_ = size; }
  // "mininfo"; the window's smallest client size, the initial size when not given.
  UiSize GetMinInfo() const { return minInfo_.cx > 0 || minInfo_.cy > 0 ? minInfo_ : initSize_; }
  void SetMinInfo(UiSize size) { minInfo_ = size; }
  const UiRect& GetSizeBox() const { return sizeBox_; }
  void SetSizeBox(const UiRect& box) { sizeBox_ = box; }
  // left and right are margins, top and bottom distances from the top ("0,0,0,290").
  const UiRect& GetCaptionRect() const { return caption_; }
  void SetCaptionRect(const UiRect& caption) { caption_ = caption; }

  // --- The tree
  void AttachRoot(std::unique_ptr<CControlUI> root);
  CControlUI* GetRoot() const { return root_.get(); }
  // Exact, case-sensitive match on the name over the whole tree; null when absent.
  CControlUI* FindControl(std::wstring_view name) const;
  // The same, limited to the subtree of parent.
  CControlUI* FindSubControlByName(CControlUI* parent, std::wstring_view name) const;
  // The deepest visible control at a point of the client area.
  CControlUI* FindControlAt(UiPoint pt) const;

  // --- Layout and painting
  void SetClientSize(UiSize size);
  UiSize GetClientSize() const { return clientSize_; }
  void NeedUpdate();
  void Invalidate();
  // Lays the tree out when something changed; the first layout sends "windowinit".
  void EnsureLayout();
  // Called whenever the window needs repainting (the host queues a draw).
  void SetInvalidateHandler(std::function<void()> handler) { onInvalidate_ = std::move(handler); }
  void Paint(cairo_t* cr);

  // --- Notifications
  void AddNotifier(INotifyListener* listener);
  void RemoveNotifier(INotifyListener* listener);
  void SendNotify(CControlUI* sender, const wchar_t* type, std::intptr_t wParam = 0,
                  std::intptr_t lParam = 0);

  // --- Control timers: each tick sends "timer" from the control with the timer's id as
  // wParam. They run on the window's timers, under ids from kControlTimerBase up, which the
  // window sets and kills through `start` and `stop`. Starting an id again replaces it.
  static constexpr int kControlTimerBase = 0x40000000;
  void SetTimerHandlers(std::function<bool(int hostId, unsigned intervalMs)> start,
                        std::function<void(int hostId)> stop);
  bool SetTimer(CControlUI* control, int id, unsigned intervalMs);
  void KillTimer(CControlUI* control, int id);
  // A window timer fired: true when it was a control's (its "timer" went out).
  bool OnWindowTimer(int hostId);

  // --- Input from the host (client coordinates in pixels)
  void OnMouseMove(UiPoint pt);
  void OnMouseLeaveWindow();
  void OnButtonDown(UiPoint pt, unsigned modifiers = kModNone);
  void OnButtonUp(UiPoint pt, unsigned modifiers = kModNone);
  void OnDoubleClick(UiPoint pt);
  void OnKeyDown(Key key, unsigned modifiers = kModNone);
  void OnChar(wchar_t ch);
  // The window lost the keyboard: the pushed state ends.
  void OnWindowFocusLost();

  // --- Focus
  CControlUI* GetFocus() const { return focus_; }
  // Sends "killfocus" to the old and "setfocus" to the new control; null clears the focus.
  void SetFocus(CControlUI* control);
  // Tab order is document order over visible, enabled, focusable controls.
  void MoveFocus(bool forward);
  // Whether the focus ring shows: after the keyboard moved or used the focus, not after a press
  // of the mouse.
  bool IsFocusRingVisible() const { return focusVisible_; }
  static constexpr int kFocusRingWidth = 2;
  CControlUI* GetHot() const { return hot_; }

  // --- Option groups (kept by the options themselves)
  void AddOptionGroup(const std::wstring& group, COptionUI* option);
  void RemoveOptionGroup(const std::wstring& group, COptionUI* option);
  std::vector<COptionUI*> GetOptionGroup(const std::wstring& group) const;

  // --- Bookkeeping called by controls
  void ForgetControl(CControlUI* control);
  void ControlHidden(CControlUI* control);

  static std::uint64_t NowMs();

 private:
  void SetHot(CControlUI* control, UiPoint pt);
  void PaintFocusRing(CRenderContext& ctx);
  void Dispatch(CControlUI* target, EventType type, UiPoint pt, Key key = Key::kNone,
                wchar_t ch = 0, unsigned modifiers = kModNone);
  bool InSubtree(const CControlUI* node, const CControlUI* root) const;

  std::shared_ptr<CSkinResources> resources_;
  std::map<int, FontInfo> fontTable_;
  FontInfo defaultFont_;
  std::unique_ptr<CImageCache> images_;
  std::unique_ptr<CFontCache> fonts_;
  UiColor linkColor_ = 0xFF0000FF;
  UiColor linkHoverColor_ = 0xFFD3215F;

  UiSize initSize_;
  UiSize minInfo_{0, 0};
  UiRect sizeBox_;
  UiRect caption_;

  std::unique_ptr<CControlUI> root_;
  UiSize clientSize_;
  bool needUpdate_ = true;
  bool initSent_ = false;
  bool inLayout_ = false;
  std::function<void()> onInvalidate_;

  std::vector<INotifyListener*> listeners_;
  std::map<std::wstring, std::vector<COptionUI*>> groups_;

  CControlUI* focus_ = nullptr;
  CControlUI* hot_ = nullptr;
  CControlUI* captured_ = nullptr;
  bool focusVisible_ = false;

  struct ControlTimer {
    CControlUI* control;
    int id;
  };
  std::map<int, ControlTimer> timers_;  // by window timer id
  int nextTimerId_ = kControlTimerBase;
  std::function<bool(int, unsigned)> startTimer_;
  std::function<void(int)> stopTimer_;
  UiPoint lastMouse_;
};

}  // namespace SkinUI
