#include "ui/core/Notify.h"

#include "ui/controls/Control.h"

namespace SkinUI {

void CNotifyRouter::AddNotifyHandler(std::wstring type, std::wstring senderName, Handler handler) {
  entries_.push_back(Entry{std::move(type), std::move(senderName), std::move(handler)});
}

bool CNotifyRouter::RouteNotify(TNotifyUI& msg) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->type != msg.sType) continue;
    if (!it->name.empty() && (msg.pSender == nullptr || msg.pSender->GetName() != it->name)) {
      continue;
    }
    it->handler(msg);
    return true;
  }
  return false;
}

}  // namespace SkinUI
