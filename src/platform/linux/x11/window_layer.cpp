#include "platform/linux/x11/window_layer.h"

#include <optional>

namespace tavren::x11 {

namespace {

std::optional<int32_t> layerOfType(Atom type) {
  for (const LayerRule& rule : kLayerByType) {
    if (rule.type == type) return rule.layer;
  }
  return std::nullopt;
}

}  // namespace

int32_t windowLayer(std::span<const Atom> types, bool overrideRedirect, bool keptAbove) {
  int32_t layer = kNormalLayer;
  for (Atom type : types) {
    if (auto known = layerOfType(type)) {
      layer = *known;
      break;
    }
  }
  if (layer != kNormalLayer) return layer;
  if (overrideRedirect) return kPopupLayer;
  return keptAbove ? kKeptAboveLayer : kNormalLayer;
}

}  // namespace tavren::x11
