// "captureWindow" on the in-memory desktop: parameters, errors, sizes, pixels, and the wait for
// the capture thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "capture/window_capture.h"
#include "server/dispatcher.h"
#include "platform/fake/fake_desktop.h"
#include "support/decoded_image.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::near;

// Window 100: 400 x 300 in quadrants; 200: 300 x 200 points at density 2, one colour;
// 300: minimized; 400: its reads fail the way a display can fail.
const char* kDesktop = R"({
  "windows": [
    {"number": 100, "ownerPid": 1, "bounds": {"x": 10, "y": 20, "w": 400, "h": 300},
     "pixels": {"fill": "#e01010", "blocks": [
       {"x": 200, "y": 0, "w": 200, "h": 150, "color": "#10c020"},
       {"x": 0, "y": 150, "w": 200, "h": 150, "color": "#2030d0"},
       {"x": 200, "y": 150, "w": 200, "h": 150, "color": "#f0e020"}]}},
    {"number": 200, "ownerPid": 1, "bounds": {"x": 0, "y": 0, "w": 300, "h": 200},
     "pixels": {"scale": 2, "fill": "#336699"}},
    {"number": 300, "ownerPid": 1, "bounds": {"x": 0, "y": 0, "w": 50, "h": 50},
     "onScreen": false},
    {"number": 400, "ownerPid": 1, "bounds": {"x": 0, "y": 0, "w": 50, "h": 50},
     "captureError": {"domain": "X11", "code": 11, "message": "X error 11 during GetImage"}}
  ]})";

const std::array<int, 4> kRed{0xE0, 0x10, 0x10, 255}, kGreen{0x10, 0xC0, 0x20, 255},
    kBlue{0x20, 0x30, 0xD0, 255}, kYellow{0xF0, 0xE0, 0x20, 255}, kSlate{0x33, 0x66, 0x99, 255};

class CaptureMethodTest : public ::testing::Test {
 protected:
  explicit CaptureMethodTest(const char* fixture = kDesktop)
      : desktop(std::make_unique<FakeDesktop>(Json::parse(fixture))),
        devNull(open("/dev/null", O_WRONLY | O_CLOEXEC)),
        service(*desktop, devNull) {}
  ~CaptureMethodTest() override { close(devNull); }

  Outcome capture(const Json& params) {
    return handle(service, Json{{"version", 1}, {"method", "captureWindow"}, {"params", params}});
  }
  static std::string errorOf(const Outcome& o) {
    return o.ok() ? "<ok>" : errorDescription(o.error());
  }
  static testing::DecodedImage decoded(const Outcome& o) {
    EXPECT_TRUE(o.ok()) << errorOf(o);
    if (!o.ok()) return {};
    const std::string bytes = testing::base64Decoded(o.value()["dataBase64"]);
    auto image = o.value()["mediaType"] == "image/png" ? testing::decodePng(bytes)
                                                       : testing::decodeJpeg(bytes);
    EXPECT_TRUE(image);
    if (!image) return {};
    EXPECT_EQ(image->width, o.value()["width"]);
    EXPECT_EQ(image->height, o.value()["height"]);
    return *image;
  }

  std::unique_ptr<FakeDesktop> desktop;
  int devNull;
  Service service;
};

TEST_F(CaptureMethodTest, MissingWindowIdComesFirst) {
  for (Json params : {Json::object(), Json{{"windowId", 0}}, Json{{"windowId", -0.9}},
                      Json{{"windowId", "100"}}, Json{{"windowId", nullptr}}}) {
    Outcome o = capture(params);
    EXPECT_EQ(errorOf(o), "Missing window id") << params;
    EXPECT_EQ(o.error().code, 19);
  }
}

