#pragma once

#include <optional>

#include "platform/linux/workspace/app_naming.h"
#include "platform/linux/x11/window_list.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/workspace.h"

namespace tavren::workspace {

// Running applications: processes that own a client top-level window or are registered with
// the AT-SPI registry.
class LinuxWorkspace final : public Workspace {
 public:
  // x may be null (no display); both it and the naming must outlive the workspace.
  LinuxWorkspace(const x11::XConnection* x, AppNaming& naming);

  std::vector<AppInfo> runningApplications() override;
  std::optional<AppInfo> application(int32_t pid) override;
  std::optional<AppInfo> applicationWithListing(int32_t pid, const WindowListing& listing) override;
  bool running(int32_t pid) override;
  std::string executablePath(int32_t pid) override;

 private:
  // Every application, or only the one with onlyPid when it is set; from `listed` when given,
  // else from a window list read now.
  std::vector<AppInfo> collect(std::optional<int32_t> onlyPid,
                               const std::vector<x11::ListedWindow>* listed = nullptr);
  // The application with this pid, from `listed` when given, else from a list read now.
  std::optional<AppInfo> applicationFrom(int32_t pid,
                                         const std::vector<x11::ListedWindow>* listed);

  const x11::XConnection* x_;
  AppNaming& naming_;
};

}  // namespace tavren::workspace
