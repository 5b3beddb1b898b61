// Hosts that misbehave on the pipes: one that writes a byte at a time, one that sends without
// ever reading. Every request is still answered once, with whole lines, and the service's size
// stays bounded however much is sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "platform/linux/procfs/proc_stat.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::startService;

std::unique_ptr<ServiceProcess> startFake() {
  return startService({testing::fakeServiceBinary(), testing::fixturePath("desktop_basic.json")});
}

// Reads `count` answers and checks each is a whole, well-formed line with an id not seen before.
std::set<std::string> readAnswers(ServiceProcess& service, size_t count) {
  std::set<std::string> ids;
  for (size_t i = 0; i < count; ++i) {
    auto line = service.readLine(30s);
    if (!line) {
      ADD_FAILURE() << "no answer after " << ids.size();
      break;
    }
    Json v = Json::parse(*line, nullptr, false);
    if (!v.is_object() || !v["id"].is_string()) {
      ADD_FAILURE() << "not a response: " << line->substr(0, 200);
      break;
    }
    EXPECT_TRUE(ids.insert(v["id"].get<std::string>()).second) << "answered twice: " << *line;
  }
  return ids;
}

TEST(HostFaults, AHostWritingOneByteAtATimeGetsEveryAnswer) {
  auto service = startFake();
  const std::string lines[] = {
      requestLine("a", "ping"),
      requestLine("b", "appIdentity", R"({"pid":101})"),
      "{\"id\":\"c\",\"version\":1,\"method\":\"ping\"}\r\n",
      requestLine("d", "windowCatalog"),
      "not json\n",
      requestLine("e", "listRunningApps"),
  };
  for (const auto& line : lines) {
    for (char byte : line) {
      ASSERT_TRUE(service->send(std::string(1, byte)));
      std::this_thread::sleep_for(100us);  // so that reads see a byte, not a whole line
    }
  }
  std::set<std::string> ids = readAnswers(*service, std::size(lines));
  EXPECT_EQ(ids, (std::set<std::string>{"", "a", "b", "c", "d", "e"}));
  testing::expectQuietExit(*service);
}

// Sanitizer builds keep freed memory in quarantine and pad every allocation: their size says
// nothing about what the service holds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSizeIsMeaningful = false;
#else
constexpr bool kSizeIsMeaningful = true;
#endif

TEST(HostFaults, AHostThatNeverReadsHoldsTheServiceAtABoundedSizeAndLosesNothing) {
  auto service = startFake();
  // The size once the service is up, not the moment it was started.
  ASSERT_EQ(testing::call(*service, "up", "ping")["ok"], true);
  const long before = static_cast<long>(procfs::residentKiB(service->pid()));
  // Far more requests than the service may hold at once: about 13 MB of requests, whose
  // answers would fill the output pipe hundreds of times over.
  constexpr int kPings = 300000;
  std::string batch;
  for (int i = 0; i < kPings; ++i) batch += requestLine("p" + std::to_string(i), "ping");
  std::thread host([&] { EXPECT_TRUE(service->send(batch)); });

  // The host reads nothing for a while: the service stops taking requests in once its answers
  // pile up, instead of growing with what is sent.
  long peak = 0;
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(100ms);
    peak = std::max(peak, static_cast<long>(procfs::residentKiB(service->pid())));
  }
  if (kSizeIsMeaningful) {
    EXPECT_LT(peak - before, 64 * 1024) << "grew from " << before << " kB to " << peak << " kB";
  }

  // Then it reads: every request is answered exactly once, in whole lines.
  std::set<std::string> ids = readAnswers(*service, kPings);
  host.join();
  EXPECT_EQ(ids.size(), static_cast<size_t>(kPings));
  peak = std::max(peak, static_cast<long>(procfs::residentKiB(service->pid())));
  if (kSizeIsMeaningful) {
    EXPECT_LT(peak - before, 64 * 1024) << "grew from " << before << " kB to " << peak << " kB";
  }
  testing::expectQuietExit(*service);
}

}  // namespace
}  // namespace tavren
