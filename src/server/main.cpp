// tavren-service: the desktop-control service. Speaks JSON lines on standard input and output.
#include <glib.h>

#include <csignal>

#include "platform/linux/display/xvfb_displays.h"
#include "platform/platform.h"
#include "server/service.h"

namespace {

// Standard error stays empty: library diagnostics are dropped, never printed.
GLogWriterOutput dropLog(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

}  // namespace

int main() {
  // A closed output is a write error the line writer handles (the service ends as at end of
  // input), never a signal that kills the process with input held.
  std::signal(SIGPIPE, SIG_IGN);
  g_log_set_writer_func(dropLog, nullptr, nullptr);
  const tavren::DesktopAddress startedOn = tavren::desktopAddressFromEnvironment();
  auto platform = tavren::makeLinuxPlatform(startedOn);
  tavren::display::XvfbDisplays displays(startedOn.display);
  tavren::runService(*platform, {.displays = &displays, .platformFor = [](const auto& where) {
                                   return tavren::makeLinuxPlatform(where);
                                 }});
}
