// The service binaries through their pipes, without a display: what a host sees on the wire.
#include <gtest/gtest.h>

#include <set>

#include "support/service_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::expectQuietExit;
using testing::startService;

// The real binary with no display and no buses: only what needs no desktop works.
std::unique_ptr<ServiceProcess> startHeadless() {
  return startService({testing::serviceBinary()},
                      {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", ""},
                       {"AT_SPI_BUS_ADDRESS", ""}});
}


TEST(Protocol, PingWithoutAnyDisplay) {
  auto service = startHeadless();
  Json r = call(*service, "p1", "ping");
  ASSERT_TRUE(r.is_object());
  EXPECT_EQ(r["id"], "p1");
  EXPECT_EQ(r["version"], 1);
  EXPECT_EQ(r["ok"], true);
  EXPECT_EQ(r["result"]["service"], "TavrenComputerUseService");
  EXPECT_FALSE(r.contains("error"));
  Json apps = call(*service, "p2", "listRunningApps");
  EXPECT_EQ(apps["ok"], true);
  EXPECT_TRUE(apps["result"].is_array());
  expectQuietExit(*service);
}

TEST(Protocol, BadLinesAreAnsweredAndTheNextLineIsServed) {
  using namespace std::string_literals;
  auto service = startHeadless();
  const std::string bad[] = {
      "\n",
      "[1,2,3]\n",
      "42\n",
      "{\"id\":\"n\0ul\",\"version\":1}\n"s,
      "{\"id\":\"u\xff\",\"version\":\"1\"}\n",
      "{\"id\":7,\"version\":1,\"method\":\"ping\"}\r\n",
      "{\"id\":\"v\",\"method\":\"ping\"}\n",
  };
  for (const auto& line : bad) service->send(line);
  std::vector<Json> answers;
  for (size_t i = 0; i < std::size(bad); ++i) {
    auto line = service->readLine(10s);
    ASSERT_TRUE(line) << "answer " << i;
    answers.push_back(Json::parse(*line));
  }
  // Intake failures are answered in order by the reader; the one good request runs on a
  // worker and may overtake them, so compare as a multiset of (id, error) pairs.
  std::multiset<std::pair<std::string, std::string>> seen;
  for (auto& a : answers) seen.insert({a["id"], a.value("error", "<ok>")});
  std::multiset<std::pair<std::string, std::string>> expected = {
      {"", "Invalid JSON request"},
      {"", "Invalid JSON request"},
      {"", "Invalid JSON request"},
      {"", "Invalid JSON request"},
      {"u\xEF\xBF\xBD", "Unsupported protocol version"},
      {"", "<ok>"},
      {"v", "Unsupported protocol version"}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(call(*service, "after", "ping")["ok"], true);
  expectQuietExit(*service);
}

TEST(Protocol, HugeLineIsAnsweredWithoutCrashing) {
  auto service = startHeadless();
  std::string big = R"({"id":"big","version":1,"method":"ping","params":{"blob":")";
  big.append(64u << 20, 'x');
  big += "\"}}\n";
  ASSERT_TRUE(service->send(big));
  // Generous: sanitizer builds parse 64 MiB slowly. Only a hang or a crash fails here.
  auto line = service->responseFor("big", 300s);
  ASSERT_TRUE(line);
  EXPECT_EQ(Json::parse(*line)["ok"], true);
  std::string deep = R"({"id":"deep","version":1,"params":)" + std::string(100000, '[') +
                     std::string(100000, ']') + "}\n";
  service->send(deep);
  auto deepLine = service->readLine(10s);
  ASSERT_TRUE(deepLine);
  EXPECT_EQ(Json::parse(*deepLine)["error"], "Invalid JSON request");
  expectQuietExit(*service);
}

TEST(Protocol, EndOfInputInTheMiddleOfALineEndsCleanly) {
  auto service = startHeadless();
  service->send(R"({"id":"half","version":1,"meth)");
  expectQuietExit(*service);
  // The cut-off line is still answered as what it is.
  auto line = service->readLine(1s);
  ASSERT_TRUE(line);
  EXPECT_EQ(Json::parse(*line)["error"], "Invalid JSON request");
}

TEST(Protocol, ClosingInputWithNoRequestExitsZero) {
  auto service = startHeadless();
  expectQuietExit(*service);
  EXPECT_FALSE(service->readLine(200ms));
}

// On this in-memory desktop listing applications takes a minute: such requests are surely still
// running whenever the test looks.
std::unique_ptr<ServiceProcess> startStuckFake() {
  return startService({testing::fakeServiceBinary(), testing::fixturePath("desktop_stuck.json")});
}

