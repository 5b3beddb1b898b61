#include "platform/linux/atspi/registered_apps.h"

#include <climits>

#include "platform/linux/atspi/atspi_names.h"
#include "platform/linux/atspi/dbus_batch.h"

namespace tavren::atspi {

namespace {

std::vector<RegisteredApp> registryChildren(GDBusConnection* bus, bool* answered) {
  VariantRef reply = callOne(bus, {spi::kRegistry, spi::kRootPath, spi::kAccessible, "GetChildren",
                                   nullptr, G_VARIANT_TYPE("(a(so))")});
  std::vector<RegisteredApp> apps;
  if (answered) *answered = reply != nullptr;
  if (!reply) return apps;
  GVariantIter* children = nullptr;
  g_variant_get(reply.get(), "(a(so))", &children);
  const gchar* name = nullptr;
  const gchar* path = nullptr;
  while (g_variant_iter_next(children, "(&s&o)", &name, &path)) {
    apps.push_back({name, path, 0});
  }
  g_variant_iter_free(children);
  return apps;
}

}  // namespace

std::vector<RegisteredApp> registeredApps(GDBusConnection* bus, bool* answered) {
  std::vector<RegisteredApp> apps = registryChildren(bus, answered);
  std::vector<DbusCall> calls;
  for (const RegisteredApp& app : apps) {
    calls.push_back({"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "GetConnectionUnixProcessID", g_variant_new("(s)", app.busName.c_str()),
                     G_VARIANT_TYPE("(u)")});
  }
  std::vector<VariantRef> replies = callAll(bus, std::move(calls));
  for (size_t i = 0; i < apps.size(); ++i) {
    if (!replies[i]) continue;
    guint32 pid = 0;
    g_variant_get(replies[i].get(), "(u)", &pid);
    if (pid <= INT32_MAX) apps[i].pid = static_cast<int32_t>(pid);
  }
  return apps;
}

std::vector<std::string> applicationNames(GDBusConnection* bus,
                                          std::span<const RegisteredApp> apps) {
  std::vector<DbusCall> calls;
  for (const RegisteredApp& app : apps) {
    calls.push_back(propertyGet(app.busName, app.path, spi::kAccessible, "Name"));
  }
  std::vector<VariantRef> replies = callAll(bus, std::move(calls));
  std::vector<std::string> names(apps.size());
  for (size_t i = 0; i < apps.size(); ++i) {
    VariantRef value = propertyValue(replies[i]);
    if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) {
      names[i] = g_variant_get_string(value.get(), nullptr);
    }
  }
  return names;
}

}  // namespace tavren::atspi
