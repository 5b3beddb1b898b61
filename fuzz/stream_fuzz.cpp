// A whole request stream through the reader, the queues and the line writer, on the in-memory
// desktop, as a host sees it through the pipes. Every line read (a final line without its line
// feed included) is answered exactly once, by one well-formed line, and nothing else is written.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fuzz_support.h"
#include "platform/fake/fake_desktop.h"
#include "server/reader.h"
#include "server/service.h"

using namespace tavren;

namespace {

// Lines the reader will find: each line feed ends one, and bytes after the last one make one
// more.
size_t linesIn(std::string_view stream) {
  size_t lines = 0;
  for (char c : stream) lines += c == '\n';
  if (!stream.empty() && stream.back() != '\n') ++lines;
  return lines;
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

// The host's side of the output: everything written, and the number of whole lines so far.
struct Collected {
  std::mutex mutex;
  std::condition_variable grew;
  std::string bytes;
  size_t lines = 0;
};

void collect(int fd, Collected& out) {
  char chunk[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    std::lock_guard lock(out.mutex);
    out.bytes.append(chunk, static_cast<size_t>(n));
    for (ssize_t i = 0; i < n; ++i) out.lines += chunk[i] == '\n';
    out.grew.notify_all();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::prepareProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view stream(reinterpret_cast<const char*>(data), size);
  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) std::abort();

  std::thread host([&] {
    writeAll(input[1], stream);
    ::close(input[1]);
  });
  Collected collected;
  std::thread collector([&] { collect(output[0], collected); });
  const size_t expected = linesIn(stream);
  {
    FakeDesktop desktop(fuzz::desktopFixture());
    Service service(desktop, output[1]);
    std::thread mainThread([&] { service.mainLoop.run(); });
    readRequests(service, input[0]);
    // Requests may need the main loop until they have answered; a lost answer waits here until
    // the fuzzer reports a hang.
    {
      std::unique_lock lock(collected.mutex);
      collected.grew.wait(lock, [&] { return collected.lines >= expected; });
    }
    service.mainLoop.quit();
    mainThread.join();
  }
  ::close(output[1]);
  host.join();
  collector.join();
  ::close(input[0]);
  ::close(output[0]);

  size_t answers = 0;
  const std::string& written = collected.bytes;
  std::string_view rest(written);
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    if (end == std::string_view::npos) fuzz::fail("output ends inside a line", stream);
    std::string_view line = rest.substr(0, end);
    if (std::string problem = fuzz::responseLineProblem(line); !problem.empty()) {
      fuzz::fail(problem + ": " + std::string(line.substr(0, 500)), stream);
    }
    ++answers;
    rest.remove_prefix(end + 1);
  }
  if (answers != linesIn(stream)) {
    fuzz::fail(std::to_string(linesIn(stream)) + " lines read, " + std::to_string(answers) +
                   " answered",
               stream);
  }
  fuzz::tidyPasteboardStore();
  return 0;
}