TEST(Protocol, PingsAreNotHeldUpBySlowRequests) {
  auto service = startStuckFake();
  for (int i = 0; i < 8; ++i) service->send(requestLine("slow" + std::to_string(i), "listRunningApps"));
  for (int i = 0; i < 20; ++i) {
    Json pong = call(*service, "quick" + std::to_string(i), "ping");
    EXPECT_EQ(pong["ok"], true);
  }
  EXPECT_TRUE(service->otherLines().empty());  // no slow answer came first
  expectQuietExit(*service);
}

TEST(Protocol, ClosingInputWhileRequestsRunExitsAtOnceWithWholeLines) {
  auto service = startStuckFake();
  for (int i = 0; i < 8; ++i) service->send(requestLine("s" + std::to_string(i), "listRunningApps"));
  for (int i = 0; i < 50; ++i) service->send(requestLine("p" + std::to_string(i), "ping"));
  service->closeInput();
  // Well within the minute the running requests would need: they were abandoned, not awaited.
  EXPECT_EQ(service->wait(30s), 0);
  while (auto line = service->readLine(200ms)) {
    Json v = Json::parse(*line, nullptr, false);
    ASSERT_TRUE(v.is_object()) << *line;
    EXPECT_EQ(v["ok"], true);
    EXPECT_EQ(v["id"].get<std::string>()[0], 'p');
  }
  EXPECT_EQ(service->partialOutput(), "");
  EXPECT_EQ(service->errorOutput(), "");
}

TEST(Protocol, SlowRequestsAreAnsweredWithTheirOwnResults) {
  // Every application look-up takes two seconds; eight run at once and each names another pid.
  auto service = startService({testing::fakeServiceBinary(), testing::fixturePath("desktop_slow.json")});
  for (int i = 0; i < 8; ++i) {
    service->send(requestLine("slow" + std::to_string(i), "appIdentity",
                              R"({"pid":)" + std::to_string(101 + i) + "}"));
  }
  for (int i = 0; i < 8; ++i) {
    auto line = service->responseFor("slow" + std::to_string(i), 60s);
    ASSERT_TRUE(line);
    EXPECT_EQ(Json::parse(*line)["result"]["id"], "org.example.App" + std::to_string(i)) << *line;
  }
  expectQuietExit(*service);
}

TEST(Protocol, AFailingHandlerCostsItsOwnRequestOnly) {
  // The in-memory desktop throws from listing applications and from reading window pixels (a
  // capture thread): each request gets an INTERNAL_ERROR answer and the service goes on.
  auto service = startService({testing::fakeServiceBinary(), testing::fixturePath("desktop_failing.json")});
  Json listed = call(*service, "a", "listRunningApps");
  EXPECT_EQ(listed["ok"], false);
  EXPECT_EQ(listed["error"], "INTERNAL_ERROR: simulated failure in runningApplications");
  Json captured = call(*service, "b", "captureWindow", R"({"windowId":401})");
  EXPECT_EQ(captured["ok"], false);
  EXPECT_EQ(captured["error"], "INTERNAL_ERROR: simulated failure in windowPixels");
  EXPECT_EQ(call(*service, "c", "appIdentity", R"({"pid":101})")["result"]["id"], "org.example.Editor");
  expectQuietExit(*service);
}

TEST(Protocol, ParallelRequestsGetTheirOwnAnswers) {
  auto service = startService({testing::fakeServiceBinary(), testing::fixturePath("desktop_basic.json")});
  for (int i = 0; i < 500; ++i) {
    service->send(requestLine("id" + std::to_string(i), i % 2 ? "appIdentity" : "ping",
                              R"({"pid":101})"));
  }
  std::set<std::string> ids;
  for (int i = 0; i < 500; ++i) {
    auto line = service->readLine(10s);
    ASSERT_TRUE(line) << "after " << i << " answers; exit "
                      << service->wait(100ms).value_or(-1) << "; stderr: " << service->errorOutput();
    Json v = Json::parse(*line);
    const std::string id = v["id"];
    ids.insert(id);
    const int n = std::stoi(id.substr(2));
    if (n % 2) {
      EXPECT_EQ(v["result"]["id"], "org.example.Editor") << *line;
    } else {
      EXPECT_EQ(v["result"]["service"], "TavrenComputerUseService") << *line;
    }
  }
  EXPECT_EQ(ids.size(), 500u);
  expectQuietExit(*service);
}

}  // namespace
}  // namespace tavren
