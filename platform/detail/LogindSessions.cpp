#include "platform/detail/LogindSessions.h"

#include <gio/gio.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace platform::detail {
namespace {

constexpr char kLogin1[] = "org.freedesktop.login1";
// The whole question may take this long, however many sessions there are.
constexpr std::chrono::milliseconds kTotalTimeout{2000};
// A machine has a handful of sessions; a bus that lists more is not trusted to be quick.
constexpr std::size_t kMaxSessions = 256;

struct Session {
  uid_t uid = 0;
  std::string seat;
  std::string path;
};

// Owns one private connection; a shared one would outlive changes of the bus address.
class SystemBus {
 public:
  SystemBus() : deadline_(std::chrono::steady_clock::now() + kTotalTimeout) {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (address == nullptr) return;
    bus_ = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
  }
  ~SystemBus() {
    if (bus_ == nullptr) return;
    g_dbus_connection_close_sync(bus_, nullptr, nullptr);
    g_object_unref(bus_);
  }
  SystemBus(const SystemBus&) = delete;
  SystemBus& operator=(const SystemBus&) = delete;

  bool Expired() const { return std::chrono::steady_clock::now() >= deadline_; }

  // The reply of one method call, or null (also once the time is up); the caller unrefs it.
  GVariant* Call(const char* path, const char* interface, const char* method, GVariant* args,
                 const char* replyType) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    if (bus_ == nullptr || left.count() <= 0) {
      if (args != nullptr) g_variant_unref(g_variant_ref_sink(args));
      return nullptr;
    }
    return g_dbus_connection_call_sync(bus_, kLogin1, path, interface, method, args,
                                       G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                       static_cast<int>(left.count()), nullptr, nullptr);
  }

 private:
  std::chrono::steady_clock::time_point deadline_;
  GDBusConnection* bus_ = nullptr;
};

std::vector<Session> ListSessions(SystemBus& bus) {
  std::vector<Session> out;
  GVariant* reply = bus.Call("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                             "ListSessions", nullptr, "(a(susso))");
  if (reply == nullptr) return out;
  GVariantIter* iter = nullptr;
  g_variant_get(reply, "(a(susso))", &iter);
  const gchar* id = nullptr;
  guint32 uid = 0;
  const gchar* name = nullptr;
  const gchar* seat = nullptr;
  const gchar* path = nullptr;
  while (out.size() < kMaxSessions &&
         g_variant_iter_next(iter, "(&su&s&s&o)", &id, &uid, &name, &seat, &path)) {
    out.push_back(Session{static_cast<uid_t>(uid), seat, path});
  }
  g_variant_iter_free(iter);
  g_variant_unref(reply);
  return out;
}

// An active session of a user sitting at this machine's display: not remote, not a greeter or
// lock screen, and of a graphical type.
bool IsActiveLocalGraphical(SystemBus& bus, const Session& session) {
  GVariant* reply = bus.Call(session.path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
                             g_variant_new("(s)", "org.freedesktop.login1.Session"), "(a{sv})");
  if (reply == nullptr) return false;
  GVariant* props = g_variant_get_child_value(reply, 0);
  gboolean active = FALSE;
  gboolean remote = TRUE;
  const gchar* type = nullptr;
  const gchar* cls = nullptr;
  bool haveActive = g_variant_lookup(props, "Active", "b", &active);
  bool haveRemote = g_variant_lookup(props, "Remote", "b", &remote);
  bool haveType = g_variant_lookup(props, "Type", "&s", &type);
  bool haveClass = g_variant_lookup(props, "Class", "&s", &cls);
  bool graphical = haveType && (std::strcmp(type, "x11") == 0 ||
                                std::strcmp(type, "wayland") == 0 || std::strcmp(type, "mir") == 0);
  bool ok = haveActive && active && haveRemote && !remote && graphical && haveClass &&
            std::strcmp(cls, "user") == 0;
  g_variant_unref(props);
  g_variant_unref(reply);
  return ok;
}

}  // namespace

std::optional<uid_t> ActiveGraphicalSessionUser() {
  SystemBus bus;
  std::vector<Session> candidates;
  for (const Session& s : ListSessions(bus)) {
    if (IsActiveLocalGraphical(bus, s)) candidates.push_back(s);
  }
  // Sessions not looked at in time could have changed the answer.
  if (bus.Expired()) return std::nullopt;
  for (const Session& s : candidates) {
    if (s.seat == "seat0") return s.uid;
  }
  if (candidates.size() == 1) return candidates.front().uid;
  // Nobody, or several seats with nobody on the main one: no single interactive user.
  return std::nullopt;
}

}  // namespace platform::detail
