#pragma once

#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/atspi/glib_ref.h"
#include "platform/linux/atspi/peer_connection.h"
#include "platform/linux/atspi/registered_apps.h"
#include "platform/linux/atspi/toolkit_traits.h"

namespace tavren::atspi {

// Direct connections to applications. A toolkit's accessibility bridge offers one on request
// (org.a11y.atspi.Application.GetApplicationBusAddress); calls over it skip the bus daemon,
// whose routing costs about as much as the application's own answer. Safe from any thread.
// Bus names are unique only within one run of a bus: a restarted bus hands the same names to
// other applications, so what was learnt on a bus that has gone is forgotten.
class AppConnections {
 public:
  struct Direct {
    std::shared_ptr<PeerConnection> connection;  // null: go over the bus
    bool silent = false;  // the application did not answer at all when asked for it
  };
  // The direct connection to the application with this bus name, opened on first use. None
  // when the application offers none or refused us, or while another thread opens it. An
  // application that offers none is reached over a connection of its own to the bus at
  // `busAddress` (PeerConnection::openBus) when one is given: sd-bus's cost per call, not
  // GDBus's.
  Direct connectionTo(GDBusConnection* bus, const RegisteredApp& app,
                      const std::string& busAddress = {});

  // The application with this pid on this bus and the direct connection that still reaches it,
  // if one does: its end would have closed the connection, so the registry need not be asked
  // again. (A connection to the bus learns of no application's end: never taken here.)
  struct Reached {
    RegisteredApp app;
    std::shared_ptr<PeerConnection> connection;
  };
  std::optional<Reached> reachable(GDBusConnection* bus, int32_t pid);

  // The traits of the toolkit of the application with this bus name, once remembered: a bus
  // name is one connection of one process for the run of the bus, so its toolkit never changes.
  std::optional<ToolkitTraits> traitsOf(const std::string& busName);
  // Kept with the application's entry, if it has one (connectionTo made it).
  void rememberTraits(const std::string& busName, const ToolkitTraits& traits);

  static constexpr int kOpenTimeoutMs = 1000;

 private:
  struct Entry {
    RegisteredApp app;
    std::shared_ptr<PeerConnection> connection;
    bool opening = false;
    bool refused = false;
    std::optional<ToolkitTraits> traits;
  };
  void forgetEnded();
  // Forgets every application when `bus` is another run of the bus than the last one seen.
  void followBus(GDBusConnection* bus);

  std::mutex mutex_;
  std::string busGuid_;                             // the run of the bus the entries belong to
  std::unordered_map<std::string, Entry> entries_;  // by bus name, never reused in one run
};

}  // namespace tavren::atspi
