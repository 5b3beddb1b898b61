#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/event_sink.h"
#include "core/worker_pool.h"
#include "platform/accessibility.h"
#include "platform/focus.h"
#include "platform/input_monitor.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// What a recording reads of the desktop for each event.
struct RecordingDesktop {
  Workspace& workspace;
  Focus& focus;
  WindowServer& windowServer;
  Accessibility& accessibility;
};

// How long an event's line waits for the element under the pointer or in focus; an element not
// found by then is left out of that line. An application that has not answered a lookup within
// this time gets none for its later events either, until it answers.
inline constexpr std::chrono::milliseconds kRecordingElementWait{250};
// How long a line waits to learn the frontmost application (which the window system and the
// accessibility registry answer, each within its own timeout); without it the line is dropped.
inline constexpr std::chrono::milliseconds kRecordingAppWait{2000};

// The interaction recording: the current recording's identifier and sequence (under
// recordingLock), the input observation, and the line of events on their way out.
//
// Each observed input is numbered as it arrives, then the frontmost application and the
// element are looked up on worker threads of its own, every event's lookup as soon as it
// arrives; the lines go out in sequence order from one thread, each once its lookup finished
// or its wait ran out. A hung application therefore costs its events their element and the
// events behind them at most one element wait, never a queue of them.
//
// Nothing of a recording is written once stop() or the next start() has returned.
class RecordingStream {
 public:
  RecordingStream(RecordingDesktop desktop, EventSink sink,
                  std::chrono::milliseconds elementWait = kRecordingElementWait);
  ~RecordingStream();
  RecordingStream(const RecordingStream&) = delete;
  RecordingStream& operator=(const RecordingStream&) = delete;

  struct Started {
    std::string recordingId;
    bool recording = false;  // the input observation runs
  };
  struct Stopped {
    std::string recordingId;  // empty when none ran
    int64_t eventCount = 0;   // the last sequence number issued
  };
  // Ends any running recording without a line and starts `recordingId` at sequence 0, looking
  // up applications and elements on `desktop` when given (the desktop the monitor watches),
  // else on the one the stream was made with.
  Started start(const std::string& recordingId, InputMonitor& monitor,
                std::optional<RecordingDesktop> desktop = std::nullopt);
  Stopped stop();

  // The observation's handler: numbers the input and sends it on its way. Call from one thread
  // at a time, in input order (as InputMonitor does).
  void emitRecordingEvent(const ObservedInput& input);

 private:
  struct Pending;
  void lookUpApp(Pending& pending);
  void lookUpElement(Pending& pending);
  void writeLines();
  void finish(Pending& pending);
  // Whether lookups into pid have been unanswered for longer than the element wait.
  bool stalled(int32_t pid);
  // Wakes the line waiting for its lookup once its recording has ended.
  void wakeWriter();

  std::optional<RecordingDesktop> desktop_;  // replaced by start() under recordingLock_
  EventSink sink_;
  const std::chrono::milliseconds elementWait_;

  std::mutex controlMutex_;  // start and stop, one at a time
  std::unique_ptr<InputObservation> monitor_;  // recordingMonitors: one while recording

  std::mutex recordingLock_;
  std::string recordingId_;
  int64_t recordingSequence_ = 0;
  uint64_t generation_ = 0;  // changes with every start and stop
  std::atomic<uint64_t> currentGeneration_{0};

  // Held from the check that an event's recording still runs until its line is written.
  std::mutex writeMutex_;

  std::mutex queueMutex_;
  std::condition_variable queued_;
  std::deque<std::shared_ptr<Pending>> queue_;
  std::shared_ptr<Pending> finishing_;  // the event whose line is being waited for
  bool quitting_ = false;

  std::mutex lookupsMutex_;
  std::multimap<int32_t, std::chrono::steady_clock::time_point> lookupsRunning_;
  // The applications named lately, by pid, with when they were named.
  std::map<int32_t, std::pair<std::chrono::steady_clock::time_point, AppInfo>> namedApps_;

  WorkerPool appLookups_;
  WorkerPool lookups_;
  std::thread writer_;  // last: starts once everything it uses is made
};

}  // namespace tavren
