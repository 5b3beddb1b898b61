#include "platform/linux/atspi/dbus_batch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tavren::atspi {

namespace {

// Serials this module gives its own calls. GDBus numbers its messages from 1 upwards; the top
// bit keeps the two ranges apart, so replies to our calls are recognised by serial alone.
constexpr guint32 kOwnSerialBit = 0x80000000u;

struct Waiter {
  std::vector<VariantRef>* replies = nullptr;
  size_t remaining = 0;
  std::condition_variable done;
};

struct Slot {
  Waiter* waiter;
  size_t index;
  const GVariantType* replyType;
};

// The calls of one connection that wait for replies, by serial. Replies are taken off the
// connection in its worker thread, before GDBus dispatches anything: a batch of thousands of
// calls costs no task, timeout source or main-loop wake-up per call.
struct ReplyRouter {
  std::mutex mutex;
  std::unordered_map<guint32, Slot> pending;
  std::atomic<guint32> nextSerial{0};
  bool closed = false;
  // Set once the router is complete. The filter and the signal handler meet the router through
  // GLib's own locks, which thread checkers do not see; this makes the hand-over visible.
  std::atomic<bool> ready{false};

  guint32 newSerial() { return kOwnSerialBit | (nextSerial.fetch_add(1) & ~kOwnSerialBit); }

  // Gives the slot its reply (null: failed); false when the serial no longer waits.
  bool settle(guint32 serial, VariantRef reply) {
    auto it = pending.find(serial);
    if (it == pending.end()) return false;
    const Slot slot = it->second;
    pending.erase(it);
    if (reply && (!slot.replyType || g_variant_is_of_type(reply.get(), slot.replyType))) {
      (*slot.waiter->replies)[slot.index] = std::move(reply);
    }
    if (--slot.waiter->remaining == 0) slot.waiter->done.notify_all();
    return true;
  }
};

GDBusMessage* routeReply(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                         gpointer data) {
  if (!incoming) return message;
  const GDBusMessageType type = g_dbus_message_get_message_type(message);
  if (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR) {
    return message;
  }
  const guint32 serial = g_dbus_message_get_reply_serial(message);
  if ((serial & kOwnSerialBit) == 0) return message;
  VariantRef reply;
  if (type == G_DBUS_MESSAGE_TYPE_METHOD_RETURN) {
    GVariant* body = g_dbus_message_get_body(message);
    reply.reset(body ? g_variant_ref(body) : g_variant_ref_sink(g_variant_new_tuple(nullptr, 0)));
  }
  auto* router = static_cast<ReplyRouter*>(data);
  if (!router->ready.load(std::memory_order_acquire)) return message;
  {
    std::lock_guard lock(router->mutex);
    router->settle(serial, std::move(reply));
  }
  // Ours, answered or too late: nobody else waits for it.
  g_object_unref(message);
  return nullptr;
}

void onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
  auto* router = static_cast<ReplyRouter*>(data);
  if (!router->ready.load(std::memory_order_acquire)) return;
  std::lock_guard lock(router->mutex);
  router->closed = true;
  while (!router->pending.empty()) router->settle(router->pending.begin()->first, nullptr);
  decltype(router->pending)().swap(router->pending);  // the buckets of its largest batch
}

constexpr const char* kRouterKey = "tavren-reply-router";

void freeRouter(gpointer data) {
  auto* router = static_cast<ReplyRouter*>(data);
  // Every batch let go of the router's lock before the connection's last reference went, on
  // whatever thread; taking the lock once shows that order to thread checkers, which do not see
  // GLib's reference counting. A connection no batch used may go on another thread than the
  // one that made its router: the flag that thread set after making it shows that order.
  (void)router->ready.load(std::memory_order_acquire);
  { std::lock_guard lock(router->mutex); }
  delete router;
}

// GDBus refuses malformed names; names that come from other processes are checked here first.
// An empty destination addresses the peer of a peer-to-peer connection.
bool wellFormed(const DbusCall& call) {
  return (call.destination.empty() || g_dbus_is_name(call.destination.c_str())) &&
         g_variant_is_object_path(call.path.c_str()) &&
         g_dbus_is_interface_name(call.interface.c_str()) &&
         g_dbus_is_member_name(call.method.c_str()) &&
         (!call.parameters || g_variant_is_of_type(call.parameters, G_VARIANT_TYPE_TUPLE));
}

