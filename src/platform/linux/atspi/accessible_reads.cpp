#include "platform/linux/atspi/accessible_reads.h"

#include <chrono>
#include <cstring>

#include "platform/linux/atspi/atspi_roles.h"

namespace tavren::atspi {
namespace {

constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kCachePath = "/org/a11y/atspi/cache";
// The bus allows a connection 50,000 pending replies; concurrent requests share ours.
constexpr size_t kSliceSize = 4096;
// A batch that took this close to the call timeout ran into it.
constexpr auto kTimeoutSlack = std::chrono::milliseconds(100);

DbusCall accessibleCall(const AccessibleRef& ref, const char* interface, const char* method,
                        GVariant* parameters, const char* replyType) {
  return {ref.bus, ref.path, interface, method, parameters,
          replyType ? G_VARIANT_TYPE(replyType) : nullptr};
}

void dropParameters(std::vector<DbusCall>& calls, size_t from) {
  for (size_t i = from; i < calls.size(); ++i) {
    if (calls[i].parameters) g_variant_unref(g_variant_ref_sink(calls[i].parameters));
    calls[i].parameters = nullptr;
  }
}

uint32_t interfaceBit(const char* name) {
  if (std::strcmp(name, "org.a11y.atspi.Component") == 0) return kComponentInterface;
  if (std::strcmp(name, "org.a11y.atspi.Action") == 0) return kActionInterface;
  if (std::strcmp(name, "org.a11y.atspi.Text") == 0) return kTextInterface;
  if (std::strcmp(name, "org.a11y.atspi.Value") == 0) return kValueInterface;
  return 0;
}

uint64_t statesOf(GVariantIter* words) {
  uint64_t states = 0;
  guint32 word = 0;
  for (int shift = 0; shift < 64 && g_variant_iter_next(words, "u", &word); shift += 32) {
    states |= static_cast<uint64_t>(word) << shift;
  }
  return states;
}

uint32_t interfacesOf(GVariantIter* names) {
  uint32_t bits = 0;
  const gchar* name = nullptr;
  while (g_variant_iter_next(names, "&s", &name)) bits |= interfaceBit(name);
  return bits;
}

std::vector<AccessibleRef> refsOf(GVariantIter* refs) {
  std::vector<AccessibleRef> out;
  const gchar* bus = nullptr;
  const gchar* path = nullptr;
  while (g_variant_iter_next(refs, "(&s&o)", &bus, &path)) out.push_back({bus, path});
  return out;
}

std::optional<std::vector<AccessibleNode>> cacheItems(const VariantRef& reply) {
  if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(a((so)(so)(so)iiassusau))"))) {
    return std::nullopt;
  }
  GVariantIter* items = nullptr;
  g_variant_get(reply.get(), "(a((so)(so)(so)iiassusau))", &items);
  std::vector<AccessibleNode> nodes;
  nodes.reserve(g_variant_iter_n_children(items));
  const gchar *bus, *path, *appBus, *appPath, *parentBus, *parentPath, *name, *description;
  gint32 index = 0, count = 0;
  guint32 role = 0;
  GVariantIter *interfaces = nullptr, *states = nullptr;
  while (g_variant_iter_next(items, "((&s&o)(&s&o)(&s&o)iias&su&sau)", &bus, &path, &appBus,
                             &appPath, &parentBus, &parentPath, &index, &count, &interfaces,
                             &name, &role, &description, &states)) {
    AccessibleNode node;
    node.ref = {bus, path};
    node.read = true;
    node.role = role;
    node.states = statesOf(states);
    node.interfaces = interfacesOf(interfaces);
    node.name = name;
    node.description = description;
    node.childCount = count;
    node.parent = {parentBus, parentPath};
    node.indexInParent = index;
    nodes.push_back(std::move(node));
    g_variant_iter_free(interfaces);
    g_variant_iter_free(states);
  }
  g_variant_iter_free(items);
  return nodes;
}

std::optional<std::vector<AccessibleRef>> childrenOf(const VariantRef& reply) {
  if (!reply) return std::nullopt;
  GVariantIter* refs = nullptr;
  g_variant_get(reply.get(), "(a(so))", &refs);
  std::vector<AccessibleRef> out = refsOf(refs);
  g_variant_iter_free(refs);
  return out;
}

std::optional<int32_t> intProperty(const VariantRef& reply) {
  VariantRef value = propertyValue(reply);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
  return g_variant_get_int32(value.get());
}

}  // namespace

