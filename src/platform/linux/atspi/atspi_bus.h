#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/atspi/glib_ref.h"

namespace tavren::atspi {

// A GLib main context run by a thread of its own for as long as this object lives. Connections
// are made in it: GDBus reports a connection's end ("closed") in the context it was made in, and
// the batches waiting on that connection learn of it there at once.
class ConnectionContext {
 public:
  ConnectionContext();
  ~ConnectionContext();  // stops the thread and waits for it
  ConnectionContext(const ConnectionContext&) = delete;
  ConnectionContext& operator=(const ConnectionContext&) = delete;

  GMainContext* get() const { return context_; }

 private:
  GMainContext* context_;
  GMainLoop* loop_;
  std::thread thread_;
};

// The process's one connection to the accessibility bus, shared by every thread (GDBus
// connections are thread-safe). The bus is found, in order, from $AT_SPI_BUS_ADDRESS, from
// org.a11y.Bus.GetAddress on the session bus when $DBUS_SESSION_BUS_ADDRESS names one (a session
// bus is never auto-launched), and from the AT_SPI_BUS property of the X root window. A bus
// that has gone is looked for afresh: the first address that no longer takes a connection is
// passed over for the next.
class AtspiBus {
 public:
  // rootAddress reads AT_SPI_BUS from the X root window; it may be empty. The bus addresses
  // come from the environment.
  explicit AtspiBus(std::function<std::string()> rootAddress = {});
  // The same for a desktop given by its addresses, which stand for the two variables.
  AtspiBus(std::string a11yAddress, std::string sessionAddress,
           std::function<std::string()> rootAddress);
  AtspiBus(const AtspiBus&) = delete;
  AtspiBus& operator=(const AtspiBus&) = delete;

  // The connection, or null when the bus cannot be reached. Opened on first use; after a
  // failure it is tried again no sooner than kRetryInterval later; reopened once it closed.
  // While one thread opens it, the others get null at once rather than wait.
  ObjectRef<GDBusConnection> connection();

  // org.a11y.Status.IsEnabled as the session bus told it when the connection was last opened;
  // nothing when no session bus answered.
  std::optional<bool> enabled();

  // The address the connection was last opened at; empty before that.
  std::string address();

  // Where this bus's connections are made (direct ones to applications: peer_connection.h).
  ConnectionContext& context() { return context_; }

  static constexpr std::chrono::seconds kRetryInterval{2};
  static constexpr int kConnectTimeoutMs = 1500;

 private:
  // A new connection to the first of the bus's addresses that takes one; also reads the
  // enabled status when a session bus answers.
  ObjectRef<GDBusConnection> open(std::optional<bool>& enabled, std::string& address);

  ConnectionContext context_;  // first: it outlives every connection made in it
  std::mutex mutex_;
  ObjectRef<GDBusConnection> connection_;
  std::chrono::steady_clock::time_point nextAttempt_{};
  bool connecting_ = false;
  std::condition_variable attemptDone_;  // signalled when an attempt ends
  std::optional<bool> enabled_;
  std::string address_;
  std::function<std::string()> rootAddress_;
  std::string envAddress_;
  std::string sessionAddress_;
};

// A private connection to the message bus at this address (not the process-wide singletons of
// GIO, which may exit the process when the bus goes away), made in `context`, given up after
// timeoutMs. It carries batches (dbus_batch.h).
ObjectRef<GDBusConnection> openBusConnection(ConnectionContext& context, const std::string& address,
                                             int timeoutMs);

}  // namespace tavren::atspi
