#pragma once

#include "core/line_writer.h"
#include "core/main_loop.h"
#include "core/work_queue.h"
#include "input/remote_input_state.h"
#include "platform/platform.h"

namespace tavren {

inline constexpr const char* kRemoteInputQueueLabel = "TavrenAI.RemoteDesktopInput";

// Process-wide state, created at start-up in member order and passed down by reference.
struct Service {
  Service(Platform& platform, int outputFd) : output(outputFd), platform(platform) {}

  LineWriter output;
  Platform& platform;
  MainLoop mainLoop;
  RemoteInputState remoteInput;
  SerialQueue remoteInputQueue{kRemoteInputQueueLabel};
  ConcurrentQueue workQueue;
};

// Lets go of every key and button that remote input still holds.
void releaseHeldRemoteInput(Service& service);

// The watchdog: releases held remote input after it has been idle too long.
void remoteInputWatchdogTick(Service& service);

// Serves the process: watchdog, reader on standard input, main loop. Exits with status 0 when
// standard input ends; never returns.
[[noreturn]] void runService(Platform& platform);

}  // namespace tavren