std::vector<VariantRef> callApp(AppLink& link, std::vector<DbusCall> calls) {
  std::vector<VariantRef> replies(calls.size());
  for (size_t start = 0; start < calls.size(); start += kSliceSize) {
    if (!link.answering || link.bus == nullptr) {
      dropParameters(calls, start);
      break;
    }
    const size_t end = std::min(calls.size(), start + kSliceSize);
    std::vector<DbusCall> slice(std::make_move_iterator(calls.begin() + start),
                                std::make_move_iterator(calls.begin() + end));
    for (size_t i = start; i < end; ++i) calls[i].parameters = nullptr;  // moved into the slice
    const auto began = std::chrono::steady_clock::now();
    std::vector<VariantRef> answered = callAll(link.bus, std::move(slice));
    const auto took = std::chrono::steady_clock::now() - began;
    bool anyAnswer = false;
    for (size_t i = 0; i < answered.size(); ++i) {
      anyAnswer = anyAnswer || answered[i];
      replies[start + i] = std::move(answered[i]);
    }
    // Nothing answered within the timeout: the application hangs. One slow call among answered
    // ones only means that call was slow.
    if (!anyAnswer && took >= std::chrono::milliseconds(kCallTimeoutMs) - kTimeoutSlack) {
      link.answering = false;
    }
  }
  return replies;
}

