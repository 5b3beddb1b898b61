#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tavren::atspi {

// An application registered with the AT-SPI registry: where its accessible root lives.
struct RegisteredApp {
  std::string busName;
  std::string path;
  int32_t pid = 0;  // 0 when the bus could not tell
};

// Every application the registry knows, with its pid: one call to the registry, then one
// batch of pid queries to the bus. *answered (when given) tells whether the registry answered.
std::vector<RegisteredApp> registeredApps(GDBusConnection* bus, bool* answered = nullptr);

// The accessible Name of each application's root, in the same order; empty where it did not
// answer in time. One batch, all in flight together.
std::vector<std::string> applicationNames(GDBusConnection* bus,
                                          std::span<const RegisteredApp> apps);

}  // namespace tavren::atspi
