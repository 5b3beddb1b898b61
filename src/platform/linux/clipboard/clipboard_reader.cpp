#include "platform/linux/clipboard/clipboard_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/linux/clipboard/selection_connection.h"

namespace tavren::x11 {
namespace {

// Reads a property in one request, deleting it (which tells an INCR sender to go on).
Reply<xcb_get_property_reply_t> takeProperty(SelectionConnection& x, xcb_atom_t property,
                                             SteadyClock::time_point deadline) {
  auto cookie = xcb_get_property(x.get(), 1, x.window(), property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                 UINT32_MAX / 4);
  return x.reply(xcb_get_property_reply, cookie);
}

std::string_view valueBytes(const xcb_get_property_reply_t* r) {
  return {static_cast<const char*>(xcb_get_property_value(r)),
          size_t(xcb_get_property_value_length(r))};  // already in bytes
}

bool isNewValue(const xcb_generic_event_t& e, const SelectionConnection& x) {
  if (eventType(e) != XCB_PROPERTY_NOTIFY) return false;
  const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
  return p.window == x.window() && p.atom == x.atoms().transferProperty &&
         p.state == XCB_PROPERTY_NEW_VALUE;
}

// Room reserved up front for an INCR transfer at most: the size it announces is only a lower
// bound, and an owner may announce anything.
constexpr uint32_t kMostReserved = 256u << 20;

// The chunks of an INCR transfer whose announcing property was just deleted, until the empty
// chunk that ends it. Nothing when the sender pauses longer than `pause`.
std::optional<std::string> receiveIncrementally(SelectionConnection& x,
                                                std::chrono::milliseconds pause,
                                                uint32_t announced) {
  std::string data;
  data.reserve(std::min(announced, kMostReserved));
  for (;;) {
    auto deadline = SteadyClock::now() + pause;
    if (!x.waitForEvent([&x](const xcb_generic_event_t& e) { return isNewValue(e, x); }, nullptr,
                        deadline)) {
      return std::nullopt;
    }
    auto chunk = takeProperty(x, x.atoms().transferProperty, deadline);
    if (!chunk) return std::nullopt;
    if (chunk->format != 8) return std::nullopt;
    const std::string_view bytes = valueBytes(chunk.get());
    if (bytes.empty()) return data;
    data.append(bytes);
  }
}

// One target's data, converted into our window's transfer property. Only 8-bit data is kept:
// that is what every content type is, and what a restore serves back.
std::optional<std::string> convert(SelectionConnection& x, xcb_atom_t target,
                                   std::chrono::milliseconds limit) {
  const SelectionAtoms& a = x.atoms();
  // Drop a leftover of an earlier, abandoned transfer.
  xcb_delete_property(x.get(), x.window(), a.transferProperty);
  xcb_convert_selection(x.get(), x.window(), a.clipboard, target, a.transferProperty,
                        XCB_CURRENT_TIME);
  const auto deadline = SteadyClock::now() + limit;
  auto e = x.waitForEvent(
      [&](const xcb_generic_event_t& ev) {
        if (eventType(ev) != XCB_SELECTION_NOTIFY) return false;
        const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(ev);
        return n.requestor == x.window() && n.selection == a.clipboard && n.target == target;
      },
      nullptr, deadline);
  if (!e) return std::nullopt;
  const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(e.get());
  if (notify->property == XCB_ATOM_NONE) return std::nullopt;
  auto r = takeProperty(x, a.transferProperty, deadline);
  if (!r) return std::nullopt;
  if (r->type == a.incr) {
    uint32_t announced = 0;
    if (r->format == 32 && xcb_get_property_value_length(r.get()) >= 4) {
      std::memcpy(&announced, xcb_get_property_value(r.get()), 4);
    }
    return receiveIncrementally(x, limit, announced);
  }
  if (r->format != 8 || r->type == XCB_ATOM_NONE) return std::nullopt;
  return std::string(valueBytes(r.get()));
}

// The owner's targets, without the protocol's own and without repeats, in its order.
std::vector<xcb_atom_t> contentTargets(SelectionConnection& x, std::chrono::milliseconds limit) {
  const SelectionAtoms& a = x.atoms();
  xcb_delete_property(x.get(), x.window(), a.transferProperty);
  xcb_convert_selection(x.get(), x.window(), a.clipboard, a.targets, a.transferProperty,
                        XCB_CURRENT_TIME);
  const auto deadline = SteadyClock::now() + limit;
  auto e = x.waitForEvent(
      [&](const xcb_generic_event_t& ev) {
        if (eventType(ev) != XCB_SELECTION_NOTIFY) return false;
        const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(ev);
        return n.requestor == x.window() && n.target == a.targets;
      },
      nullptr, deadline);
  if (!e) return {};
  if (reinterpret_cast<const xcb_selection_notify_event_t*>(e.get())->property == XCB_ATOM_NONE) {
    return {};
  }
  auto r = takeProperty(x, a.transferProperty, deadline);
  if (!r || r->format != 32) return {};
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
  // The length is in bytes; the list holds 32-bit atoms.
  const int count = xcb_get_property_value_length(r.get()) / 4;
  // Our own transfer property is never content: an owner that lists it echoes its requester.
  const xcb_atom_t meta[] = {a.targets,     a.multiple,         a.timestamp,
                             a.saveTargets, a.transferProperty, XCB_ATOM_NONE};
  std::vector<xcb_atom_t> targets;
  for (int i = 0; i < count; ++i) {
    const xcb_atom_t t = atoms[i];
    if (std::find(std::begin(meta), std::end(meta), t) != std::end(meta)) continue;
    if (std::find(targets.begin(), targets.end(), t) != targets.end()) continue;
    targets.push_back(t);
  }
  return targets;
}

}  // namespace

std::optional<std::vector<PasteboardItem>> readClipboard(const std::string& display,
                                                         const ClipboardReadLimits& limits) {
  auto x = SelectionConnection::open(display);
  if (!x) return std::nullopt;
  auto ownerCookie = xcb_get_selection_owner(x->get(), x->atoms().clipboard);
  auto owner = x->reply(xcb_get_selection_owner_reply, ownerCookie);
  if (!owner) return std::nullopt;
  if (owner->owner == XCB_WINDOW_NONE) return std::vector<PasteboardItem>{};

  // An owner that answers nothing still holds one item, with nothing in it.
  PasteboardItem item;
  const std::vector<xcb_atom_t> targets = contentTargets(*x, limits.perTarget);
  const std::vector<std::string> names =
      x->atomNames(targets);
  for (size_t i = 0; i < targets.size(); ++i) {
    if (names[i].empty()) continue;
    if (auto data = convert(*x, targets[i], limits.perTarget)) {
      item.push_back({names[i], std::move(*data)});
    }
  }
  // Not `return {std::move(item)}`: an initializer list would copy the item, data and all.
  std::vector<PasteboardItem> items;
  items.push_back(std::move(item));
  return items;
}

}  // namespace tavren::x11
