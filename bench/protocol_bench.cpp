// Protocol figures through the real pipes: start-up to first answer, ping round trips, a long
// run of back-to-back pings, and pings while slow requests are running.
#include <iostream>
#include <thread>

#include "bench_util.h"
#include "cli/service_process.h"
#include "core/json.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<ServiceProcess> start(const std::vector<std::string>& argv) {
  std::string error;
  auto p = ServiceProcess::start(argv, {}, &error);
  if (!p) {
    std::cerr << error << "\n";
    std::exit(1);
  }
  return p;
}

Json startupFigures(const std::string& service) {
  std::vector<double> samples;
  for (int i = 0; i < 20; ++i) {
    auto t0 = Clock::now();
    auto p = start({service});
    p->send(requestLine("s", "ping"));
    if (!p->responseFor("s", 10s)) std::exit(1);
    samples.push_back(micros(Clock::now() - t0) / 1000.0);
  }
  return {{"startupToFirstAnswerMsP50", quantile(samples, 0.5)},
          {"startupToFirstAnswerMsMax", quantile(samples, 1.0)}};
}

Json roundTripFigures(ServiceProcess& p, int count) {
  std::vector<double> samples;
  samples.reserve(count);
  const std::string line = requestLine("r", "ping");
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    p.send(line);
    if (!p.responseFor("r", 10s)) std::exit(1);
    samples.push_back(micros(Clock::now() - t0));
  }
  return {{"pingRoundTripUsP50", quantile(samples, 0.5)},
          {"pingRoundTripUsP99", quantile(samples, 0.99)},
          {"pingRoundTrips", count}};
}

Json backToBackFigures(ServiceProcess& p, int count) {
  const std::string line = requestLine("b", "ping");
  auto t0 = Clock::now();
  std::thread writer([&] {
    std::string batch;
    for (int i = 0; i < count; ++i) {
      batch += line;
      if (batch.size() > (1 << 16)) {
        p.send(batch);
        batch.clear();
      }
    }
    p.send(batch);
  });
  int answered = 0;
  while (answered < count && p.readLine(30s)) ++answered;
  writer.join();
  const double seconds = micros(Clock::now() - t0) / 1e6;
  return {{"backToBackPings", count},
          {"backToBackAnswered", answered},
          {"backToBackSeconds", seconds},
          {"backToBackPingsPerSecond", answered / seconds}};
}

Json pingsBesideSlowRequests(const std::string& fakeService) {
  auto p = start({fakeService, std::string(TAVREN_FIXTURES_DIR) + "/desktop_slow.json"});
  for (int i = 0; i < 8; ++i) p->send(requestLine("slow" + std::to_string(i), "listRunningApps"));
  std::this_thread::sleep_for(50ms);  // let the eight start
  std::vector<double> samples;
  const std::string line = requestLine("q", "ping");
  for (int i = 0; i < 200; ++i) {
    auto t0 = Clock::now();
    p->send(line);
    if (!p->responseFor("q", 10s)) std::exit(1);
    samples.push_back(micros(Clock::now() - t0));
  }
  return {{"pingBesideEightSlowUsP50", quantile(samples, 0.5)},
          {"pingBesideEightSlowUsP99", quantile(samples, 0.99)},
          {"pingBesideEightSlowUsMax", quantile(samples, 1.0)}};
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  const std::string service = sibling("tavren-service");
  tavren::Json out = {{"bench", "protocol"}};
  out.update(startupFigures(service));
  {
    auto p = start({service});
    out.update(roundTripFigures(*p, 5000));
    out.update(backToBackFigures(*p, 100000));
  }
  out.update(pingsBesideSlowRequests(sibling("tavren-fake-service")));
  std::cout << out.dump(2) << "\n";
}
