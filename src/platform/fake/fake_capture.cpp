#include "platform/fake/fake_capture.h"

#include <algorithm>
#include <stdexcept>
#include <cmath>
#include <thread>

namespace tavren {
namespace {

// "#rrggbb" or "#rrggbbaa" to premultiplied 0xAARRGGBB; anything else is opaque white.
uint32_t premultipliedColour(const Json& text) {
  const std::string s = text.is_string() ? text.get<std::string>() : std::string();
  if (s.size() != 7 && s.size() != 9) return 0xFFFFFFFFu;
  if (s[0] != '#') return 0xFFFFFFFFu;
  const uint32_t v = static_cast<uint32_t>(std::stoul(s.substr(1), nullptr, 16));
  const uint32_t r = s.size() == 7 ? v >> 16 : v >> 24;
  const uint32_t g = (s.size() == 7 ? v >> 8 : v >> 16) & 0xFF;
  const uint32_t b = (s.size() == 7 ? v : v >> 8) & 0xFF;
  const uint32_t a = s.size() == 7 ? 0xFF : v & 0xFF;
  auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
  return a << 24 | pre(r & 0xFF) << 16 | pre(g) << 8 | pre(b);
}

int sideOf(double points, double scale) {
  return std::max(1, static_cast<int>(std::lround(points * scale)));
}

}  // namespace

FakeCapture::FakeCapture(WindowServer& windows, const Json& fixture, bool available)
    : windows_(windows), available_(available), threads_(defaultCaptureThreadCount()) {
  for (const auto& w : fixture.value("windows", Json::array())) {
    recipes_[w.value("number", 0u)] = {w.value("pixels", Json::object()),
                                       w.value("captureError", Json())};
  }
  const Json delays = fixture.value("delaysMs", Json::object());
  delay_ = std::chrono::milliseconds(delays.value("windowPixels", int64_t{0}));
  for (const auto& op : fixture.value("failures", Json::array())) {
    if (op == "windowPixels") failing_ = true;
  }
}

FakeCapture::~FakeCapture() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  // threads_ is destroyed first, which runs what is queued and joins.
}

CapturedPixels FakeCapture::paint(const WindowInfo& window, const Json& recipe) const {
  const double scale = recipe.value("scale", 1.0);
  const Rect bounds = window.bounds.value_or(Rect{});
  CapturedPixels p;
  p.pixelsPerPoint = scale;
  p.width = recipe.value("width", sideOf(bounds.width, scale));
  p.height = recipe.value("height", sideOf(bounds.height, scale));
  p.argb.assign(static_cast<size_t>(p.width) * static_cast<size_t>(p.height),
                premultipliedColour(recipe.value("fill", Json("#ffffff"))));
  for (const auto& block : recipe.value("blocks", Json::array())) {
    const uint32_t colour = premultipliedColour(block.value("color", Json()));
    const int x0 = std::clamp(block.value("x", 0), 0, p.width);
    const int y0 = std::clamp(block.value("y", 0), 0, p.height);
    const int x1 = std::clamp(x0 + block.value("w", 0), x0, p.width);
    const int y1 = std::clamp(y0 + block.value("h", 0), y0, p.height);
    for (int y = y0; y < y1; ++y) {
      std::fill_n(p.argb.begin() + static_cast<ptrdiff_t>(y) * p.width + x0, x1 - x0, colour);
    }
  }
  return p;
}

WindowPixels FakeCapture::windowPixels(uint32_t window) {
  std::chrono::milliseconds delay;
  {
    std::lock_guard lock(mutex_);
    ++reads_;
    delay = delay_;
  }
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_ || closing_; });
    --waiting_;
  }
  if (failing_) throw std::runtime_error("simulated failure in windowPixels");
  // Looked up after the hold, so a window closed meanwhile is seen as gone.
  const std::optional<WindowInfo> info = windows_.window(window);
  if (!info || !info->onScreen) return WindowUnavailable{};
  auto recipe = recipes_.find(window);
  static const Json kNoPixels = Json::object();
  if (recipe != recipes_.end() && recipe->second.error.is_object()) {
    const Json& e = recipe->second.error;
    return CaptureFailure{e.value("domain", ""), e.value("code", 0), e.value("message", "")};
  }
  return paint(*info, recipe == recipes_.end() ? kNoPixels : recipe->second.pixels);
}

bool FakeCapture::startTask(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  const bool queued = threads_.submit([this, task = std::move(task)]() mutable {
    {
      // Released before the task counts as ended, so that whatever it held is gone by then.
      auto run = std::move(task);
      run();
    }
    std::lock_guard lock(mutex_);
    --running_;
    changed_.notify_all();
  });
  if (!queued) {
    std::lock_guard lock(mutex_);
    --running_;
    changed_.notify_all();
  }
  return queued;
}

void FakeCapture::holdReads() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void FakeCapture::releaseReads() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  changed_.notify_all();
}

void FakeCapture::waitForHeldReads(size_t count) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return waiting_ >= count; });
}

void FakeCapture::setReadDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  delay_ = delay;
}

size_t FakeCapture::readsStarted() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

void FakeCapture::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return running_ == 0; });
}

}  // namespace tavren
