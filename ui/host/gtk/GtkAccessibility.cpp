#include "ui/host/gtk/GtkAccessibility.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "ui/core/Utf.h"

using SkinUI::AccessibleNode;
using SkinUI::AccessibleRole;
using SkinUI::CGtkAccessibility;

// --- GObject types ------------------------------------------------------------------------------
// The drawing area (KvSkinArea) names its accessible type (KvAreaAccessible); each control is a
// KvControlAccessible, or one of its subtypes that add the action, value or text interface.

extern "C" {

struct KvSkinArea {
  GtkDrawingArea parent;
  CGtkAccessibility* owner;
};
struct KvSkinAreaClass {
  GtkDrawingAreaClass parent_class;
};

struct KvAreaAccessible {
  GtkWidgetAccessible parent;
};
struct KvAreaAccessibleClass {
  GtkWidgetAccessibleClass parent_class;
};

struct KvControlAccessible {
  AtkObject parent;
  CGtkAccessibility* owner;
  AccessibleNode* node;
  gchar* action;
  gchar* text;
  gboolean defunct;
};
struct KvControlAccessibleClass {
  AtkObjectClass parent_class;
};

struct KvActionAccessible {
  KvControlAccessible parent;
};
struct KvActionAccessibleClass {
  KvControlAccessibleClass parent_class;
};
struct KvValueAccessible {
  KvControlAccessible parent;
};
struct KvValueAccessibleClass {
  KvControlAccessibleClass parent_class;
};
struct KvTextAccessible {
  KvControlAccessible parent;
};
struct KvTextAccessibleClass {
  KvControlAccessibleClass parent_class;
};

}  // extern "C"

namespace {

CGtkAccessibility* AreaOwner(AtkObject* areaAccessible) {
  GtkWidget* w = gtk_accessible_get_widget(GTK_ACCESSIBLE(areaAccessible));
  return w ? reinterpret_cast<KvSkinArea*>(w)->owner : nullptr;
}

KvControlAccessible* AsControl(gpointer p) {
  return reinterpret_cast<KvControlAccessible*>(p);
}

// A control that has gone answers nothing.
const AccessibleNode* LiveNode(gpointer p) {
  KvControlAccessible* c = AsControl(p);
  return (c->defunct || c->owner == nullptr) ? nullptr : c->node;
}

}  // namespace

extern "C" {

// KvAreaAccessible
G_DEFINE_TYPE(KvAreaAccessible, kv_area_accessible, GTK_TYPE_WIDGET_ACCESSIBLE)

static gint kv_area_get_n_children(AtkObject* o) {
  CGtkAccessibility* owner = AreaOwner(o);
  if (owner == nullptr) return 0;
  owner->Activate(o);
  return owner->ChildCount();
}

static AtkObject* kv_area_ref_child(AtkObject* o, gint i) {
  CGtkAccessibility* owner = AreaOwner(o);
  if (owner == nullptr) return nullptr;
  owner->Activate(o);
  return owner->ChildAt(i);
}

static void kv_area_initialize(AtkObject* o, gpointer data) {
  ATK_OBJECT_CLASS(kv_area_accessible_parent_class)->initialize(o, data);
  atk_object_set_role(o, ATK_ROLE_PANEL);
}

static void kv_area_accessible_init(KvAreaAccessible*) {}

static void kv_area_accessible_class_init(KvAreaAccessibleClass* klass) {
  AtkObjectClass* k = ATK_OBJECT_CLASS(klass);
  k->get_n_children = kv_area_get_n_children;
  k->ref_child = kv_area_ref_child;
  k->initialize = kv_area_initialize;
}

// KvSkinArea
G_DEFINE_TYPE(KvSkinArea, kv_skin_area, GTK_TYPE_DRAWING_AREA)

static void kv_skin_area_init(KvSkinArea* self) {
  self->owner = nullptr;
}

static void kv_skin_area_class_init(KvSkinAreaClass* klass) {
  gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), kv_area_accessible_get_type());
}

// KvControlAccessible: role, name, states, place among its siblings, bounds.
static void kv_component_init(AtkComponentIface* iface);

