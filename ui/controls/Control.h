// The base of every control: geometry, visibility, colours, background image, text and the
// custom attributes. All calls on the UI thread.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "ui/core/Events.h"
#include "ui/core/Types.h"
#include "ui/core/ValueFormats.h"

namespace SkinUI {

class CPaintManagerUI;
class CContainerUI;
class CRenderContext;

// Visual states of interactive controls.
enum ControlState : unsigned {
  kStateNormal = 0,
  kStateHot = 1,
  kStatePushed = 2,
  kStateFocused = 4,
  kStateDisabled = 8,
  kStateSelected = 16,
};

enum class Notification { kSilent, kNotify };

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  // The element name this class is made from ("Button", "Option" ...).
  virtual std::wstring_view GetClass() const { return L"Control"; }

  const std::wstring& GetName() const { return name_; }
  void SetName(std::wstring name) { name_ = std::move(name); }

  virtual const std::wstring& GetText() const { return text_; }
  virtual void SetText(const std::wstring& text);

  bool IsVisible() const { return visible_; }
  // Visible and all ancestors visible.
  bool IsVisibleInTree() const;
  virtual void SetVisible(bool visible);
  bool IsEnabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  bool IsFocused() const;
  virtual bool IsFocusable() const { return false; }
  void SetFocus();
  // A timer of this control: each tick sends "timer" with `id` as wParam. False when the
  // control is not in a window yet.
  bool SetTimer(int id, unsigned intervalMs);
  void KillTimer(int id);

  // Sets one skin attribute from its text, as the skin file would. Unknown names are ignored.
  virtual void SetAttribute(std::wstring_view name, std::wstring_view value);

  const std::wstring& GetBkImage() const { return bkImage_; }
  void SetBkImage(const std::wstring& image);
  UiColor GetBkColor() const { return bkColor_; }
  void SetBkColor(UiColor color);

  // A named text value of the application's own, stored on the control.
  void SetCustomAttribute(const std::wstring& name, const std::wstring& value);
  // Null when not set.
  const std::wstring* GetCustomAttribute(const std::wstring& name) const;
  void RemoveCustomAttribute(const std::wstring& name);

  // Geometry: the rectangle in window coordinates after layout.
  const UiRect& GetPos() const { return rcItem_; }
  virtual void SetPos(const UiRect& rc);
  int GetFixedWidth() const { return fixedWidth_; }
  int GetFixedHeight() const { return fixedHeight_; }
  void SetFixedWidth(int cx);
  void SetFixedHeight(int cy);
  bool IsFloat() const { return float_; }
  const UiRect& GetFloatPos() const { return floatPos_; }

  CControlUI* GetParent() const { return parent_; }
  CPaintManagerUI* GetManager() const { return manager_; }
  // Attaches this control (and its children) to a manager and a parent.
  virtual void SetOwner(CPaintManagerUI* manager, CControlUI* parent);

  // The deepest visible control under pt (this one or a child); null when pt is outside.
  virtual CControlUI* FindControlAt(UiPoint pt);
  // Depth-first search by exact name over this control and its subtree.
  virtual CControlUI* FindByName(std::wstring_view name);
  // Calls f for this control and every descendant, in document order.
  virtual void ForEach(const std::function<void(CControlUI*)>& f);

  virtual void DoEvent(TEventUI& event);
  virtual void DoPaint(CRenderContext& ctx);
  // Presses the control as a click would (buttons, options); false when it cannot act.
  virtual bool Activate();

  void Invalidate();
  void NeedParentUpdate();

 protected:
  virtual void PaintBkColor(CRenderContext& ctx);
  virtual void PaintBkImage(CRenderContext& ctx);
  virtual void PaintStatusImage(CRenderContext& ctx) {}
  virtual void PaintText(CRenderContext& ctx) {}
  virtual void PaintBorder(CRenderContext& ctx);

  CPaintManagerUI* manager_ = nullptr;
  CControlUI* parent_ = nullptr;
  std::wstring name_;
  std::wstring text_;
  UiRect rcItem_;
  UiRect floatPos_;
  bool float_ = false;
  int fixedWidth_ = 0;
  int fixedHeight_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  UiColor bkColor_ = 0;
  UiColor borderColor_ = 0;
  UiColor focusBorderColor_ = 0;
  int borderSize_ = 0;
  UiSize borderRound_;
  std::wstring bkImage_;
  std::map<std::wstring, std::wstring> custom_;
};

}  // namespace SkinUI
