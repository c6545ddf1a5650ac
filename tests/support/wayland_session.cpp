#include "tests/support/wayland_session.h"

#include <sys/stat.h>

#include "tests/support/app_process.h"

namespace {

constexpr const char* REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* REMOTE_DESKTOP_SESSION = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr unsigned SHIFT_KEYSYM = 0xffe1;
constexpr int LEFT_BUTTON = 0x110;  // BTN_LEFT

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// Calls method on the bus; its reply, or null with the reason in error.
GVariant* call(GDBusConnection* bus, const char* destination, const std::string& path,
               const char* interface, const char* method, GVariant* args, std::string& error) {
  GError* failure = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(bus, destination, path.c_str(), interface, method, args, nullptr,
                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &failure);
  if (reply == nullptr) {
    error = std::string(method) + ": " + failure->message;
    g_error_free(failure);
  }
  return reply;
}

}  // namespace

WaylandSession::WaylandSession() {
  if (!start()) error_ += "\n" + read_file(root_ / "session.log");
}

WaylandSession::~WaylandSession() {
  if (remote_ != nullptr) {
    g_dbus_connection_close_sync(remote_, nullptr, nullptr);
    g_object_unref(remote_);
  }
  compositor_.stop();
  bus_.stop();
}

bool WaylandSession::start() {
  const std::string bus_address = "unix:path=" + root_ / "bus";
  const std::string log = root_ / "session.log";
  if (!bus_.start(
          {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus_address},
          {.output_path = log}) ||
      !wait_until([&] { return exists(root_ / "bus") || !bus_.running(); }) || !bus_.running()) {
    error_ = "the session bus did not start";
    return false;
  }
  // Settings at their defaults, in memory; no system bus and no X display of the machine.
  const std::map<std::string, std::string> env = {
      {"XDG_RUNTIME_DIR", root_.path()},
      {"HOME", root_.path()},
      {"XDG_CONFIG_HOME", root_ / "config"},
      {"DBUS_SESSION_BUS_ADDRESS", bus_address},
      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + root_ / "no-system-bus"},
      {"GSETTINGS_BACKEND", "memory"},
      {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""}};
  if (!compositor_.start(
          {"mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
           std::to_string(WAYLAND_SCREEN_WIDTH) + "x" + std::to_string(WAYLAND_SCREEN_HEIGHT),
           "--wayland-display", "wayland-0"},
          {env, log})) {
    error_ = "mutter could not be run";
    return false;
  }
  GError* failure = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      bus_address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &failure);
  if (bus == nullptr) {
    error_ = std::string("the session bus cannot be reached: ") + failure->message;
    g_error_free(failure);
    return false;
  }
  // mutter opens its socket, then takes its RemoteDesktop name on the bus.
  GVariant* session = nullptr;
  if (wait_until([&] { return exists(root_ / "wayland-0") || !compositor_.running(); })) {
    wait_until([&] {
      session = call(bus, REMOTE_DESKTOP, "/org/gnome/Mutter/RemoteDesktop", REMOTE_DESKTOP,
                     "CreateSession", nullptr, error_);
      return session != nullptr || !compositor_.running();
    });
  }
  GVariant* started = nullptr;
  if (session != nullptr) {
    const char* path = nullptr;
    g_variant_get(session, "(&o)", &path);
    remote_session_ = path;
    g_variant_unref(session);
    started = call(bus, REMOTE_DESKTOP, remote_session_, REMOTE_DESKTOP_SESSION, "Start", nullptr,
                   error_);
  }
  if (started != nullptr) {
    g_variant_unref(started);
    remote_ = bus;
    // The virtual devices come with their first input; clients started later find them.
    type(SHIFT_KEYSYM);
    point_at_corner();
    return true;
  }
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
  return false;
}

std::map<std::string, std::string> WaylandSession::client_env() const {
  return {{"WAYLAND_DISPLAY", root_ / "wayland-0"},
          {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root_ / "bus"},
          {"DISPLAY", ""}};
}

void WaylandSession::input(const char* method, GVariant* args) {
  if (remote_ == nullptr) return;
  std::string ignored;
  GVariant* reply =
      call(remote_, REMOTE_DESKTOP, remote_session_, REMOTE_DESKTOP_SESSION, method, args, ignored);
  if (reply != nullptr) g_variant_unref(reply);
}

void WaylandSession::type(unsigned key, std::initializer_list<unsigned> modifiers) {
  const auto send = [&](unsigned keysym, bool pressed) {
    input("NotifyKeyboardKeysym", g_variant_new("(ub)", keysym, pressed));
  };
  for (const unsigned modifier : modifiers) send(modifier, true);
  send(key, true);
  send(key, false);
  for (const unsigned modifier : modifiers) send(modifier, false);
}

void WaylandSession::point_at_corner() {
  // Relative motion only (absolute motion needs a screen cast), one edge at a time: a motion
  // past an edge stops where its line meets the edge.
  move_pointer_by(-100000, 0);
  move_pointer_by(0, -100000);
}

void WaylandSession::move_pointer_by(int dx, int dy) {
  input("NotifyPointerMotionRelative", g_variant_new("(dd)", double(dx), double(dy)));
}

void WaylandSession::click() {
  for (const bool pressed : {true, false}) {
    input("NotifyPointerButton", g_variant_new("(ib)", LEFT_BUTTON, pressed));
  }
}
