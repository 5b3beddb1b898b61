#include "platform/linux/atspi/atspi_bus.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/linux/atspi/dbus_batch.h"

namespace tavren::atspi {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Opening {
  std::string address;
  GDBusConnectionFlags flags{};
  GCancellable* cancellable = nullptr;
  std::atomic<bool> handedOver{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  GDBusConnection* connection = nullptr;
};

void onOpened(GObject*, GAsyncResult* result, gpointer data) {
  auto* opening = static_cast<Opening*>(data);
  GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, nullptr);
  std::lock_guard lock(opening->mutex);
  opening->connection = connection;
  opening->done = true;
  opening->finished.notify_all();
}

gboolean startOpening(gpointer data) {
  auto* opening = static_cast<Opening*>(data);
  // GLib hands the job over with locks of its own, which thread checkers do not see.
  (void)opening->handedOver.load(std::memory_order_acquire);
  g_dbus_connection_new_for_address(opening->address.c_str(), opening->flags, nullptr,
                                    opening->cancellable, onOpened, opening);
  return G_SOURCE_REMOVE;
}

ObjectRef<GDBusConnection> openConnection(ConnectionContext& context, const std::string& address,
                                          GDBusConnectionFlags flags, int timeoutMs) {
  if (address.empty() || !g_dbus_is_supported_address(address.c_str(), nullptr)) return nullptr;
  Opening opening;
  opening.address = address;
  opening.flags = flags;
  opening.cancellable = g_cancellable_new();
  opening.handedOver.store(true, std::memory_order_release);
  g_main_context_invoke(context.get(), startOpening, &opening);
  std::unique_lock lock(opening.mutex);
  if (!opening.finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return opening.done; })) {
    // A peer that never finishes the handshake: give up; the attempt then ends at once.
    lock.unlock();
    g_cancellable_cancel(opening.cancellable);
    lock.lock();
    opening.finished.wait(lock, [&] { return opening.done; });
  }
  g_object_unref(opening.cancellable);
  if (opening.connection) routeReplies(opening.connection);
  return ObjectRef<GDBusConnection>(opening.connection);
}

}  // namespace

ConnectionContext::ConnectionContext()
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  thread_ = std::thread([this] {
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
  });
}

ConnectionContext::~ConnectionContext() {
  // Quit from inside the loop: a quit before the thread has started running it would be lost.
  GSource* quit = g_idle_source_new();
  g_source_set_callback(
      quit,
      [](gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      loop_, nullptr);
  g_source_attach(quit, context_);
  g_source_unref(quit);
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

ObjectRef<GDBusConnection> openBusConnection(ConnectionContext& context, const std::string& address,
                                             int timeoutMs) {
  return openConnection(
      context, address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      timeoutMs);
}

AtspiBus::AtspiBus(std::function<std::string()> rootAddress)
    : AtspiBus(environment("AT_SPI_BUS_ADDRESS"), environment("DBUS_SESSION_BUS_ADDRESS"),
               std::move(rootAddress)) {}

AtspiBus::AtspiBus(std::string a11yAddress, std::string sessionAddress,
                   std::function<std::string()> rootAddress)
    : rootAddress_(std::move(rootAddress)),
      envAddress_(std::move(a11yAddress)),
      sessionAddress_(std::move(sessionAddress)) {}

ObjectRef<GDBusConnection> AtspiBus::open(std::optional<bool>& enabled, std::string& address) {
  // The session bus is asked even when the address is known, for the enabled status, and for
  // the bus it names now: a restarted bus listens at a new address (or at the same path under a
  // new GUID, which the address given at start-up no longer matches).
  std::string reported;
  if (auto session = openBusConnection(context_, sessionAddress_, kConnectTimeoutMs)) {
    std::vector<DbusCall> calls;
    calls.push_back({"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
                     G_VARIANT_TYPE("(s)")});
    calls.push_back(propertyGet("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status", "IsEnabled"));
    // Reading never starts the bus launcher: the session's own programs do when they need it.
    for (DbusCall& call : calls) call.autoStart = false;
    std::vector<VariantRef> replies = callAll(session.get(), std::move(calls));
    if (replies[0]) {
      const gchar* text = nullptr;
      g_variant_get(replies[0].get(), "(&s)", &text);
      reported = text ? text : "";
    }
    VariantRef value = propertyValue(replies[1]);
    if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN)) {
      enabled = g_variant_get_boolean(value.get()) != FALSE;
    }
    g_dbus_connection_close(session.get(), nullptr, nullptr, nullptr);
  }
  if (!envAddress_.empty()) {
    address = envAddress_;
    if (auto opened = openBusConnection(context_, address, kConnectTimeoutMs)) return opened;
  }
  if (!reported.empty() && reported != envAddress_) {
    address = reported;
    if (auto opened = openBusConnection(context_, address, kConnectTimeoutMs)) return opened;
  }
  address.clear();
  if (!rootAddress_) return nullptr;
  const std::string root = rootAddress_();
  if (root.empty() || root == envAddress_ || root == reported) return nullptr;
  address = root;
  return openBusConnection(context_, address, kConnectTimeoutMs);
}

ObjectRef<GDBusConnection> AtspiBus::connection() {
  {
    std::unique_lock lock(mutex_);
    if (connection_ && !g_dbus_connection_is_closed(connection_.get())) {
      return addRef(connection_.get());
    }
    // An attempt under way (the start-up probe's, or another request's) is waited for: it is
    // bounded by its own timeouts, and going without the bus meanwhile would answer a request
    // as if accessibility were off.
    if (connecting_) {
      attemptDone_.wait(lock, [this] { return !connecting_; });
      return connection_ ? addRef(connection_.get()) : nullptr;
    }
    connection_.reset();
    if (std::chrono::steady_clock::now() < nextAttempt_) return nullptr;
    connecting_ = true;
  }
  std::optional<bool> enabled;
  std::string address;
  ObjectRef<GDBusConnection> opened = open(enabled, address);
  {
    std::lock_guard lock(mutex_);
    connecting_ = false;
    if (enabled) enabled_ = enabled;
    if (opened) address_ = std::move(address);
    connection_ = std::move(opened);
    if (!connection_) nextAttempt_ = std::chrono::steady_clock::now() + kRetryInterval;
  }
  attemptDone_.notify_all();
  std::lock_guard lock(mutex_);
  return connection_ ? addRef(connection_.get()) : nullptr;
}

std::optional<bool> AtspiBus::enabled() {
  std::lock_guard lock(mutex_);
  return enabled_;
}

std::string AtspiBus::address() {
  std::lock_guard lock(mutex_);
  return address_;
}

}  // namespace tavren::atspi
