#include "platform/linux/atspi/accessible_reads.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstring>

#include "platform/linux/atspi/atspi_names.h"
#include "platform/linux/atspi/atspi_roles.h"

namespace tavren::atspi {
namespace {

// The bus allows a connection 50,000 pending replies; concurrent requests share ours.
constexpr size_t kSliceSize = 4096;
// A batch that took this close to the call timeout ran into it.
constexpr auto kTimeoutSlack = std::chrono::milliseconds(100);

}  // namespace

DbusCall accessibleCall(const AccessibleRef& ref, const char* interface, const char* method,
                        GVariant* parameters, const char* replyType) {
  return {ref.bus, ref.path,   interface,
          method,  parameters, replyType ? G_VARIANT_TYPE(replyType) : nullptr};
}

std::string stringProperty(const VariantRef& reply) {
  VariantRef value = propertyValue(reply);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) return {};
  return g_variant_get_string(value.get(), nullptr);
}

std::optional<int32_t> intProperty(const VariantRef& reply) {
  VariantRef value = propertyValue(reply);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
  return g_variant_get_int32(value.get());
}

std::optional<double> doubleProperty(const VariantRef& reply) {
  VariantRef value = propertyValue(reply);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_DOUBLE)) return std::nullopt;
  return g_variant_get_double(value.get());
}

namespace {

void dropParameters(DbusCall& call) {
  if (call.parameters) g_variant_unref(g_variant_ref_sink(call.parameters));
  call.parameters = nullptr;
}

uint32_t interfaceBit(const char* name) {
  if (std::strcmp(name, spi::kComponent) == 0) return kComponentInterface;
  if (std::strcmp(name, spi::kAction) == 0) return kActionInterface;
  if (std::strcmp(name, spi::kText) == 0) return kTextInterface;
  if (std::strcmp(name, spi::kValue) == 0) return kValueInterface;
  if (std::strcmp(name, spi::kEditableText) == 0) return kEditableTextInterface;
  return 0;
}

std::vector<AccessibleRef> refsOf(GVariantIter* refs) {
  std::vector<AccessibleRef> out;
  const gchar* bus = nullptr;
  const gchar* path = nullptr;
  while (g_variant_iter_next(refs, "(&s&o)", &bus, &path)) out.push_back({bus, path});
  return out;
}

// The reply of GetItems holds every accessible of an application (thousands): its fields are
// read by position, without a format string to interpret per item.
class Fields {
 public:
  explicit Fields(GVariant* tuple) : tuple_(tuple) {}
  ~Fields() {
    for (size_t i = 0; i < count_; ++i) g_variant_unref(held_[i]);
  }
  Fields(const Fields&) = delete;
  Fields& operator=(const Fields&) = delete;

  // Each field is asked for once, so there are never more than the tuple's fields.
  GVariant* at(size_t i) { return held_[count_++] = g_variant_get_child_value(tuple_, i); }
  const char* text(size_t i) { return g_variant_get_string(at(i), nullptr); }
  AccessibleRef ref(size_t i) {
    Fields pair(at(i));
    return {pair.text(0), pair.text(1)};
  }

