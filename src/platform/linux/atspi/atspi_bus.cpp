#include "platform/linux/atspi/atspi_bus.h"

#include <cstdlib>

#include "platform/linux/atspi/dbus_batch.h"

namespace tavren::atspi {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Opening {
  GDBusConnection* connection = nullptr;
  bool done = false;
};

void onOpened(GObject*, GAsyncResult* result, gpointer data) {
  auto* opening = static_cast<Opening*>(data);
  opening->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
  opening->done = true;
}

gboolean cancelOpening(gpointer cancellable) {
  g_cancellable_cancel(G_CANCELLABLE(cancellable));
  return G_SOURCE_REMOVE;
}

}  // namespace

ObjectRef<GDBusConnection> openBusConnection(const std::string& address, int timeoutMs) {
  if (address.empty() || !g_dbus_is_supported_address(address.c_str(), nullptr)) return nullptr;
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GCancellable* cancellable = g_cancellable_new();
  Opening opening;
  auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  g_dbus_connection_new_for_address(address.c_str(), flags, nullptr, cancellable, onOpened,
                                    &opening);
  GSource* timer = g_timeout_source_new(static_cast<guint>(timeoutMs));
  g_source_set_callback(timer, cancelOpening, cancellable, nullptr);
  g_source_attach(timer, context);
  while (!opening.done) g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  g_object_unref(cancellable);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return ObjectRef<GDBusConnection>(opening.connection);
}

AtspiBus::AtspiBus(std::function<std::string()> rootAddress)
    : rootAddress_(std::move(rootAddress)),
      envAddress_(environment("AT_SPI_BUS_ADDRESS")),
      sessionAddress_(environment("DBUS_SESSION_BUS_ADDRESS")) {}

std::string AtspiBus::findAddress(std::optional<bool>& enabled) const {
  // The session bus is asked even when the address is known, for the enabled status.
  std::string address = envAddress_;
  if (auto session = openBusConnection(sessionAddress_, kConnectTimeoutMs)) {
    std::vector<DbusCall> calls;
    calls.push_back({"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
                     G_VARIANT_TYPE("(s)")});
    calls.push_back(propertyGet("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status", "IsEnabled"));
    std::vector<VariantRef> replies = callAll(session.get(), std::move(calls));
    if (address.empty() && replies[0]) {
      const gchar* text = nullptr;
      g_variant_get(replies[0].get(), "(&s)", &text);
      address = text ? text : "";
    }
    VariantRef value = propertyValue(replies[1]);
    if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN)) {
      enabled = g_variant_get_boolean(value.get()) != FALSE;
    }
    g_dbus_connection_close(session.get(), nullptr, nullptr, nullptr);
  }
  if (address.empty() && rootAddress_) address = rootAddress_();
  return address;
}

ObjectRef<GDBusConnection> AtspiBus::connection() {
  {
    std::lock_guard lock(mutex_);
    if (connection_ && !g_dbus_connection_is_closed(connection_.get())) {
      return addRef(connection_.get());
    }
    connection_.reset();
    // Callers do not queue behind a connection attempt: they go without the bus this time.
    if (connecting_ || std::chrono::steady_clock::now() < nextAttempt_) return nullptr;
    connecting_ = true;
  }
  std::optional<bool> enabled;
  ObjectRef<GDBusConnection> opened = openBusConnection(findAddress(enabled), kConnectTimeoutMs);
  std::lock_guard lock(mutex_);
  connecting_ = false;
  if (enabled) enabled_ = enabled;
  connection_ = std::move(opened);
  if (!connection_) nextAttempt_ = std::chrono::steady_clock::now() + kRetryInterval;
  return addRef(connection_.get());
}

std::optional<bool> AtspiBus::enabled() {
  std::lock_guard lock(mutex_);
  return enabled_;
}

}  // namespace tavren::atspi
