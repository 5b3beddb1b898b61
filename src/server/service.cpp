#include "server/service.h"

#include <unistd.h>

#include <thread>

#include "server/reader.h"

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

void endService(Service& service) {
  if (service.ending.exchange(true)) {
    // Another thread is already ending the process; this one only waits for the end.
    for (;;) pause();
  }
  // Let go of held remote input after every earlier remote-input request. Running requests
  // are abandoned; the output is closed between two lines so that none is caught half-written.
  if (!service.remoteInputQueue.runSync([&service] { releaseHeldRemoteInput(service); })) {
    releaseHeldRemoteInput(service);
  }
  service.output.closeForExit();
  _exit(0);
}

void runService(Platform& platform) {
  // Lives until _exit: worker threads may still use it while the process ends.
  auto* service = new Service(platform, STDOUT_FILENO);
  // A host that stops reading ends the service the way end of input does. Whichever thread
  // finds out first hands the ending to a thread of its own, so a writer never waits for
  // itself.
  service->output.onHostGone([service] {
    std::thread([service] { endService(*service); }).detach();
  });
  service->mainLoop.addRepeatingTimer(kRemoteInputWatchdogInterval,
                                      [service] { remoteInputWatchdogTick(*service); });
  std::thread reader([service] {
    readRequests(*service, STDIN_FILENO);
    endService(*service);
  });
  reader.detach();
  service->mainLoop.run();
  _exit(0);
}

}  // namespace tavren
