#include "server/main_loop.h"

namespace tavren {

MainLoop::MainLoop()
    : context_(g_main_context_ref(g_main_context_default())),
      loop_(g_main_loop_new(context_, FALSE)) {}

MainLoop::~MainLoop() {
  // Sources go with the loop: the default context outlives it and must not call into a dead one.
  for (GSource* t : timers_) {
    g_source_destroy(t);
    g_source_unref(t);
  }
  {
    std::lock_guard lock(mutex_);
    if (postedSource_ != nullptr) {
      g_source_destroy(postedSource_);
      g_source_unref(postedSource_);
    }
  }
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

void MainLoop::run() { g_main_loop_run(loop_); }

void MainLoop::quit() {
  post([this] { g_main_loop_quit(loop_); });
}

void MainLoop::post(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(work));
  // One idle source drains everything queued while it waits; later posts ride along.
  if (postedSource_ == nullptr) {
    postedSource_ = g_idle_source_new();
    g_source_set_priority(postedSource_, G_PRIORITY_DEFAULT);
    g_source_set_callback(postedSource_, &MainLoop::dispatchPosted, this, nullptr);
    g_source_attach(postedSource_, context_);
  }
}

gboolean MainLoop::dispatchPosted(gpointer self) {
  auto* loop = static_cast<MainLoop*>(self);
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(loop->mutex_);
    batch.swap(loop->posted_);
    g_source_unref(loop->postedSource_);
    loop->postedSource_ = nullptr;
  }
  for (auto& work : batch) work();
  return G_SOURCE_REMOVE;
}

void MainLoop::addRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
  timerTicks_.push_back(std::make_unique<std::function<void()>>(std::move(tick)));
  auto* stored = timerTicks_.back().get();
  GSource* source = g_timeout_source_new(static_cast<guint>(interval.count()));
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_CONTINUE;
      },
      stored, nullptr);
  g_source_attach(source, context_);
  timers_.push_back(source);
}

}  // namespace tavren