 private:
  GVariant* tuple_;
  std::array<GVariant*, 10> held_{};
  size_t count_ = 0;
};

uint32_t interfacesOf(GVariant* names) {
  uint32_t bits = 0;
  const size_t n = g_variant_n_children(names);
  for (size_t k = 0; k < n; ++k) {
    GVariant* name = g_variant_get_child_value(names, k);
    bits |= interfaceBit(g_variant_get_string(name, nullptr));
    g_variant_unref(name);
  }
  return bits;
}

uint64_t statesOf(GVariant* words) {
  gsize n = 0;
  const auto* data =
      static_cast<const guint32*>(g_variant_get_fixed_array(words, &n, sizeof(guint32)));
  uint64_t states = 0;
  for (gsize k = 0; k < n && k < 2; ++k) states |= static_cast<uint64_t>(data[k]) << (32 * k);
  return states;
}

std::optional<std::vector<AccessibleNode>> cacheItems(const VariantRef& reply) {
  if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(a((so)(so)(so)iiassusau))"))) {
    return std::nullopt;
  }
  VariantRef items(g_variant_get_child_value(reply.get(), 0));
  const size_t count = g_variant_n_children(items.get());
  std::vector<AccessibleNode> nodes(count);
  for (size_t i = 0; i < count; ++i) {
    VariantRef item(g_variant_get_child_value(items.get(), i));
    Fields field(item.get());
    AccessibleNode& node = nodes[i];
    node.ref = field.ref(0);
    node.read = true;
    node.parent = field.ref(2);
    node.indexInParent = g_variant_get_int32(field.at(3));
    node.childCount = g_variant_get_int32(field.at(4));
    node.interfaces = interfacesOf(field.at(5));
    node.name = field.text(6);
    node.role = g_variant_get_uint32(field.at(7));
    node.description = field.text(8);
    node.states = statesOf(field.at(9));
  }
  return nodes;
}

// The same items read straight from a reply on a direct connection: thousands of items cost no
// GVariant each.
bool readCacheItems(sd_bus_message* reply, std::vector<AccessibleNode>& nodes) {
  if (sd_bus_message_enter_container(reply, 'a', "((so)(so)(so)iiassusau)") <= 0) return false;
  int entered = 0;
  while ((entered = sd_bus_message_enter_container(reply, 'r', "(so)(so)(so)iiassusau")) > 0) {
    const char *bus, *path, *appBus, *appPath, *parentBus, *parentPath, *name, *description;
    AccessibleNode& node = nodes.emplace_back();
    if (sd_bus_message_read(reply, "(so)(so)(so)ii", &bus, &path, &appBus, &appPath, &parentBus,
                            &parentPath, &node.indexInParent, &node.childCount) < 0 ||
        sd_bus_message_enter_container(reply, 'a', "s") <= 0) {
      return false;
    }
    const char* interface = nullptr;
    int more = 0;
    while ((more = sd_bus_message_read_basic(reply, 's', &interface)) > 0) {
      node.interfaces |= interfaceBit(interface);
    }
    const void* words = nullptr;
    size_t bytes = 0;
    if (more < 0 || sd_bus_message_exit_container(reply) < 0 ||
        sd_bus_message_read(reply, "sus", &name, &node.role, &description) < 0 ||
        sd_bus_message_read_array(reply, 'u', &words, &bytes) < 0 ||
        sd_bus_message_exit_container(reply) < 0) {
      return false;
    }
    const auto* state = static_cast<const uint32_t*>(words);
    for (size_t k = 0; k < bytes / sizeof(uint32_t) && k < 2; ++k) {
      node.states |= static_cast<uint64_t>(state[k]) << (32 * k);
    }
    node.ref = {bus, path};
    node.parent = {parentBus, parentPath};
    node.name = name;
    node.description = description;
    node.read = true;
  }
  return entered == 0 && sd_bus_message_exit_container(reply) >= 0;
}

std::optional<std::vector<AccessibleRef>> childrenOf(const VariantRef& reply) {
  if (!reply) return std::nullopt;
  GVariantIter* refs = nullptr;
  g_variant_get(reply.get(), "(a(so))", &refs);
  std::vector<AccessibleRef> out = refsOf(refs);
  g_variant_iter_free(refs);
  return out;
}

std::vector<VariantRef> sliceCall(GDBusConnection* bus, std::vector<DbusCall> calls,
                                  std::vector<ReplyReader>, std::vector<bool>*) {
  return callAll(bus, std::move(calls));
}
std::vector<VariantRef> sliceCall(PeerConnection* peer, std::vector<DbusCall> calls,
                                  std::vector<ReplyReader> readers, std::vector<bool>* unreadable) {
  return peer->callAll(std::move(calls), kCallTimeoutMs, std::move(readers), unreadable);
}

