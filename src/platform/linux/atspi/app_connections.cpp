#include "platform/linux/atspi/app_connections.h"

#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/atspi/atspi_names.h"
#include "platform/linux/atspi/dbus_batch.h"

namespace tavren::atspi {

namespace {

// Bus names of applications that have ended are kept only up to this many.
constexpr size_t kRememberedApps = 256;

// The address the application offers; none when it offers none, and none with `silent` set
// when it did not answer within the call timeout.
std::string offeredAddress(GDBusConnection* bus, const std::string& busName,
                           const std::string& rootPath, bool& silent) {
  const auto began = std::chrono::steady_clock::now();
  VariantRef reply = callOne(bus, {busName, rootPath, spi::kApplication, "GetApplicationBusAddress",
                                   nullptr, G_VARIANT_TYPE("(s)")});
  if (!reply) {
    silent = std::chrono::steady_clock::now() - began >= std::chrono::milliseconds(kCallTimeoutMs);
    return {};
  }
  const gchar* address = nullptr;
  g_variant_get(reply.get(), "(&s)", &address);
  // A local socket only (PeerConnection::open takes no other): the address comes from another
  // process, which must not send this service across the network.
  if (address == nullptr || !g_str_has_prefix(address, "unix:")) return {};
  return address;
}

}  // namespace

void AppConnections::forgetEnded() {
  if (entries_.size() < kRememberedApps) return;
  std::erase_if(entries_, [](const auto& item) {
    const Entry& entry = item.second;
    // One to the bus cannot tell whether its application is still there: opened again if so.
    return !entry.opening && (entry.refused || !entry.connection || entry.connection->viaBus() ||
                              entry.connection->closed());
  });
}

void AppConnections::followBus(GDBusConnection* bus) {
  const gchar* guid = g_dbus_connection_get_guid(bus);
  if (guid == nullptr || busGuid_ == guid) return;
  busGuid_ = guid;
  entries_.clear();
}

std::optional<AppConnections::Reached> AppConnections::reachable(GDBusConnection* bus,
                                                                 int32_t pid) {
  if (bus == nullptr) return std::nullopt;
  std::lock_guard lock(mutex_);
  followBus(bus);
  for (const auto& [name, entry] : entries_) {
    if (entry.app.pid == pid && entry.connection && !entry.connection->viaBus() &&
        !entry.connection->closed()) {
      return Reached{entry.app, entry.connection};
    }
  }
  return std::nullopt;
}

std::optional<ToolkitTraits> AppConnections::traitsOf(const std::string& busName) {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(busName);
  if (found == entries_.end()) return std::nullopt;
  return found->second.traits;
}

void AppConnections::rememberTraits(const std::string& busName, const ToolkitTraits& traits) {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(busName);
  if (found != entries_.end()) found->second.traits = traits;
}

AppConnections::Direct AppConnections::connectionTo(GDBusConnection* bus, const RegisteredApp& app,
                                                    const std::string& busAddress) {
  const std::string& busName = app.busName;
  if (bus == nullptr || busName.empty()) return {};
  {
    std::lock_guard lock(mutex_);
    followBus(bus);
    Entry& entry = entries_[busName];
    entry.app = app;
    if (entry.connection && !entry.connection->closed()) return {entry.connection};
    if (entry.opening || entry.refused) return {};
    entry.connection.reset();
    entry.opening = true;
  }
  bool silent = false;
  const std::string address = offeredAddress(bus, busName, app.path, silent);
  std::shared_ptr<PeerConnection> opened =
      address.empty() ? nullptr : PeerConnection::open(address, kOpenTimeoutMs);
  if (!opened && !silent && !busAddress.empty()) {
    opened = PeerConnection::openBus(busAddress, kOpenTimeoutMs);
  }
  std::lock_guard lock(mutex_);
  // The bus restarted meanwhile: what was opened belongs to an application of the old one.
  const gchar* guid = g_dbus_connection_get_guid(bus);
  if (guid != nullptr && busGuid_ != guid) return {};
  Entry& entry = entries_[busName];
  entry.opening = false;
  // No offer, or an offer we cannot take (another user's socket): the bus it is, for good. A
  // silent application is asked again next time.
  entry.refused = !opened && !silent;
  entry.connection = std::move(opened);
  Direct result{entry.connection, silent};
  forgetEnded();
  return result;
}

}  // namespace tavren::atspi
