#include "core/service.h"

#include <unistd.h>

#include <thread>

#include "core/reader.h"
#include "input/release_on_signal.h"
#include "input/remote_desktop_input.h"

namespace tavren {

void releaseHeldRemoteInput(Service& service) {
  releaseHeldRemoteInput(service.remoteInput, service.platform.eventPoster());
}

void remoteInputWatchdogTick(Service& service) {
  remoteInputWatchdogTick(service.remoteInput, service.platform.eventPoster());
}

void runService(Platform& platform) {
  // Lives until _exit: worker threads may still use it while the process ends.
  auto* service = new Service(platform, STDOUT_FILENO);
  service->mainLoop.addRepeatingTimer(kRemoteInputWatchdogInterval,
                                      [service] { remoteInputWatchdogTick(*service); });
  releaseOnTerminationSignals([service] {
    service->platform.eventPoster().stopTyping();
    service->remoteInputQueue.runSync([service] { releaseHeldRemoteInput(*service); });
  });
  std::thread reader([service] {
    readRequests(*service, STDIN_FILENO);
    // End of input: let go of held remote input after every earlier remote-input request, then
    // leave at once. Running requests are abandoned; the output lock is kept so that none of
    // them is caught half-written.
    service->remoteInputQueue.runSync([service] { releaseHeldRemoteInput(*service); });
    service->output.closeForExit();
    _exit(0);
  });
  reader.detach();
  service->mainLoop.run();
  _exit(0);
}

}  // namespace tavren