TEST_F(CaptureMethodTest, UnrepresentableNumbersAreRefusedNotWrapped) {
  // 2^32 + 100 would wrap to window 100 if converted blindly.
  for (Json params : {Json{{"windowId", 4294967396.0}}, Json{{"windowId", -5}},
                      Json{{"windowId", 100}, {"maxWidth", 1e19}},
                      Json{{"windowId", 100}, {"maxWidth", -1e300}}}) {
    Outcome o = capture(params);
    EXPECT_EQ(errorOf(o).rfind("INVALID_PARAMETER: ", 0), 0u) << params << errorOf(o);
  }
}

TEST_F(CaptureMethodTest, WindowsWithoutPixelsAreNotAvailable) {
  for (uint32_t number : {100000u, 300u, 4294967295u}) {
    Outcome o = capture({{"windowId", number}, {"maxWidth", 800}});
    EXPECT_EQ(errorOf(o),
              "Window " + std::to_string(number) + " is not available to ScreenCaptureKit");
    EXPECT_EQ(o.error().code, 20);
  }
}

TEST_F(CaptureMethodTest, DesktopFailuresPassThroughUnchanged) {
  Outcome o = capture({{"windowId", 400}, {"maxWidth", 100}});
  ASSERT_FALSE(o.ok());
  EXPECT_EQ(o.error().domain, "X11");
  EXPECT_EQ(o.error().code, 11);
  EXPECT_EQ(errorOf(o), "X error 11 during GetImage");
}

TEST_F(CaptureMethodTest, JpegIsSizedByMaxWidthAndShowsTheWindow) {
  Outcome o = capture({{"windowId", 100}, {"maxWidth", 4096}});
  ASSERT_TRUE(o.ok()) << errorOf(o);
  EXPECT_EQ(o.value().size(), 4u);
  EXPECT_EQ(o.value()["mediaType"], "image/jpeg");
  EXPECT_EQ(o.value()["width"], 800);  // twice the point width
  EXPECT_EQ(o.value()["height"], 600);
  auto image = decoded(o);
  EXPECT_TRUE(near(image.at(200, 150), kRed, 10));
  EXPECT_TRUE(near(image.at(600, 150), kGreen, 10));
  EXPECT_TRUE(near(image.at(200, 450), kBlue, 10));
  EXPECT_TRUE(near(image.at(600, 450), kYellow, 10));

  Outcome capped = capture({{"windowId", 100.9}, {"maxWidth", 201.7}});
  EXPECT_EQ(capped.value()["width"], 201);
  EXPECT_EQ(capped.value()["height"], 151);  // 300 * 201 / 400 = 150.75
  auto small = decoded(capped);
  EXPECT_TRUE(near(small.at(50, 40), kRed, 10));
  EXPECT_TRUE(near(small.at(150, 110), kYellow, 10));

  Outcome tiny = capture({{"windowId", 100}});  // no maxWidth: one pixel wide
  EXPECT_EQ(tiny.value()["width"], 1);
  EXPECT_EQ(tiny.value()["height"], 1);
}

TEST_F(CaptureMethodTest, PngFollowsGuiCaptureAloneAtTheDisplayDensity) {
  Outcome o = capture({{"windowId", 200}, {"maxWidth", 10}, {"guiCapture", true}});
  ASSERT_TRUE(o.ok()) << errorOf(o);
  EXPECT_EQ(o.value()["mediaType"], "image/png");
  EXPECT_EQ(o.value()["width"], 600);  // 300 points at density 2; maxWidth plays no part
  EXPECT_EQ(o.value()["height"], 400);
  auto image = decoded(o);
  EXPECT_EQ(image.at(0, 0), kSlate);
  EXPECT_EQ(image.at(599, 399), kSlate);
  for (Json flag : {Json(false), Json("true"), Json(nullptr)}) {
    Outcome jpeg = capture({{"windowId", 200}, {"maxWidth", 10}, {"guiCapture", flag}});
    EXPECT_EQ(jpeg.value()["mediaType"], "image/jpeg") << flag;
  }
}

