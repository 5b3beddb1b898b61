#include "platform/fake/fake_app_windows.h"

namespace tavren {
namespace {

AppWindowRecord recordFromJson(const Json& j) {
  AppWindowRecord r;
  r.title = j.value("title", "");
  r.role = j.value("role", "AXWindow");
  r.minimized = j.value("minimized", false);
  r.focused = j.value("focused", false);
  if (auto p = j.find("position"); p != j.end() && p->is_object()) {
    r.position = Point{p->value("x", 0.0), p->value("y", 0.0)};
  }
  if (auto s = j.find("size"); s != j.end() && s->is_object()) {
    r.size = Size{s->value("w", 0.0), s->value("h", 0.0)};
  }
  return r;
}

}  // namespace

FakeAppWindows::FakeAppWindows(Workspace& workspace, const Json& fixture, bool trusted)
    : workspace_(workspace), trusted_(trusted) {
  const Json apps = fixture.value("appWindows", Json::object());
  for (const auto& [pid, app] : apps.items()) {
    App& entry = apps_[std::stoi(pid)];
    entry.hidden = app.value("hidden", false);
    for (const auto& w : app.value("windows", Json::array())) {
      entry.windows.push_back({recordFromJson(w), w.value("refusesRestore", false)});
    }
  }
}

std::vector<AppWindowRecord> FakeAppWindows::windows(int32_t pid) {
  if (!trusted_ || isTerminated(pid)) return {};
  std::lock_guard lock(mutex_);
  std::vector<AppWindowRecord> records;
  if (auto it = apps_.find(pid); it != apps_.end()) {
    for (const Window& w : it->second.windows) records.push_back(w.record);
  }
  return records;
}

bool FakeAppWindows::isHidden(int32_t pid) {
  std::lock_guard lock(mutex_);
  auto it = apps_.find(pid);
  return it != apps_.end() && it->second.hidden;
}

bool FakeAppWindows::isTerminated(int32_t pid) { return !workspace_.application(pid); }

void FakeAppWindows::unhide(int32_t pid) {
  std::lock_guard lock(mutex_);
  if (auto it = apps_.find(pid); it != apps_.end()) it->second.hidden = false;
  journal_.push_back("unhide " + std::to_string(pid));
}

bool FakeAppWindows::unminimize(int32_t pid, size_t index) {
  if (!trusted_ || isTerminated(pid)) return false;
  std::lock_guard lock(mutex_);
  journal_.push_back("unminimize " + std::to_string(pid) + " " + std::to_string(index));
  auto it = apps_.find(pid);
  if (it == apps_.end() || index >= it->second.windows.size()) return false;
  Window& window = it->second.windows[index];
  if (window.refusesRestore) return false;
  window.record.minimized = false;
  return true;
}

void FakeAppWindows::setHidden(int32_t pid, bool hidden) {
  std::lock_guard lock(mutex_);
  apps_[pid].hidden = hidden;
}

void FakeAppWindows::setMinimized(int32_t pid, size_t index, bool minimized) {
  std::lock_guard lock(mutex_);
  auto it = apps_.find(pid);
  if (it != apps_.end() && index < it->second.windows.size()) {
    it->second.windows[index].record.minimized = minimized;
  }
}

std::vector<std::string> FakeAppWindows::journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

}  // namespace tavren
