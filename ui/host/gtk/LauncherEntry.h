// Taskbar progress through the launcher-entry D-Bus signal that docks and task managers show.
// Without a session bus it silently does nothing. UI thread.
#pragma once

#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace SkinUI {

class CLauncherEntry {
 public:
  // appUri: "application://NAME.desktop".
  explicit CLauncherEntry(std::string appUri);
  ~CLauncherEntry();
  CLauncherEntry(const CLauncherEntry&) = delete;
  CLauncherEntry& operator=(const CLauncherEntry&) = delete;

  bool IsConnected() const { return bus_ != nullptr; }
  // progress 0..1.
  void Update(double progress, bool progressVisible, bool urgent);

 private:
  std::string appUri_;
  GDBusConnection* bus_ = nullptr;
};

}  // namespace SkinUI