void dropParameters(DbusCall& call) {
  if (call.parameters) g_variant_unref(g_variant_ref_sink(call.parameters));
  call.parameters = nullptr;
}

}  // namespace

void routeReplies(GDBusConnection* connection) {
  auto* router = new ReplyRouter;
  router->ready.store(true, std::memory_order_release);
  // The connection owns its router: GDBus stops delivering to filters when the connection is
  // disposed, and the router goes with the connection's data after that.
  g_object_set_data_full(G_OBJECT(connection), kRouterKey, router, freeRouter);
  g_dbus_connection_add_filter(connection, routeReply, router, nullptr);
  g_signal_connect(connection, "closed", G_CALLBACK(onClosed), router);
}

std::vector<VariantRef> callAll(GDBusConnection* connection, std::vector<DbusCall> calls,
                                int timeoutMs) {
  std::vector<VariantRef> replies(calls.size());
  if (!connection || g_dbus_connection_is_closed(connection) || calls.empty()) {
    for (DbusCall& call : calls) dropParameters(call);
    return replies;
  }
  auto* routerData = static_cast<ReplyRouter*>(g_object_get_data(G_OBJECT(connection), kRouterKey));
  if (!routerData) {  // not made for batches: nothing would take the replies off
    for (DbusCall& call : calls) dropParameters(call);
    return replies;
  }
  ReplyRouter& router = *routerData;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  Waiter waiter;
  waiter.replies = &replies;
  std::vector<guint32> serials;
  serials.reserve(calls.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    DbusCall& call = calls[i];
    if (!wellFormed(call)) {
      dropParameters(call);
      continue;
    }
    GDBusMessage* message = g_dbus_message_new_method_call(
        call.destination.empty() ? nullptr : call.destination.c_str(), call.path.c_str(),
        call.interface.c_str(), call.method.c_str());
    if (call.parameters) g_dbus_message_set_body(message, call.parameters);  // takes it
    call.parameters = nullptr;
    if (!call.autoStart) g_dbus_message_set_flags(message, G_DBUS_MESSAGE_FLAGS_NO_AUTO_START);
    const guint32 serial = router.newSerial();
    g_dbus_message_set_serial(message, serial);
    // Known before it is sent: the reply may come back before send_message returns.
    {
      std::lock_guard lock(router.mutex);
      if (router.closed) {
        g_object_unref(message);
        continue;
      }
      router.pending.emplace(serial, Slot{&waiter, i, call.replyType});
      ++waiter.remaining;
    }
    serials.push_back(serial);
    const gboolean sent = g_dbus_connection_send_message(
        connection, message, G_DBUS_SEND_MESSAGE_FLAGS_PRESERVE_SERIAL, nullptr, nullptr);
    g_object_unref(message);
    if (!sent) {
      std::lock_guard lock(router.mutex);
      router.settle(serial, nullptr);
    }
  }
  std::unique_lock lock(router.mutex);
  waiter.done.wait_until(lock, deadline, [&] { return waiter.remaining == 0; });
  // What has not answered by now counts as failed; its late reply is dropped on arrival.
  for (guint32 serial : serials) router.pending.erase(serial);
  return replies;
}

VariantRef callOne(GDBusConnection* connection, DbusCall call, int timeoutMs) {
  std::vector<DbusCall> calls;
  calls.push_back(std::move(call));
  return std::move(callAll(connection, std::move(calls), timeoutMs)[0]);
}

DbusCall propertyGet(std::string destination, std::string path, const char* interface,
                     const char* property) {
  return {std::move(destination),
          std::move(path),
          "org.freedesktop.DBus.Properties",
          "Get",
          g_variant_new("(ss)", interface, property),
          G_VARIANT_TYPE("(v)")};
}

VariantRef propertyValue(const VariantRef& reply) {
  if (!reply) return nullptr;
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  return VariantRef(value);
}

}  // namespace tavren::atspi