G_DEFINE_TYPE_WITH_CODE(KvControlAccessible, kv_control_accessible, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT, kv_component_init))

static void kv_control_accessible_init(KvControlAccessible* self) {
  self->owner = nullptr;
  self->node = new AccessibleNode();
  self->action = nullptr;
  self->text = nullptr;
  self->defunct = FALSE;
}

static void kv_control_finalize(GObject* o) {
  KvControlAccessible* c = AsControl(o);
  delete c->node;
  g_free(c->action);
  g_free(c->text);
  G_OBJECT_CLASS(kv_control_accessible_parent_class)->finalize(o);
}

static AtkStateSet* kv_control_ref_state_set(AtkObject* o) {
  AtkStateSet* set = atk_state_set_new();
  const AccessibleNode* n = LiveNode(o);
  if (n == nullptr) {
    atk_state_set_add_state(set, ATK_STATE_DEFUNCT);
    return set;
  }
  atk_state_set_add_state(set, ATK_STATE_VISIBLE);
  atk_state_set_add_state(set, ATK_STATE_SHOWING);
  if (n->enabled) {
    atk_state_set_add_state(set, ATK_STATE_ENABLED);
    atk_state_set_add_state(set, ATK_STATE_SENSITIVE);
  }
  if (n->focusable) atk_state_set_add_state(set, ATK_STATE_FOCUSABLE);
  if (n->focused) atk_state_set_add_state(set, ATK_STATE_FOCUSED);
  if (n->checkable) atk_state_set_add_state(set, ATK_STATE_CHECKABLE);
  if (n->checked) atk_state_set_add_state(set, ATK_STATE_CHECKED);
  if (n->role == AccessibleRole::kEntry) {
    atk_state_set_add_state(set, ATK_STATE_SINGLE_LINE);
    atk_state_set_add_state(set, n->editable ? ATK_STATE_EDITABLE : ATK_STATE_READ_ONLY);
  }
  return set;
}

static gint kv_control_get_index_in_parent(AtkObject* o) {
  KvControlAccessible* c = AsControl(o);
  return c->owner ? c->owner->IndexOf(o) : -1;
}

static void kv_control_accessible_class_init(KvControlAccessibleClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = kv_control_finalize;
  AtkObjectClass* k = ATK_OBJECT_CLASS(klass);
  k->ref_state_set = kv_control_ref_state_set;
  k->get_index_in_parent = kv_control_get_index_in_parent;
}

static void kv_get_extents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                           AtkCoordType type) {
  *x = *y = *width = *height = 0;
  const AccessibleNode* n = LiveNode(component);
  if (n == nullptr) return;
  GtkWidget* area = AsControl(component)->owner->area();
  int ox = 0, oy = 0;
  if (type == ATK_XY_SCREEN) {
    if (GdkWindow* w = area ? gtk_widget_get_window(area) : nullptr)
      gdk_window_get_origin(w, &ox, &oy);
  } else if (type == ATK_XY_WINDOW && area != nullptr) {
    gtk_widget_translate_coordinates(area, gtk_widget_get_toplevel(area), 0, 0, &ox, &oy);
  }
  *x = ox + n->bounds.left;
  *y = oy + n->bounds.top;
  *width = n->bounds.GetWidth();
  *height = n->bounds.GetHeight();
}

static gboolean kv_grab_focus(AtkComponent* component) {
  const AccessibleNode* n = LiveNode(component);
  if (n == nullptr) return FALSE;
  KvControlAccessible* c = AsControl(component);
  if (GtkWidget* area = c->owner->area()) gtk_widget_grab_focus(area);
  return c->owner->client().OnHostAccessibleFocus(n->id);
}

static void kv_component_init(AtkComponentIface* iface) {
  iface->get_extents = kv_get_extents;
  iface->grab_focus = kv_grab_focus;
}

// KvActionAccessible: buttons, check boxes, options.
static void kv_action_init(AtkActionIface* iface);
G_DEFINE_TYPE_WITH_CODE(KvActionAccessible, kv_action_accessible, kv_control_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, kv_action_init))
static void kv_action_accessible_init(KvActionAccessible*) {}
static void kv_action_accessible_class_init(KvActionAccessibleClass*) {}