TEST_F(CaptureMethodTest, NoCaptureOnTheDesktopIsCode24AfterTheWindowIdCheck) {
  FakeDesktop headless(Json::parse(R"({"capabilities": {"display": false}})"));
  Service other(headless, devNull);
  auto run = [&](const Json& params) {
    return handle(other, Json{{"version", 1}, {"method", "captureWindow"}, {"params", params}});
  };
  EXPECT_EQ(errorOf(run(Json::object())), "Missing window id");
  Outcome o = run({{"windowId", 100}});
  EXPECT_EQ(errorOf(o), "ScreenCaptureKit window screenshots require macOS 14 or later");
  EXPECT_EQ(o.error().code, 24);
}

TEST_F(CaptureMethodTest, WindowClosedWhileItIsReadIsNotAvailable) {
  FakeCapture& fake = desktop->fakeCapture();
  fake.holdReads();
  auto pending = std::async(std::launch::async, [&] { return capture({{"windowId", 100}}); });
  fake.waitForHeldReads(1);
  desktop->closeWindow(100);
  fake.releaseReads();
  Outcome o = pending.get();
  EXPECT_EQ(o.error().code, 20) << errorOf(o);
}

TEST_F(CaptureMethodTest, TimedOutCaptureAnswers22AndItsLateResultGoesNowhere) {
  FakeCapture& fake = desktop->fakeCapture();
  fake.holdReads();
  Outcome late = captureWindowImage(*desktop, 100, 400, false, 200ms);
  EXPECT_EQ(errorOf(late), "ScreenCaptureKit window capture timed out");
  EXPECT_EQ(late.error().code, 22);
  fake.releaseReads();
  fake.waitUntilIdle();  // the abandoned task has ended and let go of its box
  // The next request gets its own window, not the leftover of the one before.
  auto image = decoded(capture({{"windowId", 200}, {"maxWidth", 300}}));
  EXPECT_EQ(image.width, 300);
  EXPECT_TRUE(near(image.at(150, 100), kSlate, 10));
}

TEST_F(CaptureMethodTest, CapturesStillQueuedWhenTheirRequestGivesUpAreSkipped) {
  FakeCapture& fake = desktop->fakeCapture();
  fake.holdReads();
  // Fill every capture thread with a read that does not finish.
  std::vector<std::future<Outcome>> busy;
  const size_t threads = defaultCaptureThreadCount();
  for (size_t i = 0; i < threads; ++i) {
    busy.push_back(std::async(std::launch::async, [&] { return capture({{"windowId", 200}}); }));
  }
  fake.waitForHeldReads(threads);
  Outcome queued = captureWindowImage(*desktop, 100, 400, false, 0ms);
  EXPECT_EQ(queued.error().code, 22);
  EXPECT_EQ(fake.queuedTasks(), 1u);
  fake.releaseReads();
  for (auto& f : busy) EXPECT_TRUE(f.get().ok());
  fake.waitUntilIdle();
  EXPECT_EQ(fake.readsStarted(), threads) << "the abandoned capture never read the window";
}

TEST_F(CaptureMethodTest, ParallelCapturesGetTheirOwnWindows) {
  std::vector<std::future<Outcome>> results;
  for (int i = 0; i < 32; ++i) {
    results.push_back(std::async(std::launch::async, [&, i] {
      return capture(
          {{"windowId", i % 2 ? 200 : 100}, {"maxWidth", 200}, {"guiCapture", i % 4 < 2}});
    }));
  }
  for (int i = 0; i < 32; ++i) {
    Outcome o = results[i].get();
    auto image = decoded(o);
    if (i % 2) {
      EXPECT_TRUE(near(image.at(image.width / 2, image.height / 2), kSlate, 10)) << i;
    } else {
      EXPECT_TRUE(near(image.at(image.width / 4, image.height / 4), kRed, 10)) << i;
      EXPECT_TRUE(near(image.at(3 * image.width / 4, 3 * image.height / 4), kYellow, 10)) << i;
    }
  }
}

}  // namespace
}  // namespace tavren
