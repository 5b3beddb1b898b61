#include "platform/linux/atspi/toolkit_traits.h"

#include <array>
#include <cstdint>

namespace tavren::atspi {
namespace {

struct KnownToolkit {
  std::string_view name;     // ToolkitName as the bridge reports it
  std::string_view version;  // prefix of Version; empty for any
  ToolkitTraits traits;
};

// GTK 3 and other ATK toolkits answer through at-spi2-core's bridge ("GAIL", "gtk" or the
// program's own name), GTK 4 through its own ("GTK", version 4.x).
constexpr std::array kKnown{
    KnownToolkit{"GTK",
                 "4.",
                 {.answersGetAll = true,
                  .windowRelativeExtents = true,
                  .textEndClamped = true,
                  .selectsByAdding = true}},
    KnownToolkit{"GTK", "", {.answersGetAll = true}},
    KnownToolkit{"gtk", "", {.answersGetAll = true, .treeInOneCall = true}},
    KnownToolkit{"GAIL", "", {.answersGetAll = true, .treeInOneCall = true}},
    KnownToolkit{"Gecko", "", {.answersGetAll = true}},
    KnownToolkit{"Qt", "", {.ignoresSyntheticWheel = true}},
};

}  // namespace

ToolkitTraits toolkitTraits(std::string_view toolkitName, std::string_view version) {
  for (const KnownToolkit& known : kKnown) {
    if (known.name == toolkitName && version.starts_with(known.version)) return known.traits;
  }
  return {};
}

int32_t wholeTextEnd(const ToolkitTraits& traits) {
  return traits.textEndClamped ? INT32_MAX : -1;
}

}  // namespace tavren::atspi
