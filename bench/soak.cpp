// The soak: the service on a headless desktop kept busy with 64 requests in flight (trees,
// window lists, captures, pings, values set and buttons pressed on the act-form fixture) for a
// given time. Each minute (or at the end of a shorter run) it prints one JSON line with the
// service's resident size and the pings' 99th percentile; at the end one JSON object.
//
// It fails (status 1) when a response does not pair with exactly one request in flight, a
// request goes unanswered, the service writes to standard error (a sanitizer report) or does not
// end cleanly, the fixture dies or loses its window, or the fixture's password appears in any
// line the service wrote.
//
// Usage: tavren_soak [SECONDS] [SERVICE_BINARY] [FIXTURE_BINARY]   (default 600 s; siblings)
#include <signal.h>
#include <unistd.h>

#include <deque>
#include <iostream>
#include <map>
#include <thread>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "platform/linux/procfs/proc_stat.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

constexpr size_t kInFlight = 64;
// Typed into the form's password field at start and set there again and again: no line the
// service writes may hold it.
constexpr const char* kSecret = "hunter2-\xC3\x9F" "ecret";
struct Pending {
  std::string method;
  Clock::time_point sent;
};

// The mix, one request per slot in turn.
std::pair<std::string, Json> nextRequest(uint64_t n, pid_t form, uint32_t window) {
  switch (n % 10) {
    case 0:
    case 4:
    case 8:
      return {"ping", Json::object()};
    case 1:
      return {"axTree", {{"pid", form}, {"maxElements", 200}, {"maxDepth", 12}}};
    case 2:
      return {"windowCatalog", Json::object()};
    case 3:
      return {"captureWindow", {{"windowId", window}, {"maxWidth", 400}}};
    case 5:
      return {"setAXValue", {{"pid", form}, {"path", "w0.0.3"}, {"value", "soak " + std::to_string(n)}}};
    case 6:
      return {"performAXAction", {{"pid", form}, {"path", "w0.0.0"}, {"action", "AXPress"}}};
    case 7:
      return {"setAXValue", {{"pid", form}, {"path", "w0.0.5"}, {"value", kSecret}}};
    default:
      return {"axTree", {{"pid", form}, {"maxElements", 20}, {"maxDepth", 3}}};
  }
}

void awaitRows(ServiceProcess& service, pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    const std::string id = "w" + std::to_string(i);
    service.send(requestLine(id, "axTree", "{\"pid\":" + std::to_string(pid) + "}"));
    auto line = service.responseFor(id, 30s);
    if (line && !Json::parse(*line)["result"]["elements"].empty()) return;
    std::this_thread::sleep_for(100ms);
  }
  fail("application never became readable");
}

}  // namespace
}  // namespace tavren::bench

