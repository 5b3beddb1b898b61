// The one virtual display a headless machine may be given, and the remote-control connection
// that owns it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/json.h"
#include "platform/displays.h"

namespace tavren {

// Size limits of a virtual display, in pixels.
inline constexpr int kMinDisplayWidth = 640, kMaxDisplayWidth = 3840;
inline constexpr int kMinDisplayHeight = 480, kMaxDisplayHeight = 2160;
inline constexpr int kDefaultDisplayWidth = 1920, kDefaultDisplayHeight = 1080;
// Longest owner identifier, in UTF-16 code units.
inline constexpr int64_t kMaxOwnerLength = 256;

// Told of the display the service now serves: its address once one is made, null once it is
// released (before it ends).
using DisplayChanged = std::function<void(const DesktopAddress*)>;

// Two states: idle (no display, no owner) and owned (one display, one owner). Every operation
// answers an object; failures are objects with an "error" string. Safe to call from any thread:
// operations run one at a time.
class TavrenRemoteDisplayManager {
 public:
  explicit TavrenRemoteDisplayManager(Displays& displays, DisplayChanged changed = {});
  ~TavrenRemoteDisplayManager();  // ends an owned display
  TavrenRemoteDisplayManager(const TavrenRemoteDisplayManager&) = delete;
  TavrenRemoteDisplayManager& operator=(const TavrenRemoteDisplayManager&) = delete;

  Json status();
  Json ensure(const Json& params);
  Json release(const Json& params);
  // Ends the owned display whoever owns it: the process is ending.
  void endOwnedDisplay();

 private:
  Json statusLocked();
  void dropEndedDisplayLocked();

  std::mutex mutex_;
  Displays& displays_;
  DisplayChanged changed_;
  std::unique_ptr<VirtualDisplay> ownedDisplay_;
  std::string owner_;  // set exactly when ownedDisplay_ is
};

// The operations inside the guard the entry points promise: an exception thrown while one runs
// (out of memory, no thread to spare) is answered with that operation's failure object.
Json guardedDisplayStatus(TavrenRemoteDisplayManager& manager);
Json guardedDisplayEnsure(TavrenRemoteDisplayManager& manager, const Json& params);
Json guardedDisplayRelease(TavrenRemoteDisplayManager& manager, const Json& params);

}  // namespace tavren