static gint kv_action_get_n_actions(AtkAction* a) {
  const AccessibleNode* n = LiveNode(a);
  return (n != nullptr && !n->action.empty()) ? 1 : 0;
}

static gboolean kv_action_do_action(AtkAction* a, gint i) {
  const AccessibleNode* n = LiveNode(a);
  if (n == nullptr || i != 0 || n->action.empty() || !n->enabled) return FALSE;
  return AsControl(a)->owner->client().OnHostAccessibleAction(n->id);
}

static const gchar* kv_action_get_name(AtkAction* a, gint i) {
  return (i == 0 && LiveNode(a) != nullptr) ? AsControl(a)->action : nullptr;
}

static void kv_action_init(AtkActionIface* iface) {
  iface->get_n_actions = kv_action_get_n_actions;
  iface->do_action = kv_action_do_action;
  iface->get_name = kv_action_get_name;
  iface->get_localized_name = kv_action_get_name;
}

// KvValueAccessible: the progress bar.
static void kv_value_init(AtkValueIface* iface);
G_DEFINE_TYPE_WITH_CODE(KvValueAccessible, kv_value_accessible, kv_control_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_VALUE, kv_value_init))
static void kv_value_accessible_init(KvValueAccessible*) {}
static void kv_value_accessible_class_init(KvValueAccessibleClass*) {}

static void SetDouble(GValue* v, double d) {
  g_value_init(v, G_TYPE_DOUBLE);
  g_value_set_double(v, d);
}

static void kv_value_get_current(AtkValue* v, GValue* out) {
  const AccessibleNode* n = LiveNode(v);
  SetDouble(out, n ? n->value : 0);
}
static void kv_value_get_minimum(AtkValue* v, GValue* out) {
  const AccessibleNode* n = LiveNode(v);
  SetDouble(out, n ? n->minimum : 0);
}
static void kv_value_get_maximum(AtkValue* v, GValue* out) {
  const AccessibleNode* n = LiveNode(v);
  SetDouble(out, n ? n->maximum : 0);
}
static void kv_value_get_value_and_text(AtkValue* v, gdouble* value, gchar** text) {
  const AccessibleNode* n = LiveNode(v);
  *value = n ? n->value : 0;
  if (text) *text = g_strdup_printf("%d %%", n ? n->value : 0);
}
static AtkRange* kv_value_get_range(AtkValue* v) {
  const AccessibleNode* n = LiveNode(v);
  return n ? atk_range_new(n->minimum, n->maximum, nullptr) : nullptr;
}

static void kv_value_init(AtkValueIface* iface) {
  iface->get_current_value = kv_value_get_current;
  iface->get_minimum_value = kv_value_get_minimum;
  iface->get_maximum_value = kv_value_get_maximum;
  iface->get_value_and_text = kv_value_get_value_and_text;
  iface->get_range = kv_value_get_range;
}

// KvTextAccessible: texts and the edit box.
static void kv_text_init(AtkTextIface* iface);
G_DEFINE_TYPE_WITH_CODE(KvTextAccessible, kv_text_accessible, kv_control_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_TEXT, kv_text_init))
static void kv_text_accessible_init(KvTextAccessible*) {}
static void kv_text_accessible_class_init(KvTextAccessibleClass*) {}

static const gchar* TextOf(gpointer t) {
  KvControlAccessible* c = AsControl(t);
  return (LiveNode(t) != nullptr && c->text != nullptr) ? c->text : "";
}

static gint kv_text_get_character_count(AtkText* t) {
  return static_cast<gint>(g_utf8_strlen(TextOf(t), -1));
}

static gchar* kv_text_get_text(AtkText* t, gint start, gint end) {
  const gchar* text = TextOf(t);
  glong count = g_utf8_strlen(text, -1);
  if (end < 0 || end > count) end = static_cast<gint>(count);
  start = std::clamp<gint>(start, 0, end);
  return g_utf8_substring(text, start, end);
}

