#include "recording/recording_stream.h"

#include "accessibility/element_summary.h"
#include "accessibility/sensitive_fields.h"
#include "accessibility/attribute_readers.h"
#include "apps/app_identity.h"
#include "focus/focus_control.h"
#include "recording/recording_event.h"
#include "recording/recording_rules.h"

namespace tavren {
namespace {

using Clock = std::chrono::steady_clock;

// Lookups running at once: one per event in a burst, more than any hung application holds.
constexpr size_t kLookupThreads = 8;
// Naming the front application asks the window system and, once per process, the accessibility
// registry: quick, but never behind the element lookups.
constexpr size_t kAppLookupThreads = 2;
// How long the name of an application is taken as it was: shorter than a person takes to quit
// one application and start another under the same process number.
constexpr auto kAppNameReuse = std::chrono::seconds(2);

int64_t wallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The top-most window on screen that holds the point.
std::optional<WindowInfo> windowAt(WindowServer& server, Point p) {
  for (WindowInfo& w : server.windows()) {
    if (!w.onScreen || !w.bounds || w.ownerPid <= 0) continue;
    const Rect& b = *w.bounds;
    if (p.x >= b.x && p.y >= b.y && p.x < b.x + b.width && p.y < b.y + b.height) return w;
  }
  return std::nullopt;
}

// The summary of the element, sensitive also when the field rule withholds its value (a
// password field is one whatever its label says).
Json recordingSummary(const AccessibilityElement& element) {
  Json summary = summarizedElement(&element);
  if (isSensitiveAXField(axString(element.role), axString(element.subrole),
                         summaryLabel(element))) {
    summary["sensitive"] = true;
  }
  return summary;
}

}  // namespace

struct RecordingStream::Pending {
  ObservedInput input;
  std::string recordingId;
  int64_t sequence = 0;
  int64_t at = 0;
  uint64_t generation = 0;
  Clock::time_point arrived;
  int32_t frontPid = 0;
  std::optional<RecordingDesktop> desktop;  // the recording's desktop as the input arrived

  std::mutex mutex;
  std::condition_variable changed;
  bool appDone = false;
  std::optional<AppInfo> app;
  bool elementDone = false;
  bool elementGivenUp = false;  // the element stays unknown: no need to wait for it
  Json element = Json::object();
};

RecordingStream::RecordingStream(RecordingDesktop desktop, EventSink sink,
                                 std::chrono::milliseconds elementWait)
    : desktop_(desktop),
      sink_(std::move(sink)),
      elementWait_(elementWait),
      appLookups_(kAppLookupThreads),
      lookups_(kLookupThreads),
      writer_([this] { writeLines(); }) {}

RecordingStream::~RecordingStream() {
  {
    std::lock_guard lock(controlMutex_);
    monitor_.reset();
  }
  {
    std::lock_guard lock(queueMutex_);
    quitting_ = true;
  }
  queued_.notify_all();
  writer_.join();
}

RecordingStream::Started RecordingStream::start(const std::string& recordingId,
                                                InputMonitor& monitor,
                                                std::optional<RecordingDesktop> desktop) {
  std::lock_guard control(controlMutex_);
  monitor_.reset();
  {
    std::lock_guard lock(recordingLock_);
    if (desktop) desktop_.emplace(*desktop);
    recordingId_ = recordingId;
    recordingSequence_ = 0;
    currentGeneration_ = ++generation_;
  }
  // A line of the old recording being written now is finished before this returns; later ones
  // see the new generation and are dropped.
  wakeWriter();
  { std::lock_guard barrier(writeMutex_); }
  monitor_ = monitor.observe([this](const ObservedInput& input) { emitRecordingEvent(input); });
  return Started{recordingId, monitor_ != nullptr};
}

RecordingStream::Stopped RecordingStream::stop() {
  std::lock_guard control(controlMutex_);
  monitor_.reset();
  Stopped stopped;
  {
    std::lock_guard lock(recordingLock_);
    stopped.recordingId = std::exchange(recordingId_, std::string());
    stopped.eventCount = std::exchange(recordingSequence_, 0);
    currentGeneration_ = ++generation_;
  }
  wakeWriter();
  { std::lock_guard barrier(writeMutex_); }
  return stopped;
}

void RecordingStream::emitRecordingEvent(const ObservedInput& input) {
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard lock(recordingLock_);
    if (recordingId_.empty()) return;
    pending->sequence = ++recordingSequence_;
    pending->recordingId = recordingId_;
    pending->generation = generation_;
    pending->desktop.emplace(*desktop_);
  }
  pending->input = input;
  pending->at = wallClockMs();
  // The front process as the input happens (a click may change it a moment later); naming it
  // may ask the application, which is left to the lookup.
  pending->frontPid = frontProcessPid(pending->desktop->focus);
  pending->arrived = Clock::now();
  // The application is looked up apart from the element, so that elements queued behind a slow
  // application never hold up learning which application a line is for.
  if (!appLookups_.submit([this, pending] { lookUpApp(*pending); })) {
    std::lock_guard lock(pending->mutex);
    pending->appDone = true;  // no application known: no line
  }
  if (!lookups_.submit([this, pending] { lookUpElement(*pending); })) {
    std::lock_guard lock(pending->mutex);
    pending->elementGivenUp = true;
  }
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(pending));
  }
  queued_.notify_one();
}

void RecordingStream::wakeWriter() {
  std::lock_guard lock(queueMutex_);
  if (!finishing_) return;
  { std::lock_guard pendingLock(finishing_->mutex); }
  finishing_->changed.notify_all();
}

