// What the service does when the host is slow to read, hands over a non-blocking output or goes
// away: nothing lost, nothing half-written, no hang, and a quiet exit with status 0.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/service_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::startService;

std::unique_ptr<ServiceProcess> startFake(const char* fixture = "desktop_basic.json") {
  return startService({testing::fakeServiceBinary(), testing::fixturePath(fixture)});
}

// Enough answers to fill any pipe many times over.
void sendPings(ServiceProcess& service, int count) {
  std::string batch;
  for (int i = 0; i < count; ++i) batch += requestLine("p" + std::to_string(i), "ping");
  ASSERT_TRUE(service.send(batch));
}

TEST(HostOutput, EndOfInputWhileTheHostReadsNothingExitsAtOnce) {
  auto service = startFake();
  sendPings(*service, 5000);
  service->closeInput();
  // Writers are stuck on the full pipe; the exit must not wait for them.
  EXPECT_EQ(service->wait(5s), 0);
  // What did get out is whole lines only.
  int lines = 0;
  while (auto line = service->readLine(200ms)) {
    ASSERT_TRUE(Json::parse(*line, nullptr, false).is_object()) << *line;
    ++lines;
  }
  EXPECT_GT(lines, 0);
  EXPECT_LT(lines, 5000);
  EXPECT_EQ(service->partialOutput(), "");
  EXPECT_EQ(service->errorOutput(), "");
}

TEST(HostOutput, ANonBlockingOutputLosesNoLine) {
  // The host hands over an output in non-blocking mode and reads it only later.
  auto service = startService(
      {"/usr/bin/python3", "-c",
       "import fcntl, os, sys\n"
       "fcntl.fcntl(1, fcntl.F_SETFL, fcntl.fcntl(1, fcntl.F_GETFL) | os.O_NONBLOCK)\n"
       "os.execv(sys.argv[1], sys.argv[1:])\n",
       testing::fakeServiceBinary(), testing::fixturePath("desktop_basic.json")});
  constexpr int kPings = 5000;  // several pipes' worth of answers
  sendPings(*service, kPings);
  std::this_thread::sleep_for(500ms);  // let the pipe fill while nobody reads
  std::set<std::string> ids;
  for (int i = 0; i < kPings; ++i) {
    auto line = service->readLine(20s);
    ASSERT_TRUE(line) << "after " << ids.size() << " lines";
    Json v = Json::parse(*line, nullptr, false);
    ASSERT_TRUE(v.is_object()) << line->substr(0, 200);
    EXPECT_EQ(v["ok"], true) << line->substr(0, 200);
    ids.insert(v["id"].get<std::string>());
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kPings));
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

// A host that closes the service's output: the next answer finds nobody to read it, and the
// service ends as at end of input, by exit status 0 rather than by SIGPIPE.
void expectClosedOutputEndsQuietly(std::unique_ptr<ServiceProcess> service) {
  ASSERT_EQ(testing::call(*service, "first", "ping")["ok"], true);
  service->closeOutput();
  ASSERT_TRUE(service->send(requestLine("second", "ping")));
  const auto status = service->wait(10s);
  ASSERT_TRUE(status.has_value()) << "still running with nobody reading";
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(service->errorOutput(), "");
}

TEST(HostOutput, AClosedOutputEndsTheServiceLikeEndOfInput) {
  expectClosedOutputEndsQuietly(startFake());
  // The real service without any desktop or bus, where no library ignores SIGPIPE for it.
  expectClosedOutputEndsQuietly(
      startService({testing::serviceBinary()},
                   {{"DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", ""}, {"AT_SPI_BUS_ADDRESS", ""}}));
}

}  // namespace
}  // namespace tavren
