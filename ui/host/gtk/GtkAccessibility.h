// The window's controls on the desktop's accessibility interface (ATK, which GTK's bridge
// puts on AT-SPI): the drawing area the toolkit paints is a widget of its own type whose
// accessible has one child per control the toolkit describes, with its role, name, states,
// bounds, default action, progress value or text. Nothing is built until a screen reader (or
// any AT-SPI client) asks. UI thread.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "ui/host/Host.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _AtkObject AtkObject;

namespace SkinUI {

class CGtkAccessibility {
 public:
  explicit CGtkAccessibility(IHostWindowClient& client);
  ~CGtkAccessibility();
  CGtkAccessibility(const CGtkAccessibility&) = delete;
  CGtkAccessibility& operator=(const CGtkAccessibility&) = delete;

  // A new drawing area (floating reference) whose accessible shows the controls.
  GtkWidget* CreateArea();
  // Something on screen changed: the children are brought up to date when the loop is idle.
  void ScheduleRefresh();

  // For the accessible objects.
  void Activate(AtkObject* areaAccessible);
  void Refresh();
  int ChildCount();
  AtkObject* ChildAt(int index);  // a new reference, or null
  int IndexOf(AtkObject* child) const;
  IHostWindowClient& client() { return client_; }
  GtkWidget* area() const { return area_; }

 private:
  static int OnIdle(void* self);

  IHostWindowClient& client_;
  GtkWidget* area_ = nullptr;
  AtkObject* areaAccessible_ = nullptr;  // set once a client asked for it
  std::vector<AtkObject*> children_;     // owned references, in reading order
  unsigned idleSource_ = 0;
};

}  // namespace SkinUI
