#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

#include "platform/linux/atspi/glib_ref.h"

namespace tavren::atspi {

// Default bound on any one D-Bus call: an application that hangs must not hang a request.
inline constexpr int kCallTimeoutMs = 1500;

// One method call. parameters may be floating; the batch takes it.
struct DbusCall {
  std::string destination;
  std::string path;
  std::string interface;
  std::string method;
  GVariant* parameters = nullptr;
  const GVariantType* replyType = nullptr;  // checked by GDBus; null accepts any reply
  // False: a destination nobody owns is not started by the bus for this call (the bus answers
  // with an error instead).
  bool autoStart = true;
};

// Makes the connection able to carry batches: replies to them are taken off the connection in
// its worker thread, before GDBus dispatches anything. Called once, on a new connection, before
// it is shared with other threads (the connections of atspi_bus.h come with it).
void routeReplies(GDBusConnection* connection);

// Sends every call at once and waits until each has been answered or has failed, or until
// timeoutMs have passed, so the whole batch costs about one round trip to the slowest peer.
// Replies come back in call order; a failed or unanswered call gives null, as does every call on
// a connection routeReplies() was not called for. Callable from any thread; replies are taken
// off the connection as they arrive, without a main loop. An empty destination addresses the
// peer of a peer-to-peer connection.
std::vector<VariantRef> callAll(GDBusConnection* connection, std::vector<DbusCall> calls,
                                int timeoutMs = kCallTimeoutMs);

// One call, same rules.
VariantRef callOne(GDBusConnection* connection, DbusCall call, int timeoutMs = kCallTimeoutMs);

// The parameters of org.freedesktop.DBus.Properties.Get, and the value out of its reply.
DbusCall propertyGet(std::string destination, std::string path, const char* interface,
                     const char* property);
VariantRef propertyValue(const VariantRef& reply);

}  // namespace tavren::atspi
