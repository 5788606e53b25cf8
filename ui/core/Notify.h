// Notifications from controls to the application, delivered synchronously on the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/core/Types.h"

namespace SkinUI {

class CControlUI;

// Notification type texts.
inline constexpr const wchar_t* kNotifyClick = L"click";
inline constexpr const wchar_t* kNotifySelectChanged = L"selectchanged";
inline constexpr const wchar_t* kNotifyTextChanged = L"textchanged";
inline constexpr const wchar_t* kNotifySetFocus = L"setfocus";
inline constexpr const wchar_t* kNotifyKillFocus = L"killfocus";
inline constexpr const wchar_t* kNotifyReturn = L"return";
inline constexpr const wchar_t* kNotifyTabSelect = L"tabselect";
inline constexpr const wchar_t* kNotifyWindowInit = L"windowinit";
inline constexpr const wchar_t* kNotifyTimer = L"timer";
inline constexpr const wchar_t* kNotifyLink = L"link";

struct TNotifyUI {
  std::wstring sType;
  std::wstring sVirtualWnd;
  CControlUI* pSender = nullptr;
  std::uint64_t dwTimestamp = 0;  // milliseconds of a monotonic clock
  UiPoint ptMouse;
  std::intptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

class INotifyListener {
 public:
  virtual ~INotifyListener() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

// A notification map: entries by type and, optionally, sender name. Entries added later are
// tried first, so a derived class's map (filled in its constructor) comes before its base's;
// the first matching entry handles the notification.
class CNotifyRouter {
 public:
  using Handler = std::function<void(TNotifyUI&)>;

  virtual ~CNotifyRouter() = default;

  // An empty senderName matches any sender.
  void AddNotifyHandler(std::wstring type, std::wstring senderName, Handler handler);
  // True when an entry handled it.
  bool RouteNotify(TNotifyUI& msg) const;

 private:
  struct Entry {
    std::wstring type;
    std::wstring name;
    Handler handler;
  };
  std::vector<Entry> entries_;
};

}  // namespace SkinUI
