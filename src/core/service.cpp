#include "core/service.h"

#include <unistd.h>

#include <thread>

#include "core/reader.h"

namespace tavren {

void releaseHeldRemoteInput(Service& service) {
  std::lock_guard lock(service.remoteInput.lock);
  // Nothing can be held before remote input is served; when it is, the release events for
  // `keys` and `buttons` are posted here.
  service.remoteInput.keys.clear();
  service.remoteInput.buttons.clear();
  service.remoteInput.pressedClickCounts.clear();
  service.remoteInput.clicks = RemoteClickSequence{};
}

void remoteInputWatchdogTick(Service& service) {
  {
    std::lock_guard lock(service.remoteInput.lock);
    if (!remoteInputExpired(service.remoteInput, std::chrono::steady_clock::now())) return;
  }
  releaseHeldRemoteInput(service);
}

void runService(Platform& platform) {
  // Lives until _exit: worker threads may still use it while the process ends.
  auto* service = new Service(platform, STDOUT_FILENO);
  service->mainLoop.addRepeatingTimer(kRemoteInputWatchdogInterval,
                                      [service] { remoteInputWatchdogTick(*service); });
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
