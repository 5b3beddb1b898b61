#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "core/worker_pool.h"
#include "display/remote_display_manager.h"
#include "focus/app_observers.h"
#include "input/remote_input_state.h"
#include "platform/displays.h"
#include "platform/platform.h"
#include "platform/platform_switch.h"
#include "recording/recording_stream.h"
#include "server/in_flight.h"
#include "server/line_writer.h"
#include "server/main_loop.h"

namespace tavren {

inline constexpr const char* kRemoteInputQueueLabel = "TavrenAI.RemoteDesktopInput";

// Bound on request threads: past it, requests wait for a thread to come free.
inline constexpr size_t kMaxRequestThreads = 256;

// How the service makes a virtual display and then works on it. Without `displays` it makes
// none: the display methods answer that the machine has no virtual display interface.
struct DisplaySupport {
  Displays* displays = nullptr;
  // The platform for the desktop of a display the service made.
  std::function<std::unique_ptr<Platform>(const DesktopAddress&)> platformFor;
};

// Process-wide state, created at start-up in member order and passed down by reference.
struct Service {
  Service(Platform& platform, int outputFd, DisplaySupport displaySupport = {});

  LineWriter output;
  InFlightRequests inFlight;  // before the queues, whose requests count themselves out of it
  // The platform started with, or the one of the display the service made while it owns one.
  PlatformSwitch platform;
  TavrenRemoteDisplayManager displayManager;
  MainLoop mainLoop;
  AppObservers appObservers;
  RemoteInputState remoteInput;
  RecordingStream recording;  // recordingId, recordingSequence, recordingLock, the monitor
  WorkerPool remoteInputQueue{1};  // kRemoteInputQueueLabel: one at a time, in input order
  WorkerPool requestQueue{kMaxRequestThreads};
  std::atomic<bool> ending{false};
};

// Lets go of every key and button that remote input still holds.
void releaseHeldRemoteInput(Service& service);

// The watchdog: releases held remote input after it has been idle too long.
void remoteInputWatchdogTick(Service& service);

// Ends the process as end of input does: held remote input released after every earlier
// remote-input request, output closed between lines, exit status 0. Requests still running
// are abandoned. Safe to call from any thread but the main loop's and the remote-input
// queue's, any number of times; never returns.
[[noreturn]] void endService(Service& service);

// Serves the process: watchdog, reader on standard input, main loop. Exits with status 0 when
// standard input ends or the host stops reading; never returns.
[[noreturn]] void runService(Platform& platform, DisplaySupport displaySupport = {});

}  // namespace tavren
