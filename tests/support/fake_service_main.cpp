// The service on the in-memory desktop, for tests that need the real process and pipes but
// an exactly known desktop (slow operations, fixed applications). Usage: FIXTURE.json
#include <glib.h>

#include <csignal>

#include "platform/fake/fake_desktop.h"
#include "server/service.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize,
                           gpointer) { return G_LOG_WRITER_HANDLED; },
                        nullptr, nullptr);
  if (argc != 2) return 2;
  auto desktop = tavren::FakeDesktop::fromFile(argv[1]);
  tavren::runService(*desktop);
}
