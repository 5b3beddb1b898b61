// tavren-service: the desktop-control service. Speaks JSON lines on standard input and output.
#include <glib.h>

#include "core/service.h"
#include "platform/platform.h"

namespace {

// Standard error stays empty: library diagnostics are dropped, never printed.
GLogWriterOutput dropLog(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

}  // namespace

int main() {
  g_log_set_writer_func(dropLog, nullptr, nullptr);
  auto platform = tavren::makeLinuxPlatform();
  tavren::runService(*platform);
}
