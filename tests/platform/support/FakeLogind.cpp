#include "tests/platform/support/FakeLogind.h"

#include <gio/gio.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/support/TestSupport.h"

namespace platformtest {
namespace {

constexpr char kXml[] = R"xml(<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="ListSessions"><arg type="a(susso)" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.login1.Session">
    <property name="Active" type="b" access="read"/>
    <property name="Remote" type="b" access="read"/>
    <property name="Type" type="s" access="read"/>
    <property name="Class" type="s" access="read"/>
  </interface>
</node>)xml";

std::string SessionPath(const FakeSession& s) {
  return "/org/freedesktop/login1/session/_" + s.id;
}

}  // namespace

struct FakeLogind::Impl {
  kvtest::TempDir dir;
  kvtest::ChildProcess daemon;
  std::string address;
  std::vector<FakeSession> sessions;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GDBusConnection* bus = nullptr;
  GDBusNodeInfo* info = nullptr;
  std::thread thread;

  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (g_strcmp0(method, "ListSessions") != 0) {
      g_dbus_method_invocation_return_dbus_error(invocation,
                                                 "org.freedesktop.DBus.Error.UnknownMethod", "no");
      return;
    }
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(susso)"));
    for (const auto& s : self->sessions) {
      g_variant_builder_add(&b, "(susso)", s.id.c_str(), static_cast<guint32>(s.uid), "someone",
                            s.seat.c_str(), SessionPath(s).c_str());
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(susso))", &b));
  }

  static GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar* path, const gchar*,
                              const gchar* name, GError**, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    for (const auto& s : self->sessions) {
      if (SessionPath(s) != path) continue;
      if (g_strcmp0(name, "Active") == 0) return g_variant_new_boolean(s.active);
      if (g_strcmp0(name, "Remote") == 0) return g_variant_new_boolean(s.remote);
      if (g_strcmp0(name, "Type") == 0) return g_variant_new_string(s.type.c_str());
      if (g_strcmp0(name, "Class") == 0) return g_variant_new_string(s.cls.c_str());
    }
    return nullptr;
  }

  bool Setup() {
    // Everything below is dispatched by the loop of this object's own thread.
    g_main_context_push_thread_default(context);
    bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    info = g_dbus_node_info_new_for_xml(kXml, nullptr);
    if (bus == nullptr || info == nullptr) return false;
    static const GDBusInterfaceVTable managerTable = {&OnCall, nullptr, nullptr, {}};
    static const GDBusInterfaceVTable sessionTable = {nullptr, &OnProperty, nullptr, {}};
    bool ok = g_dbus_connection_register_object(bus, "/org/freedesktop/login1", info->interfaces[0],
                                                &managerTable, this, nullptr, nullptr) != 0;
    for (const auto& s : sessions) {
      ok = ok && g_dbus_connection_register_object(bus, SessionPath(s).c_str(), info->interfaces[1],
                                                   &sessionTable, this, nullptr, nullptr) != 0;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.login1", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply == nullptr) return false;
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    return ok && result == 1;  // primary owner
  }
};

FakeLogind::FakeLogind() : impl_(std::make_unique<Impl>()) {}

FakeLogind::~FakeLogind() {
  if (impl_->loop != nullptr) g_main_loop_quit(impl_->loop);
  if (impl_->thread.joinable()) impl_->thread.join();
  if (impl_->bus != nullptr) {
    g_dbus_connection_close_sync(impl_->bus, nullptr, nullptr);
    g_object_unref(impl_->bus);
  }
  if (impl_->info != nullptr) g_dbus_node_info_unref(impl_->info);
  if (impl_->loop != nullptr) g_main_loop_unref(impl_->loop);
  if (impl_->context != nullptr) g_main_context_unref(impl_->context);
  impl_->daemon.Stop();
}

bool FakeLogind::Start(const std::vector<FakeSession>& sessions) {
  impl_->sessions = sessions;
  const std::string socket = (impl_->dir / "bus").string();
  impl_->address = "unix:path=" + socket;
  if (!impl_->daemon.Start(
          {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + impl_->address},
          (impl_->dir / "daemon.log").string())) {
    return false;
  }
  for (int i = 0; i < 250 && !std::filesystem::exists(socket); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  impl_->context = g_main_context_new();
  impl_->loop = g_main_loop_new(impl_->context, FALSE);
  std::promise<bool> ready;
  std::future<bool> started = ready.get_future();
  impl_->thread = std::thread([this, &ready] {
    ready.set_value(impl_->Setup());
    g_main_loop_run(impl_->loop);
  });
  return started.get();
}

std::string FakeLogind::address() const {
  return impl_->address;
}

}  // namespace platformtest
