#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_server.h"

namespace tavren {

// One running application as the desktop knows it. Empty strings mean "the desktop has none".
struct AppInfo {
  int32_t pid = 0;
  std::string bundleId;        // reverse-DNS application id, or empty
  std::string name;            // the name a user sees, or empty
  std::string bundlePath;      // the application's private install directory, or empty
  std::string executablePath;  // absolute path of the process image, or empty
  bool regular = false;        // an ordinary application with windows of its own
  int64_t launchTimeMs = 0;    // wall-clock start of the process, ms since 1970
};

// Running applications and their identity.
class Workspace {
 public:
  virtual ~Workspace() = default;
  // Every running application, in launch order.
  virtual std::vector<AppInfo> runningApplications() = 0;
  // The running application with this pid, or none.
  virtual std::optional<AppInfo> application(int32_t pid) = 0;
  // application(pid), with the window list of this moment already read (its record, when it carries one
  // of this backend, spares reading the list again).
  virtual std::optional<AppInfo> applicationWithListing(int32_t pid, const WindowListing&) {
    return application(pid);
  }
  // Whether application(pid) would find one, without naming it.
  virtual bool running(int32_t pid) { return application(pid).has_value(); }
  // Absolute path of the process's executable file, or empty when it cannot be read.
  virtual std::string executablePath(int32_t pid) = 0;
};

}  // namespace tavren