int main(int argc, char** argv) {
  using namespace tavren;
  using namespace tavren::bench;
  const auto duration = std::chrono::seconds(argc > 1 ? std::atol(argv[1]) : 600);
  const std::string serviceBinary = argc > 2 ? argv[2] : sibling("tavren-service");
  const std::string fixtureBinary = argc > 3 ? argv[3] : sibling("tavren-fixture-act-form");

  std::string error;
  auto desktop = startDesktop();
  const pid_t form = desktop->launch({fixtureBinary, kSecret}, &error);
  if (form <= 0) fail(error);
  const auto window = desktop->clientWindow(form, "Tavren Act", 30s);
  if (!window) fail("the form showed no window");
  auto service = ServiceProcess::start({serviceBinary}, desktop->environment(), &error);
  if (!service) fail(error);
  awaitRows(*service, form);

  std::map<std::string, Pending> pending;
  std::map<std::string, uint64_t> answered, failed;
  std::vector<double> pingMs, minutePingMs;
  std::vector<std::string> problems;
  uint64_t sent = 0, secretHits = 0;
  const auto start = Clock::now();
  auto nextSample = start + std::min<Clock::duration>(60s, duration);
  int minute = 0;
  const long startKb = static_cast<long>(procfs::residentKiB(service->pid()));
  long peakKb = startKb;

  auto sendOne = [&] {
    auto [method, params] = nextRequest(sent, form, *window);
    const std::string id = "s" + std::to_string(sent++);
    pending[id] = {method, Clock::now()};
    if (!service->send(requestLine(id, method, params.dump()))) problems.push_back("input closed");
  };
  // Lines are stamped when they are read, before any is parsed: parsing a large line here must
  // not count against the lines that came with it or right after it.
  std::deque<std::pair<std::string, Clock::time_point>> arrived;
  auto takeOne = [&](std::chrono::milliseconds timeout) {
    if (arrived.empty()) {
      auto first = service->readLine(timeout);
      if (!first) {
        problems.push_back("no answer within " + std::to_string(timeout.count()) + " ms; " +
                           std::to_string(pending.size()) + " in flight");
        return false;
      }
      arrived.emplace_back(std::move(*first), Clock::now());
      while (auto more = service->readLine(0ms)) arrived.emplace_back(std::move(*more), Clock::now());
    }
    auto [text, at] = std::move(arrived.front());
    arrived.pop_front();
    const std::string* line = &text;
    if (line->find(kSecret) != std::string::npos || line->find("hunter2-\\u00df") != std::string::npos) {
      ++secretHits;
    }
    Json r = Json::parse(*line, nullptr, false);
    const std::string id = r.is_object() ? r.value("id", "") : "";
    auto it = pending.find(id);
    if (it == pending.end()) {
      problems.push_back("unpaired line: " + line->substr(0, 200));
      return true;
    }
    const Pending p = it->second;
    pending.erase(it);
    ++answered[p.method];
    if (r.value("ok", false) != true) {
      ++failed[p.method];
      if (p.method == "ping" || p.method == "windowCatalog") problems.push_back("failed: " + *line);
    }
    if (p.method == "ping") {
      const double ms = micros(at - p.sent) / 1000;
      pingMs.push_back(ms);
      minutePingMs.push_back(ms);
    }
    return true;
  };

  while (Clock::now() - start < duration && problems.empty()) {
    while (pending.size() < kInFlight) sendOne();
    if (!takeOne(60s)) break;
    if (Clock::now() >= nextSample) {
      const long kb = static_cast<long>(procfs::residentKiB(service->pid()));
      peakKb = std::max(peakKb, kb);
      Json sample = {{"minute", ++minute},
                     {"rssKb", kb},
                     {"requests", sent},
                     {"pingP99Ms", quantile(minutePingMs, 0.99)},
                     {"pingMedianMs", quantile(minutePingMs, 0.5)}};
      std::cout << sample.dump() << std::endl;
      minutePingMs.clear();
      nextSample += 60s;
    }
  }
  while (!pending.empty() && problems.empty() && takeOne(60s)) {
  }
  const long endKb = static_cast<long>(procfs::residentKiB(service->pid()));
  peakKb = std::max(peakKb, endKb);

  service->closeInput();
  const auto status = service->wait(30s);
  if (status != 0) problems.push_back("service did not exit with status 0");
  const std::string errors = service->errorOutput();
  if (!errors.empty()) problems.push_back("standard error: " + errors.substr(0, 4000));
  if (!service->partialOutput().empty()) problems.push_back("half line on standard output");
  if (kill(form, 0) != 0) problems.push_back("the form died");
  if (!desktop->waitForWindow(form, "Tavren Act", 5s)) problems.push_back("the form lost its window");
  if (secretHits > 0) problems.push_back("the password appeared in output lines");

  Json out = {{"bench", "soak"},
              {"seconds", std::chrono::duration<double>(Clock::now() - start).count()},
              {"inFlight", kInFlight},
              {"requests", sent},
              {"answered", answered},
              {"failed", failed},
              {"pingP99Ms", quantile(pingMs, 0.99)},
              {"pingMedianMs", quantile(pingMs, 0.5)},
              {"rssStartKb", startKb},
              {"rssEndKb", endKb},
              {"rssPeakKb", peakKb},
              {"secretHits", secretHits},
              {"problems", problems}};
  desktop->stop();
  std::cout << out.dump(2) << std::endl;
  return problems.empty() ? 0 : 1;
}
