// Recording through the real binary's pipes without a display: the requests run on the main
// loop and answer; with nothing to watch the recording is set but observes nothing.
#include <gtest/gtest.h>

#include "support/service_fixture.h"

namespace tavren {
namespace {

using testing::call;
using testing::expectQuietExit;
using testing::startService;

TEST(RecordingProcess, StartAndStopWithoutADisplay) {
  auto service = startService({testing::serviceBinary()},
                              {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                               {"DBUS_SESSION_BUS_ADDRESS", ""}, {"AT_SPI_BUS_ADDRESS", ""}});
  Json missing = call(*service, "m", "startRecording", R"({"recordingId": ""})");
  EXPECT_EQ(missing["ok"], false);
  EXPECT_EQ(missing["error"], "Missing recording id");
  Json started = call(*service, "s", "startRecording", R"({"recordingId": "r1"})");
  EXPECT_EQ(started["result"], (Json{{"recordingId", "r1"}, {"recording", false}})) << started;
  Json stopped = call(*service, "t", "stopRecording");
  EXPECT_EQ(stopped["result"], (Json{{"recordingId", "r1"}, {"recording", false},
                                     {"eventCount", 0}}))
      << stopped;
  expectQuietExit(*service);
}

}  // namespace
}  // namespace tavren