// One connection's share of callApp, in slices.
template <typename Connection>
void callOver(AppLink& link, Connection* connection, std::vector<DbusCall>& calls,
              std::vector<ReplyReader>& readers, const std::vector<size_t>& which,
              std::vector<VariantRef>& replies, std::vector<size_t>* unreadable = nullptr) {
  for (size_t start = 0; start < which.size(); start += kSliceSize) {
    const size_t end = std::min(which.size(), start + kSliceSize);
    if (!link.answering || connection == nullptr) {
      for (size_t k = start; k < which.size(); ++k) dropParameters(calls[which[k]]);
      return;
    }
    std::vector<DbusCall> slice;
    std::vector<ReplyReader> sliceReaders;
    slice.reserve(end - start);
    for (size_t k = start; k < end; ++k) {
      slice.push_back(std::move(calls[which[k]]));
      calls[which[k]].parameters = nullptr;  // moved into the slice
      if (which[k] < readers.size() && readers[which[k]]) {
        sliceReaders.resize(k - start + 1);
        sliceReaders[k - start] = std::move(readers[which[k]]);
      }
    }
    const auto began = std::chrono::steady_clock::now();
    std::vector<bool> refused;
    std::vector<VariantRef> answered =
        sliceCall(connection, std::move(slice), std::move(sliceReaders), &refused);
    for (size_t k = 0; unreadable && k < refused.size(); ++k) {
      if (refused[k]) unreadable->push_back(which[start + k]);
    }
    const auto took = std::chrono::steady_clock::now() - began;
    bool anyAnswer = false;
    for (size_t k = start; k < end; ++k) {
      anyAnswer = anyAnswer || answered[k - start];
      replies[which[k]] = std::move(answered[k - start]);
    }
    // Nothing answered within the timeout: the application hangs. One slow call among answered
    // ones only means that call was slow.
    if (!anyAnswer && took >= std::chrono::milliseconds(kCallTimeoutMs) - kTimeoutSlack) {
      link.answering = false;
    }
  }
}

}  // namespace

std::vector<VariantRef> callApp(AppLink& link, std::vector<DbusCall> calls,
                                std::vector<ReplyReader> readers) {
  std::vector<VariantRef> replies(calls.size());
  std::vector<size_t> direct, viaBus;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (link.direct != nullptr && calls[i].destination == link.busName) {
      if (!link.direct->viaBus()) calls[i].destination.clear();  // the peer itself
      direct.push_back(i);
    } else {
      viaBus.push_back(i);
    }
  }
  // What sd-bus would not read is asked again through the bus, where GDBus reads it: the
  // parameters are held for that, and the call's names kept.
  std::vector<VariantRef> held;
  std::vector<DbusCall> names;
  if (!direct.empty()) {
    held.resize(calls.size());
    names.resize(calls.size());
    for (size_t i : direct) {
      if (calls[i].parameters) held[i].reset(g_variant_ref_sink(calls[i].parameters));
      names[i] = {link.busName,    calls[i].path, calls[i].interface,
                  calls[i].method, nullptr,       calls[i].replyType};
    }
  }
  std::vector<size_t> unreadable;
  callOver(link, link.direct, calls, readers, direct, replies, &unreadable);
  for (size_t i : unreadable) {
    names[i].parameters = held[i].get();  // held here: the batch's own reference comes and goes
    calls[i] = std::move(names[i]);
    viaBus.push_back(i);
  }
  callOver(link, link.bus, calls, readers, viaBus, replies);
  return replies;
}

size_t AppBatch::add(DbusCall call, ReplyReader reader) {
  if (reader) {
    readers.resize(calls.size() + 1);
    readers.back() = std::move(reader);
  }
  calls.push_back(std::move(call));
  return calls.size() - 1;
}

void AppBatch::send(AppLink& link) {
  replies = callApp(link, std::move(calls), std::move(readers));
  calls.clear();
  readers.clear();
}

