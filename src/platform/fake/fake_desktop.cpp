#include "platform/fake/fake_desktop.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tavren {
namespace {

AppInfo appFromJson(const Json& j) {
  AppInfo app;
  app.pid = j.value("pid", 0);
  app.bundleId = j.value("bundleId", "");
  app.name = j.value("name", "");
  app.bundlePath = j.value("bundlePath", "");
  app.executablePath = j.value("executablePath", "");
  app.regular = j.value("regular", true);
  app.launchTimeMs = j.value("launchTimeMs", int64_t{0});
  return app;
}

WindowInfo windowFromJson(const Json& j) {
  WindowInfo w;
  w.number = j.value("number", 0u);
  w.ownerPid = j.value("ownerPid", 0);
  w.ownerName = j.value("ownerName", "");
  w.title = j.value("title", "");
  if (auto b = j.find("bounds"); b != j.end() && b->is_object()) {
    w.bounds = Rect{b->value("x", 0.0), b->value("y", 0.0), b->value("w", 0.0), b->value("h", 0.0)};
  }
  w.layer = j.value("layer", 0);
  w.onScreen = j.value("onScreen", true);
  return w;
}

Capabilities capabilitiesFromJson(const Json& j) {
  Capabilities c;
  bool* fields[] = {&c.display,        &c.syntheticInput, &c.windowPixmaps,
                    &c.clientPids,     &c.inputRecording, &c.rawInput,
                    &c.displayList,    &c.windowManager,  &c.accessibility};
  size_t i = 0;
  for (const auto& [name, unused] : capabilityList(c)) {
    *fields[i++] = j.is_object() ? j.value(name, true) : true;
  }
  return c;
}

}  // namespace

FakeDesktop::FakeDesktop(const Json& fixture)
    : capabilities_(capabilitiesFromJson(fixture.value("capabilities", Json::object()))),
      appWindows_(*this, fixture, capabilities_.accessibility),
      axTrees_(*this, fixture, capabilities_.accessibility),
      focus_(*this, fixture, capabilities_.windowManager),
      pasteboard_(fixture.value("clipboard", Json::object())),
      capture_(*this, fixture, capabilities_.display) {
  for (const auto& a : fixture.value("apps", Json::array())) apps_.push_back(appFromJson(a));
  for (const auto& w : fixture.value("windows", Json::array())) windows_.push_back(windowFromJson(w));
  const Json delays = fixture.value("delaysMs", Json::object());
  for (const auto& [op, ms] : delays.items()) {
    delays_[op] = std::chrono::milliseconds(ms.get<int64_t>());
  }
  for (const auto& op : fixture.value("failures", Json::array())) failures_.insert(op.get<std::string>());
  accessibility_ = fixture.value("accessibility", Json::object());
  clipboard_ = fixture.value("clipboard", Json::object());
}

std::unique_ptr<FakeDesktop> FakeDesktop::fromFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open fixture " + path);
  return std::make_unique<FakeDesktop>(Json::parse(in));
}

void FakeDesktop::delay(const std::string& operation) const {
  std::chrono::milliseconds d{0};
  {
    std::lock_guard lock(mutex_);
    if (auto it = delays_.find(operation); it != delays_.end()) d = it->second;
  }
  if (d.count() > 0) std::this_thread::sleep_for(d);
  if (failures_.contains(operation)) throw std::runtime_error("simulated failure in " + operation);
}

void FakeDesktop::record(std::string entry) { journal_.push_back(std::move(entry)); }

std::vector<AppInfo> FakeDesktop::runningApplications() {
  delay("runningApplications");
  std::lock_guard lock(mutex_);
  return apps_;
}

std::optional<AppInfo> FakeDesktop::application(int32_t pid) {
  delay("application");
  std::lock_guard lock(mutex_);
  for (const auto& a : apps_) {
    if (a.pid == pid) return a;
  }
  return std::nullopt;
}

std::string FakeDesktop::executablePath(int32_t pid) {
  auto app = application(pid);
  return app ? app->executablePath : std::string();
}

std::vector<WindowInfo> FakeDesktop::windows() {
  delay("windows");
  std::lock_guard lock(mutex_);
  return windows_;
}

std::optional<WindowInfo> FakeDesktop::window(uint32_t number) {
  std::lock_guard lock(mutex_);
  for (const auto& w : windows_) {
    if (w.number == number) return w;
  }
  return std::nullopt;
}

void FakeDesktop::launch(const AppInfo& app) {
  std::lock_guard lock(mutex_);
  apps_.push_back(app);
  record("launch " + std::to_string(app.pid));
}

void FakeDesktop::quit(int32_t pid) {
  std::lock_guard lock(mutex_);
  std::erase_if(apps_, [pid](const AppInfo& a) { return a.pid == pid; });
  std::erase_if(windows_, [pid](const WindowInfo& w) { return w.ownerPid == pid; });
  record("quit " + std::to_string(pid));
}

void FakeDesktop::setBounds(uint32_t window, Rect bounds) {
  std::lock_guard lock(mutex_);
  for (auto& w : windows_) {
    if (w.number == window) w.bounds = bounds;
  }
  record("bounds " + std::to_string(window));
}

void FakeDesktop::closeWindow(uint32_t window) {
  std::lock_guard lock(mutex_);
  std::erase_if(windows_, [window](const WindowInfo& w) { return w.number == window; });
  record("close " + std::to_string(window));
}

void FakeDesktop::setDelay(const std::string& operation, std::chrono::milliseconds d) {
  std::lock_guard lock(mutex_);
  delays_[operation] = d;
}

std::vector<std::string> FakeDesktop::journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

}  // namespace tavren
