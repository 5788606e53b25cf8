#include "ui/host/gtk/LauncherEntry.h"

#include <gio/gio.h>

#include <cstdlib>

namespace SkinUI {

CLauncherEntry::CLauncherEntry(std::string appUri) : appUri_(std::move(appUri)) {
  // Only an existing session bus: asking GIO without one could launch a new bus daemon.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') return;
  GError* err = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
  if (err) g_clear_error(&err);
}

CLauncherEntry::~CLauncherEntry() {
  if (bus_) {
    g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
    g_object_unref(bus_);
  }
}

void CLauncherEntry::Update(double progress, bool progressVisible, bool urgent) {
  if (bus_ == nullptr) return;
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&props, "{sv}", "progress", g_variant_new_double(progress));
  g_variant_builder_add(&props, "{sv}", "progress-visible", g_variant_new_boolean(progressVisible));
  g_variant_builder_add(&props, "{sv}", "urgent", g_variant_new_boolean(urgent));
  std::string path =
      "/com/canonical/unity/launcherentry/" + std::to_string(g_str_hash(appUri_.c_str()));
  GError* err = nullptr;
  g_dbus_connection_emit_signal(bus_, nullptr, path.c_str(), "com.canonical.Unity.LauncherEntry",
                                "Update", g_variant_new("(sa{sv})", appUri_.c_str(), &props), &err);
  if (err) g_clear_error(&err);
}

}  // namespace SkinUI