RootRead readRoot(AppLink& link, const std::string& rootPath, bool withCache) {
  // The root's children first: an application answers in order, and a cache that takes too
  // long must not cost the list of windows too.
  std::vector<DbusCall> calls;
  calls.push_back(accessibleCall({link.busName, rootPath}, spi::kAccessible, "GetChildren", nullptr,
                                 "(a(so))"));
  calls.push_back(propertyGet(link.busName, rootPath, spi::kApplication, "ToolkitName"));
  calls.push_back(propertyGet(link.busName, rootPath, spi::kApplication, "Version"));
  std::optional<std::vector<AccessibleNode>> direct;  // read from the message itself
  std::vector<ReplyReader> readers;
  if (withCache) {
    calls.push_back({link.busName, spi::kCachePath, spi::kCache, "GetItems", nullptr, nullptr});
    readers.resize(calls.size());
    readers.back() = [&direct](sd_bus_message* reply) {
      direct.emplace();
      if (readCacheItems(reply, *direct)) return true;
      direct.reset();
      return false;
    };
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls), std::move(readers));
  link.traits = toolkitTraits(stringProperty(replies[1]), stringProperty(replies[2]));
  link.toolkitAnswered = static_cast<bool>(replies[1]);
  if (!withCache) return {std::nullopt, childrenOf(replies[0])};
  if (replies[3] && direct) return {std::move(direct), childrenOf(replies[0])};
  return {cacheItems(replies[3]), childrenOf(replies[0])};
}

