#include "server/service.h"

#include <unistd.h>

#include <system_error>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "input/release_on_signal.h"
#include "input/remote_desktop_input.h"
#include "server/reader.h"

namespace tavren {
namespace {

// A machine on which no display can be made.
class NoDisplays final : public Displays {
 public:
  std::optional<std::vector<uint32_t>> onlineDisplays() override { return std::vector<uint32_t>{}; }
  bool virtualDisplaysAvailable() override { return false; }
  std::unique_ptr<VirtualDisplay> createVirtualDisplay(int, int) override { return nullptr; }
};

Displays& displaysOrNone(Displays* displays) {
  static NoDisplays none;
  return displays ? *displays : none;
}

}  // namespace

Service::Service(Platform& initial, int outputFd, DisplaySupport displaySupport)
    : output(outputFd),
      platform(initial),
      displayManager(displaysOrNone(displaySupport.displays),
                     [this, platformFor = std::move(displaySupport.platformFor)](
                         const DesktopAddress* where) {
                       if (where == nullptr) {
                         platform.restoreInitial();
                       } else if (platformFor) {
                         platform.install(platformFor(*where));
                       }
                     }),
      recording(RecordingDesktop{initial.workspace(), initial.focus(), initial.windowServer(),
                                 initial.accessibility()},
                [this](Json event) { output.writeProtocolValue(std::move(event)); }) {}

void releaseHeldRemoteInput(Service& service) {
  releaseHeldRemoteInput(service.remoteInput, service.platform.eventPoster());
}

void remoteInputWatchdogTick(Service& service) {
  remoteInputWatchdogTick(service.remoteInput, service.platform.eventPoster());
}

void endService(Service& service) {
  if (service.ending.exchange(true)) {
    // Another thread is already ending the process; this one only waits for the end.
    for (;;) pause();
  }
  // Let go of held remote input after every earlier remote-input request (a text being typed
  // stops first). Running requests are abandoned; the output is closed between two lines so
  // that none is caught half-written.
  service.platform.eventPoster().stopTyping();
  if (!service.remoteInputQueue.runSync([&service] { releaseHeldRemoteInput(service); })) {
    releaseHeldRemoteInput(service);
  }
  service.output.closeForExit();
  // A clipboard this process still serves goes to a clipboard manager, when one runs.
  service.platform.pasteboard().handOverBeforeExit();
  // The display this process made, with its buses and window manager, ends with it.
  service.displayManager.endOwnedDisplay();
#if defined(__SANITIZE_ADDRESS__)
  // _exit skips the leak check a sanitized build makes at exit; memory lost on the way shows
  // here, on standard error, where the tests look.
  __lsan_do_recoverable_leak_check();
#endif
  _exit(0);
}

void runService(Platform& platform, DisplaySupport displaySupport) {
  // Lives until _exit: worker threads may still use it while the process ends.
  auto* service = new Service(platform, STDOUT_FILENO, std::move(displaySupport));
  // A host that stops reading ends the service the way end of input does. Whichever thread
  // finds out first hands the ending to a thread of its own, so a writer never waits for
  // itself.
  service->output.onHostGone([service] {
    try {
      std::thread([service] { endService(*service); }).detach();
    } catch (const std::system_error&) {
      // No thread to spare: let go of what is held from here and leave.
      service->platform.eventPoster().stopTyping();
      releaseHeldRemoteInput(*service);
      service->displayManager.endOwnedDisplay();
      _exit(0);
    }
  });
  service->mainLoop.addRepeatingTimer(kRemoteInputWatchdogInterval,
                                      [service] { remoteInputWatchdogTick(*service); });
  releaseOnTerminationSignals([service] {
    service->platform.eventPoster().stopTyping();
    service->remoteInputQueue.runSync([service] { releaseHeldRemoteInput(*service); });
    service->displayManager.endOwnedDisplay();
  });
  std::thread reader([service] {
    readRequests(*service, STDIN_FILENO);
    endService(*service);
  });
  reader.detach();
  service->mainLoop.run();
  _exit(0);
}

}  // namespace tavren