RootRead readRoot(AppLink& link, const std::string& rootPath, bool withCache) {
  // The root's children first: an application answers in order, and a cache that takes too
  // long must not cost the list of windows too.
  std::vector<DbusCall> calls;
  calls.push_back(accessibleCall({link.busName, rootPath}, kAccessible, "GetChildren", nullptr,
                                 "(a(so))"));
  if (withCache) {
    calls.push_back({link.busName, kCachePath, "org.a11y.atspi.Cache", "GetItems", nullptr, nullptr});
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  if (!withCache) return {std::nullopt, childrenOf(replies[0])};
  return {cacheItems(replies[1]), childrenOf(replies[0])};
}

std::vector<AccessibleNode> readNodes(AppLink& link, std::span<const AccessibleRef> refs) {
  std::vector<DbusCall> calls;
  calls.reserve(refs.size() * 4);
  for (const AccessibleRef& ref : refs) {
    calls.push_back(accessibleCall(ref, kAccessible, "GetRole", nullptr, "(u)"));
    calls.push_back(accessibleCall(ref, kAccessible, "GetState", nullptr, "(au)"));
    calls.push_back(accessibleCall(ref, kAccessible, "GetInterfaces", nullptr, "(as)"));
    calls.push_back(accessibleCall(ref, "org.freedesktop.DBus.Properties", "GetAll",
                                   g_variant_new("(s)", kAccessible), "(a{sv})"));
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<AccessibleNode> nodes(refs.size());
  for (size_t i = 0; i < refs.size(); ++i) {
    AccessibleNode& node = nodes[i];
    node.ref = refs[i];
    const VariantRef* r = &replies[i * 4];
    if (!r[0]) continue;
    node.read = true;
    g_variant_get(r[0].get(), "(u)", &node.role);
    if (r[1]) {
      GVariantIter* words = nullptr;
      g_variant_get(r[1].get(), "(au)", &words);
      node.states = statesOf(words);
      g_variant_iter_free(words);
    }
    if (r[2]) {
      GVariantIter* names = nullptr;
      g_variant_get(r[2].get(), "(as)", &names);
      node.interfaces = interfacesOf(names);
      g_variant_iter_free(names);
    }
    if (r[3]) {
      GVariant* properties = nullptr;
      g_variant_get(r[3].get(), "(@a{sv})", &properties);
      const gchar* text = nullptr;
      if (g_variant_lookup(properties, "Name", "&s", &text)) node.name = text;
      if (g_variant_lookup(properties, "Description", "&s", &text)) node.description = text;
      gint32 count = -1;
      if (g_variant_lookup(properties, "ChildCount", "i", &count)) node.childCount = count;
      g_variant_unref(properties);
    }
  }
  return nodes;
}

std::vector<std::optional<std::vector<AccessibleRef>>> readChildLists(
    AppLink& link, std::span<const AccessibleNode* const> nodes, size_t atMost) {
  std::vector<DbusCall> calls;
  for (const AccessibleNode* node : nodes) {
    if (hasState(node->states, kStateManagesDescendants)) {
      calls.push_back(propertyGet(node->ref.bus, node->ref.path, kAccessible, "ChildCount"));
    } else {
      calls.push_back(accessibleCall(node->ref, kAccessible, "GetChildren", nullptr, "(a(so))"));
    }
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<std::optional<std::vector<AccessibleRef>>> lists(nodes.size());

  // Nodes that manage their descendants create a child object per row and column on request:
  // ask only for the children a walk can reach, one call each, all in flight.
  std::vector<size_t> managed;
  std::vector<DbusCall> childCalls;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!hasState(nodes[i]->states, kStateManagesDescendants)) {
      lists[i] = childrenOf(replies[i]);
      if (lists[i] && lists[i]->size() > atMost) lists[i]->resize(atMost);
      continue;
    }
    const std::optional<int32_t> count = intProperty(replies[i]);
    if (!count) continue;
    lists[i].emplace();
    const size_t wanted = std::min<size_t>(static_cast<size_t>(std::max(*count, 0)), atMost);
    for (size_t c = 0; c < wanted; ++c) {
      managed.push_back(i);
      childCalls.push_back(accessibleCall(nodes[i]->ref, kAccessible, "GetChildAtIndex",
                                          g_variant_new("(i)", static_cast<gint32>(c)), "((so))"));
    }
  }
  std::vector<VariantRef> children = callApp(link, std::move(childCalls));
  for (size_t k = 0; k < children.size(); ++k) {
    if (!children[k]) continue;  // a child that vanished meanwhile is left out
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    g_variant_get(children[k].get(), "((&s&o))", &bus, &path);
    lists[managed[k]]->push_back({bus, path});
  }
  return lists;
}

std::vector<NodeDetails> readDetails(AppLink& link, std::span<const AccessibleNode* const> nodes) {
  // Extents, the number of actions and the first action's name go out together; the names of
  // further actions (rare) follow in a second batch.
  std::vector<DbusCall> calls;
  std::vector<size_t> extentsAt(nodes.size(), SIZE_MAX), actionsAt(nodes.size(), SIZE_MAX);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const AccessibleNode& node = *nodes[i];
    if (node.interfaces & kComponentInterface) {
      extentsAt[i] = calls.size();
      calls.push_back(accessibleCall(node.ref, "org.a11y.atspi.Component", "GetExtents",
                                     g_variant_new("(u)", 0u), "((iiii))"));
    }
    if (node.interfaces & kActionInterface) {
      actionsAt[i] = calls.size();
      calls.push_back(propertyGet(node.ref.bus, node.ref.path, "org.a11y.atspi.Action", "NActions"));
      calls.push_back(accessibleCall(node.ref, "org.a11y.atspi.Action", "GetName",
                                     g_variant_new("(i)", 0), "(s)"));
    }
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<NodeDetails> details(nodes.size());
  std::vector<std::pair<size_t, int32_t>> more;  // node, action index
  std::vector<DbusCall> moreCalls;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (extentsAt[i] != SIZE_MAX && replies[extentsAt[i]]) {
      std::array<int32_t, 4> e{};
      g_variant_get(replies[extentsAt[i]].get(), "((iiii))", &e[0], &e[1], &e[2], &e[3]);
      details[i].extents = e;
    }
    if (!(nodes[i]->interfaces & kActionInterface)) {
      details[i].actions.emplace();  // no Action interface: no actions, not a failed read
      continue;
    }
    const std::optional<int32_t> count = intProperty(replies[actionsAt[i]]);
    if (!count) continue;
    details[i].actions.emplace();
    if (*count <= 0) continue;
    const VariantRef& first = replies[actionsAt[i] + 1];
    if (!first) {
      details[i].actions.reset();
      continue;
    }
    const gchar* name = nullptr;
    g_variant_get(first.get(), "(&s)", &name);
    details[i].actions->push_back(name);
    for (int32_t a = 1; a < std::min(*count, 64); ++a) {
      more.emplace_back(i, a);
      moreCalls.push_back(accessibleCall(nodes[i]->ref, "org.a11y.atspi.Action", "GetName",
                                         g_variant_new("(i)", a), "(s)"));
    }
  }
  std::vector<VariantRef> names = callApp(link, std::move(moreCalls));
  for (size_t k = 0; k < names.size(); ++k) {
    auto& actions = details[more[k].first].actions;
    if (!actions) continue;
    if (!names[k]) {
      actions.reset();  // a list with a hole would shift every later index
      continue;
    }
    const gchar* name = nullptr;
    g_variant_get(names[k].get(), "(&s)", &name);
    actions->push_back(name);
  }
  return details;
}

