#include "platform/linux/windows/accessible_windows.h"

#include <climits>

#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/atspi_names.h"
#include "platform/linux/atspi/atspi_roles.h"
#include "platform/linux/atspi/dbus_batch.h"
#include "platform/linux/atspi/registered_apps.h"
#include "platform/linux/atspi/toolkit_traits.h"

namespace tavren::appwindows {

namespace {

using atspi::DbusCall;
using atspi::VariantRef;
namespace spi = atspi::spi;

constexpr uint32_t kScreenCoordinates = 0;  // ATSPI_COORD_TYPE_SCREEN

struct Child {
  std::string busName;
  std::string path;
  bool windowRelative = false;  // its toolkit places windows at the origin (ToolkitTraits)
};

std::vector<Child> childrenOf(GDBusConnection* bus, const std::vector<atspi::RegisteredApp>& apps) {
  std::vector<DbusCall> calls;
  for (const atspi::RegisteredApp& app : apps) {
    calls.push_back({app.busName, app.path, spi::kAccessible, "GetChildren", nullptr,
                     G_VARIANT_TYPE("(a(so))")});
    calls.push_back(atspi::propertyGet(app.busName, app.path, spi::kApplication, "ToolkitName"));
    calls.push_back(atspi::propertyGet(app.busName, app.path, spi::kApplication, "Version"));
  }
  std::vector<VariantRef> replies = atspi::callAll(bus, std::move(calls));
  std::vector<Child> children;
  for (size_t i = 0; i + 2 < replies.size(); i += 3) {
    if (!replies[i]) continue;
    const bool windowRelative = atspi::toolkitTraits(atspi::stringProperty(replies[i + 1]),
                                                     atspi::stringProperty(replies[i + 2]))
                                    .windowRelativeExtents;
    GVariantIter* iter = nullptr;
    g_variant_get(replies[i].get(), "(a(so))", &iter);
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    while (g_variant_iter_next(iter, "(&s&o)", &name, &path)) {
      children.push_back({name, path, windowRelative});
    }
    g_variant_iter_free(iter);
  }
  return children;
}

// Which of the `unsure` children are pop-ups holding a menu (atspi::isMenuHolder): their child
// lists, then the role of each only child, two batches, only when there are such children.
std::vector<bool> menuHolders(GDBusConnection* bus, const std::vector<Child>& children,
                              const std::vector<uint32_t>& roles,
                              const std::vector<size_t>& unsure) {
  std::vector<bool> holders(children.size(), false);
  if (unsure.empty()) return holders;
  std::vector<DbusCall> calls;
  for (size_t i : unsure) {
    calls.push_back({children[i].busName, children[i].path, spi::kAccessible, "GetChildren",
                     nullptr, G_VARIANT_TYPE("(a(so))")});
  }
  std::vector<VariantRef> lists = atspi::callAll(bus, std::move(calls));
  std::vector<size_t> single;
  std::vector<DbusCall> roleCalls;
  for (size_t k = 0; k < unsure.size(); ++k) {
    if (!lists[k]) continue;
    GVariantIter* iter = nullptr;
    g_variant_get(lists[k].get(), "(a(so))", &iter);
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    if (g_variant_iter_n_children(iter) == 1 && g_variant_iter_next(iter, "(&s&o)", &name, &path)) {
      single.push_back(unsure[k]);
      roleCalls.push_back(
          {name, path, spi::kAccessible, "GetRole", nullptr, G_VARIANT_TYPE("(u)")});
    }
    g_variant_iter_free(iter);
  }
  std::vector<VariantRef> childRoles = atspi::callAll(bus, std::move(roleCalls));
  for (size_t k = 0; k < single.size(); ++k) {
    if (!childRoles[k]) continue;
    uint32_t role = 0;
    g_variant_get(childRoles[k].get(), "(u)", &role);
    holders[single[k]] = atspi::isMenuHolder(roles[single[k]], std::span(&role, 1));
  }
  return holders;
}

uint64_t statesOf(const VariantRef& reply) {
  if (!reply) return 0;
  GVariantIter* iter = nullptr;
  g_variant_get(reply.get(), "(au)", &iter);
  uint64_t states = 0;
  guint32 word = 0;
  for (int i = 0; i < 2 && g_variant_iter_next(iter, "u", &word); ++i) {
    states |= static_cast<uint64_t>(word) << (32 * i);
  }
  g_variant_iter_free(iter);
  return states;
}

std::string nameOf(const VariantRef& reply) {
  VariantRef value = atspi::propertyValue(reply);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) return {};
  return g_variant_get_string(value.get(), nullptr);
}

}  // namespace

