#pragma once

#include <gio/gio.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/atspi/dbus_batch.h"
#include "platform/linux/atspi/peer_connection.h"
#include "platform/linux/atspi/toolkit_traits.h"

namespace tavren::atspi {

// Where an accessible lives: its application's bus name and its object path.
struct AccessibleRef {
  std::string bus;
  std::string path;
  bool operator==(const AccessibleRef&) const = default;
};

// Optional AT-SPI interfaces an accessible implements, as bits.
enum InterfaceBit : uint32_t {
  kComponentInterface = 1,
  kActionInterface = 2,
  kTextInterface = 4,
  kValueInterface = 8,
  kEditableTextInterface = 16,
};

// What AT-SPI tells of one accessible without calling its optional interfaces.
struct AccessibleNode {
  AccessibleRef ref;
  bool read = false;        // false: the accessible did not answer
  uint32_t role = 0;        // AtspiRole
  uint64_t states = 0;      // bit n for AtspiStateType n
  uint32_t interfaces = 0;  // InterfaceBit
  std::string name;
  std::string description;
  int32_t childCount = -1;  // -1 when unknown
  AccessibleRef parent;     // as the cache reports it; empty when not from the cache
  int32_t indexInParent = -1;
};

// One request's line to one application. Once a batch failed by running into its timeout the
// application is taken as not answering, and later batches are not sent: a hung application
// costs one timeout per request, not one per batch.
struct AppLink {
  GDBusConnection* bus = nullptr;
  // sd-bus: straight to the application when it offered that, else to the bus (openBus)
  PeerConnection* direct = nullptr;
  std::string busName;
  bool answering = true;
  // Known once readRoot has asked the application which toolkit it is; until then only the
  // call shapes every toolkit takes are used.
  ToolkitTraits traits;
  bool toolkitAnswered = false;  // readRoot had the toolkit's name answered
};

// A method call on an accessible; `replyType` (a GVariant type string) may be null.
DbusCall accessibleCall(const AccessibleRef& ref, const char* interface, const char* method,
                        GVariant* parameters, const char* replyType);
// A property from its Properties.Get reply: none (empty for a string) where the read failed or
// gave another type.
std::string stringProperty(const VariantRef& reply);
std::optional<int32_t> intProperty(const VariantRef& reply);
std::optional<double> doubleProperty(const VariantRef& reply);

// Sends the calls together (in slices, to stay within the bus's limit of pending replies).
// Calls to the application itself go over the direct connection when there is one; there a
// call's reader, when `readers` has one, takes its reply (see ReplyReader).
std::vector<VariantRef> callApp(AppLink& link, std::vector<DbusCall> calls,
                                std::vector<ReplyReader> readers = {});

// Calls of independent reads that go out to the application as one batch (callApp): each read
// adds its calls, and takes its replies by the positions add gave once the batch is sent.
struct AppBatch {
  std::vector<DbusCall> calls;
  std::vector<ReplyReader> readers;
  std::vector<VariantRef> replies;
  size_t add(DbusCall call, ReplyReader reader = {});
  void send(AppLink& link);
};

// The application's cached accessibles (org.a11y.atspi.Cache.GetItems), its root's children
// and its toolkit (which sets link.traits), in one batch. No cache (older toolkits, or a bridge
// not yet activated) gives none.
struct RootRead {
  std::optional<std::vector<AccessibleNode>> cache;
  std::optional<std::vector<AccessibleRef>> rootChildren;
};
RootRead readRoot(AppLink& link, const std::string& rootPath, bool withCache);

// Role, states, interfaces, name, description and child count of each accessible.
std::vector<AccessibleNode> readNodes(AppLink& link, std::span<const AccessibleRef> refs);

// The states of each accessible as they are now (bit n for AtspiStateType n); none where the
// read failed. One call each, all together.
std::vector<std::optional<uint64_t>> readStates(AppLink& link, std::span<const AccessibleRef> refs);

// The children of each node, at most `atMost` each; none where the read failed. Nodes that
// manage their descendants are asked child by child (they may have very many).
std::vector<std::optional<std::vector<AccessibleRef>>> readChildLists(
    AppLink& link, std::span<const AccessibleNode* const> nodes, size_t atMost);

// Screen extents (x, y, width, height) and action names of each node; window-relative extents
// for toolkits that have no others (ToolkitTraits). A node without the
// Component or Action interface is not asked for what it lacks: no extents, no actions.
// `actionCounts`, when given, holds each node's number of actions where already known (-1
// where not): those are not asked for again. The calls of `along`, when given, go out with the
// first batch, and their replies are left in it.
struct NodeDetails {
  std::optional<std::array<int32_t, 4>> extents;
  std::optional<std::vector<std::string>> actions;
};
std::vector<NodeDetails> readDetails(AppLink& link, std::span<const AccessibleNode* const> nodes,
                                     std::span<const int32_t> actionCounts = {},
                                     AppBatch* along = nullptr);

// The value of each node: its text (Text interface) or current value (Value interface).
// Secret text roles are never asked. `known`, when given, holds what a whole-window read
// already told of each node (null where nothing): an empty text or a current value is not
// asked for again.
struct NodeValue {
  std::optional<std::string> text;
  std::optional<double> number;
};
struct TreeNode;
std::vector<NodeValue> readValues(AppLink& link, std::span<const AccessibleNode* const> nodes,
                                  std::span<const TreeNode* const> known = {});

// What one Collection.GetTree call tells of each node of a subtree: screen extents, and the
// properties that spare calls later (each only where the node has that interface).
struct TreeNode {
  AccessibleRef ref;
  std::optional<std::array<int32_t, 4>> extents;
  std::optional<int32_t> actionCount;
  std::optional<int32_t> characterCount;
  std::optional<double> currentValue;
};
// Every node of the subtrees below `roots`, one GetTree call each, added to a batch (only for
// toolkits with ToolkitTraits::treeInOneCall); takeTrees reads them once it is sent. Nodes below
// one that manages its descendants are not included.
struct TreeReads {
  std::vector<size_t> at;                    // each root's call in the batch
  std::deque<std::vector<TreeNode>> direct;  // read from the message itself
};
void askTrees(AppBatch& batch, std::span<const AccessibleRef> roots, TreeReads& reads);
std::vector<TreeNode> takeTrees(const AppBatch& sent, TreeReads& reads);

// The number of actions of a node (Action.NActions), added to a batch; actionCount gives it
// once the batch is sent (none where the read failed).
size_t askActionCount(AppBatch& batch, const AccessibleNode& node);
std::optional<int32_t> actionCount(const AppBatch& sent, size_t at);

// Text that names a nameless field elsewhere: the name of the first element it is labelled by
// (a mnemonic label) and its placeholder text ("placeholder-text" attribute). Two rounds, each
// added to a batch that may carry other reads: askLabels adds the relations and attributes;
// askLabelNames reads them once that batch is sent and adds the label's Name to the next one,
// unless `known` gives it (this request read it already); takeLabels gives the labels once that
// is sent too.
struct NodeLabels {
  std::string labelledBy;
  std::string placeholder;
};
struct LabelReads {
  std::vector<size_t> at;      // each node's relations; its attributes follow
  std::vector<size_t> nameAt;  // each node's label's Name, SIZE_MAX where none
  std::vector<NodeLabels> labels;
};
void askLabels(AppBatch& batch, std::span<const AccessibleNode* const> nodes, LabelReads& reads);
using KnownName = std::function<const std::string*(const AccessibleRef&)>;
void askLabelNames(const AppBatch& sent, AppBatch& next, LabelReads& reads,
                   const KnownName& known = {});
std::vector<NodeLabels> takeLabels(const AppBatch& sent, LabelReads& reads);

// Registers this connection as an AT-SPI client, once per connection: toolkits build their
// accessible cache and answer GetItems only while some client listens for events.
void announceClient(GDBusConnection* bus);

}  // namespace tavren::atspi
