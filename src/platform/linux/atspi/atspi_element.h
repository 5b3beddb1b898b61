#pragma once

#include <optional>
#include <string>

#include "platform/accessibility.h"
#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/glib_ref.h"

namespace tavren::atspi {

// Position, size and protocol action names of a node from what readDetails gave. Elements
// stepped through their Value interface gain "AXIncrement" and "AXDecrement", top-level ones
// "AXRaise", unless the toolkit lists those already.
ElementDetails elementDetails(const NodeDetails& read, const AccessibleNode& node, bool topLevel);

// One accessible acted on through AT-SPI: actions through Action.DoAction, values through
// EditableText or Value, focus through Component.GrabFocus, the caret and the selection through
// Text. Offsets cross the bus as code points and leave as UTF-16 units.
class AtspiElement final : public AccessibleElement {
 public:
  // statesCurrent: the node's states were read just now (by the resolution of this request), so
  // the first settable check need not read them again.
  AtspiElement(ObjectRef<GDBusConnection> bus, std::shared_ptr<PeerConnection> direct, AppLink link,
               AccessibleNode node, bool topLevel, bool statesCurrent = false);

  const AccessibilityElement& element() const override { return facts_; }
  ElementDetails details() override;
  AccessibilityError perform(const std::string& action) override;
  SettableAnswer valueSettable() override;
  AccessibilityError setValue(const std::string& value) override;
  void focus() override;
  AttributeValue value() override;
  SettableAnswer selectionSettable() override;
  AccessibilityError setSelection(TextRange range) override;
  std::optional<TextRange> selection() override;

 private:
  // The states read now (or by the resolution, before anything acted), or the code of a failed
  // read.
  std::variant<uint64_t, AccessibilityError> freshStates();
  // A call to this accessible; null reply on failure.
  VariantRef call(const char* interface, const char* method, GVariant* parameters,
                  const char* replyType);
  AccessibilityError failureCode() const;
  AccessibilityError step(bool up);
  // The text offsets are converted within; read once.
  const std::string& text();

  ObjectRef<GDBusConnection> bus_;
  std::shared_ptr<PeerConnection> direct_;
  AppLink link_;
  AccessibleNode node_;
  bool topLevel_;
  bool statesCurrent_;
  AccessibilityElement facts_;
  std::optional<std::string> text_;
  // The toolkit's action names as details() last read them: perform() acts by their index.
  std::optional<std::vector<std::string>> actions_;
};

}  // namespace tavren::atspi