std::vector<AccessibleNode> readNodes(AppLink& link, std::span<const AccessibleRef> refs) {
  // Name, description and child count in one GetAll where the toolkit takes it, else one Get
  // each (see ToolkitTraits).
  const bool getAll = link.traits.answersGetAll;
  const size_t perNode = getAll ? 4 : 6;
  std::vector<DbusCall> calls;
  calls.reserve(refs.size() * perNode);
  for (const AccessibleRef& ref : refs) {
    calls.push_back(accessibleCall(ref, spi::kAccessible, "GetRole", nullptr, "(u)"));
    calls.push_back(accessibleCall(ref, spi::kAccessible, "GetState", nullptr, "(au)"));
    calls.push_back(accessibleCall(ref, spi::kAccessible, "GetInterfaces", nullptr, "(as)"));
    if (getAll) {
      calls.push_back(accessibleCall(ref, "org.freedesktop.DBus.Properties", "GetAll",
                                     g_variant_new("(s)", spi::kAccessible), "(a{sv})"));
    } else {
      calls.push_back(propertyGet(ref.bus, ref.path, spi::kAccessible, "Name"));
      calls.push_back(propertyGet(ref.bus, ref.path, spi::kAccessible, "Description"));
      calls.push_back(propertyGet(ref.bus, ref.path, spi::kAccessible, "ChildCount"));
    }
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<AccessibleNode> nodes(refs.size());
  for (size_t i = 0; i < refs.size(); ++i) {
    AccessibleNode& node = nodes[i];
    node.ref = refs[i];
    const VariantRef* r = &replies[i * perNode];
    if (!r[0]) continue;
    node.read = true;
    g_variant_get(r[0].get(), "(u)", &node.role);
    if (r[1]) node.states = statesOf(VariantRef(g_variant_get_child_value(r[1].get(), 0)).get());
    if (r[2]) {
      node.interfaces = interfacesOf(VariantRef(g_variant_get_child_value(r[2].get(), 0)).get());
    }
    if (!getAll) {
      node.name = stringProperty(r[3]);
      node.description = stringProperty(r[4]);
      node.childCount = intProperty(r[5]).value_or(-1);
    } else if (r[3]) {
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

std::vector<std::optional<uint64_t>> readStates(AppLink& link,
                                                std::span<const AccessibleRef> refs) {
  std::vector<DbusCall> calls;
  calls.reserve(refs.size());
  for (const AccessibleRef& ref : refs) {
    calls.push_back(accessibleCall(ref, spi::kAccessible, "GetState", nullptr, "(au)"));
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<std::optional<uint64_t>> states(refs.size());
  for (size_t i = 0; i < refs.size(); ++i) {
    if (replies[i])
      states[i] = statesOf(VariantRef(g_variant_get_child_value(replies[i].get(), 0)).get());
  }
  return states;
}

std::vector<std::optional<std::vector<AccessibleRef>>> readChildLists(
    AppLink& link, std::span<const AccessibleNode* const> nodes, size_t atMost) {
  std::vector<DbusCall> calls;
  for (const AccessibleNode* node : nodes) {
    if (hasState(node->states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
      calls.push_back(propertyGet(node->ref.bus, node->ref.path, spi::kAccessible, "ChildCount"));
    } else {
      calls.push_back(
          accessibleCall(node->ref, spi::kAccessible, "GetChildren", nullptr, "(a(so))"));
    }
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::vector<std::optional<std::vector<AccessibleRef>>> lists(nodes.size());

  // Nodes that manage their descendants create a child object per row and column on request:
  // ask only for the children a walk can reach, one call each, all in flight.
  std::vector<size_t> managed;
  std::vector<DbusCall> childCalls;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!hasState(nodes[i]->states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
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
      childCalls.push_back(accessibleCall(nodes[i]->ref, spi::kAccessible, "GetChildAtIndex",
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

std::vector<NodeDetails> readDetails(AppLink& link, std::span<const AccessibleNode* const> nodes,
                                     std::span<const int32_t> actionCounts, AppBatch* along) {
  // Extents, the number of actions and the first action's name go out together; the names of
  // further actions (rare) follow in a second batch. Where the number is known already, every
  // name goes out in the first. (GetActions would give every name in one call, but GTK's
  // bridge answers it with localised names.)
  // ATSPI_COORD_TYPE_WINDOW (1) where screen coordinates are not to be had.
  constexpr int32_t kMostActions = 64;
  const uint32_t coordinates = link.traits.windowRelativeExtents ? 1u : 0u;
  auto nameCall = [](const AccessibleNode& node, int32_t index) {
    return accessibleCall(node.ref, spi::kAction, "GetName", g_variant_new("(i)", index), "(s)");
  };
  AppBatch own;
  AppBatch& batch = along != nullptr ? *along : own;
  std::vector<size_t> extentsAt(nodes.size(), SIZE_MAX), actionsAt(nodes.size(), SIZE_MAX);
  std::vector<int32_t> counted(nodes.size(), -1);  // the number of actions known beforehand
  for (size_t i = 0; i < nodes.size(); ++i) {
    const AccessibleNode& node = *nodes[i];
    if (node.interfaces & kComponentInterface) {
      extentsAt[i] = batch.add(accessibleCall(node.ref, spi::kComponent, "GetExtents",
                                              g_variant_new("(u)", coordinates), "((iiii))"));
    }
    if (!(node.interfaces & kActionInterface)) continue;
    actionsAt[i] = batch.calls.size();
    if (i < actionCounts.size() && actionCounts[i] >= 0) {
      counted[i] = actionCounts[i];
      for (int32_t a = 0; a < std::min(counted[i], kMostActions); ++a) {
        batch.add(nameCall(node, a));
      }
      continue;
    }
    askActionCount(batch, node);
    batch.add(nameCall(node, 0));
  }
  batch.send(link);
  const std::vector<VariantRef>& replies = batch.replies;
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
    const bool known = counted[i] >= 0;
    const std::optional<int32_t> count =
        known ? std::optional<int32_t>(counted[i]) : actionCount(batch, actionsAt[i]);
    if (!count) continue;
    std::vector<std::string>& actions = details[i].actions.emplace();
    const size_t firstName = known ? actionsAt[i] : actionsAt[i] + 1;
    const int32_t sent = known ? std::min(*count, kMostActions) : std::min(*count, 1);
    for (int32_t a = 0; a < sent; ++a) {
      const VariantRef& name = replies[firstName + static_cast<size_t>(a)];
      if (!name) {
        details[i].actions.reset();  // a list with a hole would shift every later index
        break;
      }
      const gchar* text = nullptr;
      g_variant_get(name.get(), "(&s)", &text);
      actions.push_back(text);
    }
    if (known || !details[i].actions) continue;
    for (int32_t a = 1; a < std::min(*count, kMostActions); ++a) {
      more.emplace_back(i, a);
      moreCalls.push_back(nameCall(*nodes[i], a));
    }
  }
  std::vector<VariantRef> names = callApp(link, std::move(moreCalls));
  for (size_t k = 0; k < names.size(); ++k) {
    auto& actions = details[more[k].first].actions;
    if (!actions) continue;
    if (!names[k]) {
      actions.reset();
      continue;
    }
    const gchar* name = nullptr;
    g_variant_get(names[k].get(), "(&s)", &name);
    actions->push_back(name);
  }
  return details;
}

std::vector<NodeValue> readValues(AppLink& link, std::span<const AccessibleNode* const> nodes,
                                  std::span<const TreeNode* const> known) {
  std::vector<NodeValue> values(nodes.size());
  std::vector<DbusCall> calls;
  std::vector<size_t> at(nodes.size(), SIZE_MAX);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const AccessibleNode& node = *nodes[i];
    const TreeNode* told = i < known.size() ? known[i] : nullptr;
    if (isSecretTextRole(node.role)) continue;  // the secret never crosses the bus
    if (node.interfaces & kTextInterface) {
      if (told && told->characterCount == 0) {
        values[i].text.emplace();
        continue;
      }
      at[i] = calls.size();
      // The whole text: asking for a prefix by offset makes some toolkits read past the end.
      calls.push_back(accessibleCall(node.ref, spi::kText, "GetText",
                                     g_variant_new("(ii)", 0, wholeTextEnd(link.traits)), "(s)"));
    } else if (node.interfaces & kValueInterface) {
      if (told && told->currentValue) {
        values[i].number = *told->currentValue;
        continue;
      }
      at[i] = calls.size();
      calls.push_back(propertyGet(node.ref.bus, node.ref.path, spi::kValue, "CurrentValue"));
    }
  }
  std::vector<VariantRef> replies = callApp(link, std::move(calls));
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

namespace {

// What GetTree tells of one node's properties; false when it is not what was asked for.
bool readTreeProperty(sd_bus_message* reply, const char* name, TreeNode& node) {
  if (std::strcmp(name, "Component.ScreenExtents") == 0) {
    uint32_t e[4] = {};
    if (sd_bus_message_read(reply, "v", "(uuuu)", &e[0], &e[1], &e[2], &e[3]) < 0) return false;
    // Sent unsigned: cast back, so that INT32_MIN and negative sizes keep their meaning.
    node.extents = {static_cast<int32_t>(e[0]), static_cast<int32_t>(e[1]),
                    static_cast<int32_t>(e[2]), static_cast<int32_t>(e[3])};
    return true;
  }
  int32_t count = 0;
  if (std::strcmp(name, "Action.NActions") == 0) {
    if (sd_bus_message_read(reply, "v", "i", &count) < 0) return false;
    node.actionCount = count;
    return true;
  }
  if (std::strcmp(name, "Text.CharacterCount") == 0) {
    if (sd_bus_message_read(reply, "v", "i", &count) < 0) return false;
    node.characterCount = count;
    return true;
  }
  if (std::strcmp(name, "Value.CurrentValue") == 0) {
    double value = 0;
    if (sd_bus_message_read(reply, "v", "d", &value) < 0) return false;
    node.currentValue = value;
    return true;
  }
  return false;
}

// GetTree's reply read straight from the message on a direct connection.
bool readTreeNodes(sd_bus_message* reply, std::vector<TreeNode>& nodes) {
  if (sd_bus_message_enter_container(reply, 'a', "((so)a{sv})") <= 0) return false;
  int entered = 0;
  while ((entered = sd_bus_message_enter_container(reply, 'r', "(so)a{sv}")) > 0) {
    const char *bus, *path;
    if (sd_bus_message_read(reply, "(so)", &bus, &path) < 0 ||
        sd_bus_message_enter_container(reply, 'a', "{sv}") <= 0) {
      return false;
    }
    TreeNode& node = nodes.emplace_back();
    node.ref = {bus, path};
    int more = 0;
    while ((more = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
      const char* name = nullptr;
      if (sd_bus_message_read_basic(reply, 's', &name) <= 0) return false;
      if (!readTreeProperty(reply, name, node) && sd_bus_message_skip(reply, "v") < 0) {
        return false;
      }
      if (sd_bus_message_exit_container(reply) < 0) return false;
    }
    if (more < 0 || sd_bus_message_exit_container(reply) < 0 ||
        sd_bus_message_exit_container(reply) < 0) {
      return false;
    }
  }
  return entered == 0 && sd_bus_message_exit_container(reply) >= 0;
}

}  // namespace

void askTrees(AppBatch& batch, std::span<const AccessibleRef> roots, TreeReads& reads) {
  for (size_t r = 0; r < roots.size(); ++r) {
    // The match rule is ignored by the bridge; "all" (match type 1) for any that would not.
    GVariant* rule = g_variant_new_parsed(
        "@(aiia{ss}iaiiasib) ([], 1, @a{ss} {}, 1, @ai [], 1, @as [], 1, false)");
    // A property comes only from nodes with its interface.
    const char* properties[] = {"Component.ScreenExtents", "Action.NActions", "Text.CharacterCount",
                                "Value.CurrentValue", nullptr};
    std::vector<TreeNode>* nodes = &reads.direct.emplace_back();  // a deque: stays put
    reads.at.push_back(
        batch.add(accessibleCall(roots[r], spi::kCollection, "GetTree",
                                 g_variant_new("(@(aiia{ss}iaiiasib)^as)", rule, properties),
                                 "(a((so)a{sv}))"),
                  [nodes](sd_bus_message* reply) {
                    if (readTreeNodes(reply, *nodes)) return true;
                    nodes->clear();
                    return false;
                  }));
  }
}

std::vector<TreeNode> takeTrees(const AppBatch& sent, TreeReads& reads) {
  std::vector<TreeNode> out;
  for (size_t r = 0; r < reads.at.size(); ++r) {
    const VariantRef& reply = sent.replies[reads.at[r]];
    if (!reply) continue;
    if (!g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(a((so)a{sv}))"))) {
      out.insert(out.end(), std::make_move_iterator(reads.direct[r].begin()),
                 std::make_move_iterator(reads.direct[r].end()));
      continue;
    }
    VariantRef items(g_variant_get_child_value(reply.get(), 0));
    const size_t count = g_variant_n_children(items.get());
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i) {
      VariantRef item(g_variant_get_child_value(items.get(), i));
      VariantRef ref(g_variant_get_child_value(item.get(), 0));
      VariantRef properties(g_variant_get_child_value(item.get(), 1));
      const gchar* bus = nullptr;
      const gchar* path = nullptr;
      g_variant_get(ref.get(), "(&s&o)", &bus, &path);
      TreeNode& node = out.emplace_back();
      node.ref = {bus, path};
      GVariantIter entries;
      g_variant_iter_init(&entries, properties.get());
      const gchar* name = nullptr;
      GVariant* value = nullptr;
      while (g_variant_iter_next(&entries, "{&sv}", &name, &value)) {
        if (std::strcmp(name, "Component.ScreenExtents") == 0 &&
            g_variant_is_of_type(value, G_VARIANT_TYPE("(uuuu)"))) {
          guint32 x = 0, y = 0, w = 0, h = 0;
          g_variant_get(value, "(uuuu)", &x, &y, &w, &h);
          // Sent unsigned: cast back, so that INT32_MIN and negative sizes keep their meaning.
          node.extents = {static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w),
                          static_cast<int32_t>(h)};
        } else if (std::strcmp(name, "Action.NActions") == 0 &&
                   g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
          node.actionCount = g_variant_get_int32(value);
        } else if (std::strcmp(name, "Text.CharacterCount") == 0 &&
                   g_variant_is_of_type(value, G_VARIANT_TYPE_INT32)) {
          node.characterCount = g_variant_get_int32(value);
        } else if (std::strcmp(name, "Value.CurrentValue") == 0 &&
                   g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
          node.currentValue = g_variant_get_double(value);
        }
        g_variant_unref(value);
      }
    }
  }
  return out;
}

size_t askActionCount(AppBatch& batch, const AccessibleNode& node) {
  return batch.add(propertyGet(node.ref.bus, node.ref.path, spi::kAction, "NActions"));
}

std::optional<int32_t> actionCount(const AppBatch& sent, size_t at) {
  return intProperty(sent.replies[at]);
}

void askLabels(AppBatch& batch, std::span<const AccessibleNode* const> nodes, LabelReads& reads) {
  for (const AccessibleNode* node : nodes) {
    reads.at.push_back(batch.add(
        accessibleCall(node->ref, spi::kAccessible, "GetRelationSet", nullptr, "(a(ua(so)))")));
    batch.add(accessibleCall(node->ref, spi::kAccessible, "GetAttributes", nullptr, "(a{ss})"));
  }
  reads.labels.resize(nodes.size());
  reads.nameAt.assign(nodes.size(), SIZE_MAX);
}

void askLabelNames(const AppBatch& sent, AppBatch& next, LabelReads& reads,
                   const KnownName& known) {
  constexpr uint32_t kLabelledBy = 2;  // ATSPI_RELATION_LABELLED_BY
  for (size_t i = 0; i < reads.at.size(); ++i) {
    if (const VariantRef& attributes = sent.replies[reads.at[i] + 1]) {
      VariantRef map(g_variant_get_child_value(attributes.get(), 0));
      const gchar* text = nullptr;
      if (g_variant_lookup(map.get(), "placeholder-text", "&s", &text)) {
        reads.labels[i].placeholder = text;
      }
    }
    const VariantRef& relations = sent.replies[reads.at[i]];
    if (!relations) continue;
    GVariantIter* iter = nullptr;
    g_variant_get(relations.get(), "(a(ua(so)))", &iter);
    guint32 type = 0;
    GVariantIter* targets = nullptr;
    bool found = false;
    while (!found && g_variant_iter_next(iter, "(ua(so))", &type, &targets)) {
      const gchar* bus = nullptr;
      const gchar* path = nullptr;
      if (type == kLabelledBy && g_variant_iter_next(targets, "(&s&o)", &bus, &path)) {
        const std::string* name = known ? known({bus, path}) : nullptr;
        if (name != nullptr) {
          reads.labels[i].labelledBy = *name;
        } else {
          reads.nameAt[i] = next.add(propertyGet(bus, path, spi::kAccessible, "Name"));
        }
        found = true;
      }
      g_variant_iter_free(targets);
    }
    g_variant_iter_free(iter);
  }
}

std::vector<NodeLabels> takeLabels(const AppBatch& sent, LabelReads& reads) {
  for (size_t i = 0; i < reads.nameAt.size(); ++i) {
    if (reads.nameAt[i] != SIZE_MAX) {
      reads.labels[i].labelledBy = stringProperty(sent.replies[reads.nameAt[i]]);
    }
  }
  return std::move(reads.labels);
}

void announceClient(GDBusConnection* bus) {
  static constexpr const char* kAnnounced = "tavren-atspi-client";
  if (bus == nullptr || g_object_get_data(G_OBJECT(bus), kAnnounced) != nullptr) return;
  // An event no toolkit sends in practice: listening to it costs nothing, but it makes every
  // application's bridge count us as a client and build its cache.
  VariantRef reply = callOne(
      bus, {spi::kRegistry, spi::kRegistryPath, spi::kRegistry, "RegisterEvent",
            g_variant_new("(s@ass)", "object:announcement", g_variant_new_strv(nullptr, 0), ""),
            nullptr});
  if (reply) g_object_set_data(G_OBJECT(bus), kAnnounced, GINT_TO_POINTER(1));
}

}  // namespace tavren::atspi
