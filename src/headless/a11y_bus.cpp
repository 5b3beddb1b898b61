#include "headless/a11y_bus.h"

#include <gio/gio.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace tavren::headless {
namespace {

constexpr const char* kBusName = "org.a11y.Bus";
constexpr const char* kBusPath = "/org/a11y/bus";

struct ConnectionCloser {
  void operator()(GDBusConnection* c) const {
    g_dbus_connection_close_sync(c, nullptr, nullptr);
    g_object_unref(c);
  }
};
using Connection = std::unique_ptr<GDBusConnection, ConnectionCloser>;

std::string takeMessage(GError** error) {
  if (*error == nullptr) return "unknown error";
  g_dbus_error_strip_remote_error(*error);
  std::string message = (*error)->message;
  g_clear_error(error);
  return message;
}

int millisecondsLeft(Deadline deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 1, 5000));
}

// The launcher's address, once it owns its name. No auto-start: the session bus could activate
// a second launcher from its service files while ours is still coming up.
bool readBusAddress(GDBusConnection* c, Deadline deadline, const GiveUp& giveUp,
                    std::string* address, std::string* error) {
  std::string lastFailure = "org.a11y.Bus has no owner";
  for (;;) {
    GError* gerror = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        c, kBusName, kBusPath, "org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, millisecondsLeft(deadline), nullptr, &gerror);
    if (reply != nullptr) {
      const char* value = nullptr;
      g_variant_get(reply, "(&s)", &value);
      *address = value;
      g_variant_unref(reply);
      if (!address->empty()) return true;
      lastFailure = "the AT-SPI bus launcher reported no address";
    } else {
      lastFailure = takeMessage(&gerror);
    }
    if (giveUp && giveUp()) {
      *error = "the AT-SPI bus launcher exited during start-up";
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      *error = "the AT-SPI bus did not come up: " + lastFailure;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool setStatus(GDBusConnection* c, const char* property, Deadline deadline, std::string* error) {
  GError* gerror = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      c, kBusName, kBusPath, "org.freedesktop.DBus.Properties", "Set",
      g_variant_new("(ssv)", "org.a11y.Status", property, g_variant_new_boolean(TRUE)), nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, millisecondsLeft(deadline), nullptr, &gerror);
  if (reply == nullptr) {
    *error = std::string("cannot set org.a11y.Status ") + property + ": " + takeMessage(&gerror);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

}  // namespace

bool enableAccessibility(const std::string& sessionBusAddress, Deadline deadline,
                         const GiveUp& giveUp, std::string* a11yAddress, std::string* error) {
  GError* gerror = nullptr;
  // A private connection: the process-wide session bus of the caller is another desktop's.
  Connection c(g_dbus_connection_new_for_address_sync(
      sessionBusAddress.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &gerror));
  if (!c) {
    *error = "cannot connect to the session bus: " + takeMessage(&gerror);
    return false;
  }
  // Stopping the desktop closes this bus; that must never end the caller.
  g_dbus_connection_set_exit_on_close(c.get(), FALSE);
  return readBusAddress(c.get(), deadline, giveUp, a11yAddress, error) &&
         setStatus(c.get(), "IsEnabled", deadline, error) &&
         setStatus(c.get(), "ScreenReaderEnabled", deadline, error);
}

}  // namespace tavren::headless