bool RecordingStream::stalled(int32_t pid) {
  std::lock_guard lock(lookupsMutex_);
  const Clock::time_point now = Clock::now();
  auto [first, last] = lookupsRunning_.equal_range(pid);
  for (auto it = first; it != last; ++it) {
    if (now - it->second > elementWait_) return true;
  }
  return false;
}

namespace {

void publish(auto& pending, auto&& change) {
  {
    std::lock_guard lock(pending.mutex);
    change();
  }
  pending.changed.notify_all();
}

}  // namespace

void RecordingStream::lookUpApp(Pending& pending) {
  std::optional<AppInfo> app;
  if (currentGeneration_ == pending.generation && pending.frontPid > 0) {
    // A burst of input goes to one application: it is named once, not once per press.
    {
      std::lock_guard lock(lookupsMutex_);
      if (auto it = namedApps_.find(pending.frontPid);
          it != namedApps_.end() && pending.arrived - it->second.first < kAppNameReuse) {
        app = it->second.second;
      }
    }
    if (!app) {
      app = pending.desktop->workspace.application(pending.frontPid);
      std::lock_guard lock(lookupsMutex_);
      if (app) {
        namedApps_[pending.frontPid] = {Clock::now(), *app};
      } else {
        namedApps_.erase(pending.frontPid);
      }
    }
  }
  publish(pending, [&] {
    pending.app = std::move(app);
    pending.appDone = true;
  });
}

void RecordingStream::lookUpElement(Pending& pending) {
  // A recording that ended, or a line that has gone out without its element, needs none.
  if (currentGeneration_ != pending.generation) {
    publish(pending, [&] { pending.elementDone = true; });
    return;
  }
  auto giveUp = [&] { publish(pending, [&] { pending.elementGivenUp = true; }); };
  if (Clock::now() > pending.arrived + elementWait_) return giveUp();
  {
    // An excluded application's elements are not read (when it is known already).
    std::lock_guard lock(pending.mutex);
    if (pending.appDone && (!pending.app || isExcludedRecordingApp(appIdentityId(*pending.app)))) {
      pending.elementGivenUp = true;
      return;
    }
  }
  const int32_t frontPid = pending.frontPid;
  const ObservedInput& input = pending.input;
  int32_t pid = frontPid;
  Rect frame;
  if (!input.key) {
    std::optional<WindowInfo> window = windowAt(pending.desktop->windowServer, input.location);
    if (!window) {
      publish(pending, [&] { pending.elementDone = true; });
      return;
    }
    pid = window->ownerPid;
    frame = *window->bounds;
  }
  if (pid <= 0) {
    publish(pending, [&] { pending.elementDone = true; });
    return;
  }
  if (stalled(pid)) return giveUp();  // the element stays unknown

  std::multimap<int32_t, Clock::time_point>::iterator running;
  {
    std::lock_guard lock(lookupsMutex_);
    running = lookupsRunning_.emplace(pid, Clock::now());
  }
  Json element = Json::object();
  bool answeredWithoutFocus = false;
  {
    std::unique_ptr<AccessibilitySnapshot> snapshot = pending.desktop->accessibility.snapshot(pid);
    const std::optional<ElementIndex> found =
        input.key ? snapshot->focusedElement() : snapshot->elementAt(input.location, frame);
    if (found) {
      // Reading the details names a field by its label where the toolkit left it nameless.
      const ElementIndex which[] = {*found};
      snapshot->details(which);
      element = recordingSummary(snapshot->elements()[*found]);
    } else if (input.key && !snapshot->applicationChildren().empty()) {
      // The application answers but tells no focus (it may be moving): the key may have gone
      // into a secret field, so the element counts as unknown.
      answeredWithoutFocus = true;
    }
  }
  {
    std::lock_guard lock(lookupsMutex_);
    lookupsRunning_.erase(running);
  }
  if (answeredWithoutFocus) return giveUp();
  publish(pending, [&] {
    pending.element = std::move(element);
    pending.elementDone = true;
  });
}

void RecordingStream::writeLines() {
  for (;;) {
    std::shared_ptr<Pending> next;
    {
      std::unique_lock lock(queueMutex_);
      queued_.wait(lock, [&] { return quitting_ || !queue_.empty(); });
      if (queue_.empty()) return;
      next = std::move(queue_.front());
      queue_.pop_front();
      finishing_ = next;
    }
    finish(*next);
    std::lock_guard lock(queueMutex_);
    finishing_.reset();
  }
}

void RecordingStream::finish(Pending& pending) {
  RecordingEventFacts facts;
  {
    std::unique_lock lock(pending.mutex);
    auto ended = [&] { return currentGeneration_ != pending.generation; };
    pending.changed.wait_until(lock, pending.arrived + elementWait_,
                               [&] {
      return ended() || (pending.appDone && (pending.elementDone || pending.elementGivenUp));
    });
    pending.changed.wait_until(lock, pending.arrived + kRecordingAppWait,
                               [&] { return ended() || pending.appDone; });
    if (ended() || !pending.appDone || !pending.app) return;
    if (isExcludedRecordingApp(appIdentityId(*pending.app))) return;
    facts.app = *pending.app;
    facts.elementKnown = pending.elementDone;
    if (pending.elementDone) facts.element = pending.element;
  }
  facts.recordingId = pending.recordingId;
  facts.sequence = pending.sequence;
  facts.at = pending.at;
  std::optional<Json> line = recordingEventLine(pending.input, facts);
  if (!line) return;
  std::lock_guard lock(writeMutex_);
  if (currentGeneration_ != pending.generation) return;
  sink_(std::move(*line));
}

}  // namespace tavren