std::vector<NodeValue> readValues(AppLink& link, std::span<const AccessibleNode* const> nodes) {
  std::vector<DbusCall> calls;
  std::vector<size_t> at(nodes.size(), SIZE_MAX);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const AccessibleNode& node = *nodes[i];
    if (isSecretTextRole(node.role)) continue;  // the secret never crosses the bus
    if (node.interfaces & kTextInterface) {
      at[i] = calls.size();
      // The whole text: asking for a prefix by offset makes some toolkits read past the end.
      calls.push_back(accessibleCall(node.ref, "org.a11y.atspi.Text", "GetText",
                                     g_variant_new("(ii)", 0, -1), "(s)"));
    } else if (node.interfaces & kValueInterface) {
      at[i] = calls.size();
      calls.push_back(propertyGet(node.ref.bus, node.ref.path, "org.a11y.atspi.Value",
                                  "CurrentValue"));
    }
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<NodeValue> values(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (at[i] == SIZE_MAX || !replies[at[i]]) continue;
    if (nodes[i]->interfaces & kTextInterface) {
      const gchar* text = nullptr;
      g_variant_get(replies[at[i]].get(), "(&s)", &text);
      values[i].text = text;
      continue;
    }
    VariantRef value = propertyValue(replies[at[i]]);
    if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_DOUBLE)) {
      values[i].number = g_variant_get_double(value.get());
    }
  }
  return values;
}

void announceClient(GDBusConnection* bus) {
  static constexpr const char* kAnnounced = "tavren-atspi-client";
  if (bus == nullptr || g_object_get_data(G_OBJECT(bus), kAnnounced) != nullptr) return;
  // An event no toolkit sends in practice: listening to it costs nothing, but it makes every
  // application's bridge count us as a client and build its cache.
  VariantRef reply = callOne(
      bus, {"org.a11y.atspi.Registry", "/org/a11y/atspi/registry", "org.a11y.atspi.Registry",
            "RegisterEvent", g_variant_new("(s@ass)", "object:announcement",
                                           g_variant_new_strv(nullptr, 0), ""),
            nullptr});
  if (reply) g_object_set_data(G_OBJECT(bus), kAnnounced, GINT_TO_POINTER(1));
}

}  // namespace tavren::atspi
