#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/accessibility.h"
#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/glib_ref.h"

namespace tavren::atspi {

// One application's accessibles for one request. The toolkit's cache (one GetItems call)
// supplies every node and child list it holds correctly; what it lacks or gets wrong is read
// node by node, in batches, only where a walk asks for it.
class AtspiSnapshot final : public AccessibilitySnapshot {
 public:
  // A null connection or an empty bus name gives a snapshot of nothing. Calls to the
  // application go over `direct` when there is one. `answering` false: the application is
  // known to be silent, nothing is asked. Without the cache every node is read on its own, as
  // a plain walk would (tests compare the two).
  AtspiSnapshot(ObjectRef<GDBusConnection> bus, std::shared_ptr<PeerConnection> direct,
                bool answering, std::string busName, const std::string& rootPath,
                bool useCache = true);

  const std::vector<AccessibilityElement>& elements() const override { return elements_; }
  std::vector<ElementIndex> windows() const override { return windows_; }
  std::vector<ElementIndex> applicationChildren() const override { return appChildren_; }
  void readChildren(std::span<const ElementIndex> which, size_t atMost) override;
  std::vector<ElementDetails> details(std::span<const ElementIndex> which) override;
  std::vector<AttributeValue> values(std::span<const ElementIndex> which) override;
  std::optional<ElementIndex> elementAt(Point point, const Rect& window) override;
  std::optional<ElementIndex> focusedElement() override;
  std::unique_ptr<AccessibleElement> live(ElementIndex element) override;

  // Names a window the toolkit left without a name ("AXTitle"), with what the window system
  // calls it. Other elements are left as they are.
  void nameWindow(ElementIndex window, std::string title);

  // True when the toolkit gives extents relative to the element's window (ToolkitTraits): the
  // window's own position then says nothing, and every other box needs the window's origin.
  bool windowRelativeExtents() const { return link_.traits.windowRelativeExtents; }
  // The top-level element (a child of the application) that holds `element`.
  ElementIndex topLevelOf(ElementIndex element) const;

 private:
  ElementIndex add(AccessibleNode node, std::optional<ElementIndex> parent, bool topLevel,
                   int depth);
  // The node's children from the cache, when the cache holds exactly the list the node reports.
  std::optional<std::vector<const AccessibleNode*>> cachedChildren(
      const AccessibleNode& node) const;
  // Elements for these children of `parent`, reading those the cache lacks in one batch.
  std::vector<ElementIndex> addChildren(const std::vector<AccessibleRef>& refs,
                                        std::optional<ElementIndex> parent, bool topLevel,
                                        int depth);

  // The fields among these that the toolkit left without a name.
  std::vector<ElementIndex> namelessFields(std::span<const ElementIndex> which) const;
  // A field the toolkit left without a name takes the name of the element it is labelled by as
  // its title, and its placeholder as its description where it has none, so that what names it
  // on screen names it here too (and a field named "Password" that way is known as a secret).
  void nameFields(std::span<const ElementIndex> nameless, std::vector<NodeLabels> labels);
  // Extents and counts of whole windows in one call each, added to the batch, where the toolkit
  // answers so and enough rows are asked for it to pay; once per snapshot.
  void askWholeWindows(AppBatch& batch, std::span<const ElementIndex> which, TreeReads& reads);
  // Showing elements whose children are not read yet, except lists of managed descendants
  // (table cells), which hold no pop-up and no focus worth their cost.
  std::vector<ElementIndex> showingUnread() const;
  // Whether the read of the element's whole window is expected to tell of it.
  bool wholeWindowTells(ElementIndex element) const;
  // What the read of its whole window told of this node, if that covered it.
  const TreeNode* treeNode(const AccessibleRef& ref) const;

  ObjectRef<GDBusConnection> connection_;
  std::shared_ptr<PeerConnection> direct_;
  AppLink link_;
  std::vector<AccessibleNode> cache_;
  std::unordered_map<std::string, size_t> cacheIndex_;                  // key → cache_
  std::unordered_map<std::string, std::vector<size_t>> cacheChildren_;  // parent key → cache_

  std::vector<AccessibilityElement> elements_;
  std::vector<AccessibleNode> nodes_;  // what each element was made from
  std::vector<bool> topLevel_;
  std::vector<int> depth_;
  std::vector<std::optional<ElementDetails>> details_;
  std::vector<ElementIndex> appChildren_;
  std::vector<ElementIndex> windows_;
  bool bulk_ = true;  // the cache and whole windows may be used; else strictly node by node
  bool wholeWindowsRead_ = false;
  std::unordered_map<std::string, TreeNode> treeNodes_;  // key → what its window's read told
};

}  // namespace tavren::atspi
