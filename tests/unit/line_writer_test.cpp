#include "server/line_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <string>
#include <thread>

namespace tavren {
namespace {

std::string base64Like(size_t n) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s(n, 'A');
  for (size_t i = 0; i < n; ++i) s[i] = kAlphabet[(i * 7919) % 64];
  return s + "==";
}

TEST(ProtocolLineText, LongPlainStringsComeOutExactlyAsTheSerializerWritesThem) {
  const Json cases[] = {
      Json{{"id", "x"}, {"result", {{"dataBase64", base64Like(700000)}, {"width", 1280}}}},
      // Two long strings, one that needs escaping and one that does not, nested in an array.
      Json{{"a", Json::array({base64Like(20000), std::string(20000, '"'), base64Like(30000)})}},
      // Below the length where the copy applies.
      Json{{"short", base64Like(100)}},
      // Long text with bytes the serializer must escape or repair.
      Json{{"t", std::string(20000, 'a') + "\n\x01\xff"}},
  };
  for (const Json& value : cases) EXPECT_EQ(protocolLineText(value), compactJson(value));
}

TEST(LineWriter, WaitsForRoomOnANonBlockingPipeAndWritesWholeLines) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  std::string received;
  std::thread reader([&] {
    char buf[4096];
    for (;;) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // a slow host
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      received.append(buf, static_cast<size_t>(n));
    }
  });
  {
    LineWriter writer(fds[1]);
    for (int i = 0; i < 3; ++i) writer.writeProtocolValue(Json{{"i", i}, {"d", base64Like(300000)}});
  }
  close(fds[1]);
  reader.join();
  close(fds[0]);
  size_t start = 0;
  int lines = 0;
  for (size_t end; (end = received.find('\n', start)) != std::string::npos; start = end + 1) {
    Json v = Json::parse(received.substr(start, end - start));
    EXPECT_EQ(v["i"], lines);
    EXPECT_EQ(v["d"].get<std::string>().size(), 300002u);
    ++lines;
  }
  EXPECT_EQ(lines, 3);
  EXPECT_EQ(start, received.size());
}

// What the reader relies on to answer pings without ever waiting for a host that does not read.
TEST(LineWriter, TryingToWriteNeverWaitsAndNeverWritesPartOfALine) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  LineWriter writer(fds[1]);
  EXPECT_TRUE(writer.tryWriteLine("{\"a\":1}"));
  EXPECT_FALSE(writer.tryWriteLine(std::string(PIPE_BUF, 'x')));  // could be cut: not tried
  // Fill the pipe to within a few bytes: a small line that does not fit is declined whole.
  std::string filler(static_cast<size_t>(fcntl(fds[1], F_GETPIPE_SZ)) - 16, 'f');
  filler.back() = '\n';
  ASSERT_EQ(write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
  EXPECT_FALSE(writer.tryWriteLine("{\"b\":\"too long to fit in what is left\"}"));
  std::string got(8 + filler.size(), '\0');
  for (size_t have = 0; have < got.size();) {
    const ssize_t n = read(fds[0], got.data() + have, got.size() - have);
    ASSERT_GT(n, 0);
    have += static_cast<size_t>(n);
  }
  EXPECT_EQ(got.substr(0, 8), "{\"a\":1}\n");
  EXPECT_TRUE(writer.tryWriteLine("{\"c\":3}"));
  char rest[64];
  EXPECT_EQ(std::string(rest, static_cast<size_t>(read(fds[0], rest, sizeof rest))), "{\"c\":3}\n");
  close(fds[0]);
  close(fds[1]);
}

TEST(LineWriter, AClosedOutputIsReportedOnceAndEndsTheWriting) {
  std::signal(SIGPIPE, SIG_IGN);  // as the service does
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]);
  int reported = 0;
  LineWriter writer(fds[1]);
  writer.onHostGone([&] { ++reported; });
  for (int i = 0; i < 5; ++i) writer.writeProtocolValue(Json{{"i", i}});
  EXPECT_EQ(reported, 1);
  close(fds[1]);
}

}  // namespace
}  // namespace tavren
