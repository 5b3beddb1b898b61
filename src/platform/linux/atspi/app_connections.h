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

namespace tavren::atspi {

// Direct connections to applications. A toolkit's accessibility bridge offers one on request
// (org.a11y.atspi.Application.GetApplicationBusAddress); calls over it skip the bus daemon,
// whose routing costs about as much as the application's own answer. Safe from any thread.
class AppConnections {
 public:
  struct Direct {
    std::shared_ptr<PeerConnection> connection;  // null: go over the bus
    bool silent = false;  // the application did not answer at all when asked for it
  };
  // The direct connection to the application with this bus name, opened on first use. None
  // when the application offers none or refused us, or while another thread opens it.
  Direct connectionTo(GDBusConnection* bus, const RegisteredApp& app);

  // The application with this pid and the direct connection that still reaches it, if one
  // does: its end would have closed the connection, so the registry need not be asked again.
  struct Reached {
    RegisteredApp app;
    std::shared_ptr<PeerConnection> connection;
  };
  std::optional<Reached> reachable(int32_t pid);

  static constexpr int kOpenTimeoutMs = 1000;

 private:
  struct Entry {
    RegisteredApp app;
    std::shared_ptr<PeerConnection> connection;
    bool opening = false;
    bool refused = false;
  };
  void forgetEnded();

  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;  // by bus name, which is never reused
};

}  // namespace tavren::atspi