std::string protocolWindowRole(uint32_t role, uint64_t states) {
  return std::string(atspi::protocolRole(role, states, /*topLevel=*/true).role);
}

void setExtents(AccessibleWindow& window, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (x != INT32_MIN && y != INT32_MIN) window.position = Point{double(x), double(y)};
  if (width >= 0 && height >= 0) window.size = Size{double(width), double(height)};
}

std::vector<AccessibleWindow> accessibleWindows(GDBusConnection* bus, int32_t pid) {
  if (bus == nullptr || pid <= 0) return {};
  std::vector<atspi::RegisteredApp> apps;
  for (atspi::RegisteredApp& app : atspi::registeredApps(bus)) {
    if (app.pid == pid) apps.push_back(std::move(app));
  }
  if (apps.empty()) return {};
  std::vector<Child> children = childrenOf(bus, apps);

  // Role, states, name and extents of every child at once.
  constexpr size_t kPerChild = 4;
  std::vector<DbusCall> calls;
  calls.reserve(children.size() * kPerChild);
  for (const Child& c : children) {
    calls.push_back(
        {c.busName, c.path, spi::kAccessible, "GetRole", nullptr, G_VARIANT_TYPE("(u)")});
    calls.push_back(
        {c.busName, c.path, spi::kAccessible, "GetState", nullptr, G_VARIANT_TYPE("(au)")});
    calls.push_back(atspi::propertyGet(c.busName, c.path, spi::kAccessible, "Name"));
    calls.push_back({c.busName, c.path, spi::kComponent, "GetExtents",
                     g_variant_new("(u)", kScreenCoordinates), G_VARIANT_TYPE("((iiii))")});
  }
  std::vector<VariantRef> replies = atspi::callAll(bus, std::move(calls));

  std::vector<uint32_t> roles(children.size(), UINT32_MAX);
  std::vector<size_t> unsure;
  for (size_t i = 0; i < children.size(); ++i) {
    const VariantRef& role = replies[i * kPerChild];
    if (!role) continue;  // a child that cannot say its role cannot be told to be a window
    g_variant_get(role.get(), "(u)", &roles[i]);
    if (atspi::mayHoldMenu(roles[i])) unsure.push_back(i);
  }
  const std::vector<bool> holders = menuHolders(bus, children, roles, unsure);

  std::vector<AccessibleWindow> windows;
  for (size_t i = 0; i < children.size(); ++i) {
    const VariantRef* r = &replies[i * kPerChild];
    if (roles[i] == UINT32_MAX || !atspi::isWindowRole(roles[i]) || holders[i]) continue;
    AccessibleWindow window;
    window.role = roles[i];
    window.states = statesOf(r[1]);
    window.name = nameOf(r[2]);
    if (r[3]) {
      gint32 x = 0, y = 0, width = 0, height = 0;
      g_variant_get(r[3].get(), "((iiii))", &x, &y, &width, &height);
      setExtents(window, x, y, width, height);
      // Such a toolkit says nothing of where the window is: its size alone pairs it.
      if (children[i].windowRelative) window.position.reset();
    }
    windows.push_back(std::move(window));
  }
  return windows;
}

}  // namespace tavren::appwindows
