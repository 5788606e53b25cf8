// Builds a control tree from a skin file of the package: the Window attributes and Font
// table go to the paint manager, Include elements pull in other files' Window children.
// UI thread.
#pragma once

#include <memory>
#include <string>

#include "ui/controls/Control.h"

namespace SkinUI {

class CPaintManagerUI;
class CSkinResources;

// Lets an application supply controls for element names the toolkit does not know.
class ISkinBuilderCallback {
 public:
  virtual ~ISkinBuilderCallback() = default;
  // Null when the name is unknown to the application too.
  virtual std::unique_ptr<CControlUI> CreateControl(const std::wstring& className) {
    return nullptr;
  }
};

// A new, unattached control for an element name ("Button" ...); null for unknown names.
std::unique_ptr<CControlUI> CreateStockControl(const std::wstring& className);

struct BuildResult {
  std::unique_ptr<CControlUI> root;  // null on failure
  std::string error;                 // names the file and the element at fault
};

// Reads `skinFile` from the manager's resources and builds it. The manager receives the window
// attributes (size, sizebox, caption) and fonts; the root is returned, not attached.
// A tree of more than 20000 controls (includes repeated by "count") is refused.
BuildResult BuildSkin(const std::wstring& skinFile, CPaintManagerUI& manager,
                      ISkinBuilderCallback* callback);

}  // namespace SkinUI
