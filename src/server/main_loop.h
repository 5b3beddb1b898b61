#pragma once

#include <glib.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <vector>
#include <mutex>

namespace tavren {

// The main thread's run loop: a GLib main loop on the default context, so that platform event
// sources (accessibility listeners, X events) and timers share it. Other threads hand it work
// through a queue guarded by a std::mutex.
class MainLoop {
 public:
  MainLoop();
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Runs until quit(). Call on the thread that owns the loop.
  void run();
  void quit();

  // Queues `work` for the loop's thread and returns at once.
  void post(std::function<void()> work);

  // Runs `work` on the loop's thread and waits for its value. Never call from the loop's thread.
  template <class F>
  auto runSync(F&& work) -> decltype(work()) {
    using R = decltype(work());
    std::packaged_task<R()> task(std::forward<F>(work));
    auto result = task.get_future();
    post([&task] { task(); });
    return result.get();
  }

  // A repeating timer on the loop; it is never removed.
  void addRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick);

  GMainContext* context() const { return context_; }

 private:
  static gboolean dispatchPosted(gpointer self);

  GMainContext* context_;
  GMainLoop* loop_;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  GSource* postedSource_ = nullptr;  // the idle source that will drain posted_, while one is due
  std::vector<std::unique_ptr<std::function<void()>>> timerTicks_;
  std::vector<GSource*> timers_;
};

}  // namespace tavren