static gunichar kv_text_get_character_at_offset(AtkText* t, gint offset) {
  const gchar* text = TextOf(t);
  if (offset < 0 || offset >= g_utf8_strlen(text, -1)) return 0;
  return g_utf8_get_char(g_utf8_offset_to_pointer(text, offset));
}

static gint kv_text_get_caret_offset(AtkText* t) {
  return 0;
}

static void kv_text_init(AtkTextIface* iface) {
  iface->get_text = kv_text_get_text;
  iface->get_character_count = kv_text_get_character_count;
  iface->get_character_at_offset = kv_text_get_character_at_offset;
  iface->get_caret_offset = kv_text_get_caret_offset;
}

}  // extern "C"

namespace SkinUI {
namespace {

GType TypeFor(AccessibleRole role) {
  switch (role) {
    case AccessibleRole::kPushButton:
    case AccessibleRole::kCheckBox:
    case AccessibleRole::kRadioButton:
      return kv_action_accessible_get_type();
    case AccessibleRole::kProgressBar:
      return kv_value_accessible_get_type();
    default:
      return kv_text_accessible_get_type();
  }
}

AtkRole AtkRoleOf(AccessibleRole role) {
  switch (role) {
    case AccessibleRole::kPushButton:
      return ATK_ROLE_PUSH_BUTTON;
    case AccessibleRole::kCheckBox:
      return ATK_ROLE_CHECK_BOX;
    case AccessibleRole::kRadioButton:
      return ATK_ROLE_RADIO_BUTTON;
    case AccessibleRole::kEntry:
      return ATK_ROLE_ENTRY;
    case AccessibleRole::kProgressBar:
      return ATK_ROLE_PROGRESS_BAR;
    default:
      return ATK_ROLE_LABEL;
  }
}

AtkObject* NewChild(CGtkAccessibility* owner, AtkObject* parent, const AccessibleNode& n) {
  auto* obj = static_cast<AtkObject*>(g_object_new(TypeFor(n.role), nullptr));
  KvControlAccessible* c = AsControl(obj);
  c->owner = owner;
  *c->node = n;
  c->action = g_strdup(ToUtf8(n.action).c_str());
  c->text = g_strdup(ToUtf8(n.text).c_str());
  atk_object_set_role(obj, AtkRoleOf(n.role));
  atk_object_set_name(obj, ToUtf8(n.name).c_str());
  atk_object_set_parent(obj, parent);
  return obj;
}

// Brings a child up to date and tells the listeners what changed.
void UpdateChild(AtkObject* obj, const AccessibleNode& n) {
  KvControlAccessible* c = AsControl(obj);
  AccessibleNode old = *c->node;
  *c->node = n;
  if (old.name != n.name) atk_object_set_name(obj, ToUtf8(n.name).c_str());
  if (old.text != n.text) {
    glong oldLength = g_utf8_strlen(c->text, -1);
    g_free(c->text);
    c->text = g_strdup(ToUtf8(n.text).c_str());
    if (ATK_IS_TEXT(obj)) {
      g_signal_emit_by_name(obj, "text-changed::delete", 0, static_cast<gint>(oldLength));
      g_signal_emit_by_name(obj, "text-changed::insert", 0,
                            static_cast<gint>(g_utf8_strlen(c->text, -1)));
    }
  }
  if (old.enabled != n.enabled) {
    atk_object_notify_state_change(obj, ATK_STATE_ENABLED, n.enabled);
    atk_object_notify_state_change(obj, ATK_STATE_SENSITIVE, n.enabled);
  }
  if (old.checked != n.checked) atk_object_notify_state_change(obj, ATK_STATE_CHECKED, n.checked);
  if (old.editable != n.editable) {
    atk_object_notify_state_change(obj, ATK_STATE_EDITABLE, n.editable);
    atk_object_notify_state_change(obj, ATK_STATE_READ_ONLY, !n.editable);
  }
  if (old.value != n.value || old.minimum != n.minimum || old.maximum != n.maximum) {
    g_object_notify(G_OBJECT(obj), "accessible-value");
  }
  if (old.focused != n.focused) atk_object_notify_state_change(obj, ATK_STATE_FOCUSED, n.focused);
}

void Retire(AtkObject* obj) {
  AsControl(obj)->defunct = TRUE;
  atk_object_notify_state_change(obj, ATK_STATE_DEFUNCT, TRUE);
}

}  // namespace

CGtkAccessibility::CGtkAccessibility(IHostWindowClient& client) : client_(client) {}

CGtkAccessibility::~CGtkAccessibility() {
  if (idleSource_ != 0) g_source_remove(idleSource_);
  if (area_ != nullptr) reinterpret_cast<KvSkinArea*>(area_)->owner = nullptr;
  for (AtkObject* child : children_) {
    Retire(child);
    AsControl(child)->owner = nullptr;
    g_object_unref(child);
  }
}

GtkWidget* CGtkAccessibility::CreateArea() {
  area_ = GTK_WIDGET(g_object_new(kv_skin_area_get_type(), nullptr));
  reinterpret_cast<KvSkinArea*>(area_)->owner = this;
  return area_;
}

void CGtkAccessibility::Activate(AtkObject* areaAccessible) {
  if (areaAccessible_ != nullptr) return;
  areaAccessible_ = areaAccessible;
  Refresh();
}

void CGtkAccessibility::ScheduleRefresh() {
  if (areaAccessible_ == nullptr || idleSource_ != 0) return;
  idleSource_ = g_idle_add_full(G_PRIORITY_LOW, &CGtkAccessibility::OnIdle, this, nullptr);
}

int CGtkAccessibility::OnIdle(void* self) {
  auto* a = static_cast<CGtkAccessibility*>(self);
  a->idleSource_ = 0;
  a->Refresh();
  return G_SOURCE_REMOVE;
}

void CGtkAccessibility::Refresh() {
  if (areaAccessible_ == nullptr) return;
  std::vector<AccessibleNode> nodes = client_.OnHostAccessibleNodes();
  auto sameControl = [](AtkObject* child, const AccessibleNode& n) {
    const AccessibleNode* have = AsControl(child)->node;
    return have->id == n.id && have->role == n.role;
  };
  // Gone first, from the back, so that every index told is right when it is told.
  for (int i = static_cast<int>(children_.size()) - 1; i >= 0; --i) {
    AtkObject* child = children_[static_cast<std::size_t>(i)];
    bool kept = std::any_of(nodes.begin(), nodes.end(),
                            [&](const AccessibleNode& n) { return sameControl(child, n); });
    if (kept) continue;
    children_.erase(children_.begin() + i);
    Retire(child);
    g_signal_emit_by_name(areaAccessible_, "children-changed::remove", i, child);
    g_object_unref(child);
  }
  // Then the new ones at their places, and every kept one brought up to date.
  std::vector<AtkObject*> added;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](AtkObject* c) { return sameControl(c, nodes[i]); });
    if (it == children_.end()) {
      AtkObject* child = NewChild(this, areaAccessible_, nodes[i]);
      children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(i), child);
      added.push_back(child);
    } else {
      // Controls keep their document order, so a kept one is already at i or later.
      std::rotate(children_.begin() + static_cast<std::ptrdiff_t>(i), it, it + 1);
    }
  }
  for (AtkObject* child : added) {
    g_signal_emit_by_name(areaAccessible_, "children-changed::add", IndexOf(child), child);
  }
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (std::find(added.begin(), added.end(), children_[i]) == added.end()) {
      UpdateChild(children_[i], nodes[i]);
    }
  }
}

int CGtkAccessibility::ChildCount() {
  return static_cast<int>(children_.size());
}

AtkObject* CGtkAccessibility::ChildAt(int index) {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return ATK_OBJECT(g_object_ref(children_[static_cast<std::size_t>(index)]));
}

int CGtkAccessibility::IndexOf(AtkObject* child) const {
  auto it = std::find(children_.begin(), children_.end(), child);
  return it == children_.end() ? -1 : static_cast<int>(it - children_.begin());
}

}  // namespace SkinUI
