#include "server/reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "server/dispatcher.h"
#include "server/intake.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

// How often a reader waiting for answers to go out checks whether its input has been closed.
constexpr auto kInputCheckInterval = 200ms;

void runRequest(Service& service, const AcceptedRequest& request, size_t lineBytes) {
  struct Answered {
    Service& service;
    size_t bytes;
    ~Answered() { service.inFlight.answered(bytes); }
  } answered{service, lineBytes};
  Outcome outcome = [&]() -> Outcome {
    try {
      return handle(service, request.request);
    } catch (const std::exception& e) {
      // A handler bug must cost one request, never the process.
      return computerUseError(500, std::string("INTERNAL_ERROR: ") + e.what());
    }
  }();
  if (outcome.ok()) {
    service.output.response(request.id, std::move(outcome).takeValue(), std::nullopt);
  } else {
    service.output.response(request.id, std::nullopt, errorDescription(outcome.error()));
  }
}

WorkerPool& poolFor(Service& service, Queue queue) {
  switch (queue) {
    case Queue::Quick:
      return service.quickQueue;
    case Queue::RemoteInput:
      return service.remoteInputQueue;
    case Queue::Requests:
      break;
  }
  return service.requestQueue;
}

// True once nobody can write to `fd` any more (a pipe or socket whose other end is closed).
bool inputHungUp(int fd) {
  pollfd p{fd, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

bool serveLine(Service& service, std::string_view line, const std::function<bool()>& inputGone) {
  IntakeResult taken = takeInLine(line);
  if (auto* rejected = std::get_if<RejectedLine>(&taken)) {
    // Answered before the next line is read, so that a line cut off by the end of input is
    // answered before the service ends.
    service.output.response(rejected->id, std::nullopt, rejected->message);
    return true;
  }
  const size_t bytes = line.size();
  if (!service.inFlight.take(bytes, kInputCheckInterval,
                             inputGone ? inputGone : [] { return false; })) {
    return false;
  }
  auto request = std::make_shared<AcceptedRequest>(std::move(std::get<AcceptedRequest>(taken)));
  WorkerPool& pool = poolFor(service, queueFor(request->method));
  if (!pool.submit([&service, request, bytes] { runRequest(service, *request, bytes); })) {
    // No thread could be started for it: this request alone fails, the service goes on.
    service.output.response(request->id, std::nullopt,
                            "INTERNAL_ERROR: no thread could be started for the request");
    service.inFlight.answered(bytes);
  }
  return true;
}

void readRequests(Service& service, int fd) {
  // While answers wait for a host that does not read them, a closed input still ends the
  // service, as end of input does when it is read.
  const auto inputGone = [fd] { return inputHungUp(fd); };
  std::string buffer;
  size_t scanned = 0;  // bytes of `buffer` already known to hold no line feed
  char chunk[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<size_t>(n));
    size_t start = 0;
    for (;;) {
      size_t end = buffer.find('\n', scanned);
      if (end == std::string::npos) {
        scanned = buffer.size();
        break;
      }
      size_t stop = end;
      if (stop > start && buffer[stop - 1] == '\r') --stop;
      if (!serveLine(service, std::string_view(buffer).substr(start, stop - start), inputGone)) {
        return;
      }
      start = end + 1;
      scanned = start;
    }
    if (start > 0) {
      buffer.erase(0, start);
      scanned -= start;
    }
  }
  if (!buffer.empty()) {
    std::string_view last(buffer);
    if (last.back() == '\r') last.remove_suffix(1);
    serveLine(service, last, inputGone);
  }
}

}  // namespace tavren
