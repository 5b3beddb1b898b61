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

Outcome outcomeOf(Service& service, const AcceptedRequest& request) {
  try {
    return handle(service, request.request);
  } catch (const std::exception& e) {
    // A handler bug must cost one request, never the process.
    return computerUseError(500, std::string("INTERNAL_ERROR: ") + e.what());
  }
}

// Counts a request out of those in flight once it is answered.
struct Answered {
  Service& service;
  size_t bytes;
  ~Answered() { service.inFlight.answered(bytes); }
};

void runRequest(Service& service, const AcceptedRequest& request, size_t lineBytes) {
  Answered answered{service, lineBytes};
  Outcome outcome = outcomeOf(service, request);
  if (outcome.ok()) {
    service.output.response(request.id, std::move(outcome).takeValue(), std::nullopt);
  } else {
    service.output.response(request.id, std::nullopt, errorDescription(outcome.error()));
  }
}

WorkerPool& poolFor(Service& service, Queue queue) {
  switch (queue) {
    case Queue::RemoteInput:
      return service.remoteInputQueue;
    case Queue::Requests:
    case Queue::Reader:  // answered before a pool is chosen
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
  auto& accepted = std::get<AcceptedRequest>(taken);
  const Queue queue = queueFor(accepted.method);
  const size_t bytes = line.size();
  const auto takeIn = [&] {
    return service.inFlight.take(bytes, kInputCheckInterval,
                                 inputGone ? inputGone : [] { return false; });
  };
  if (queue == Queue::Reader) {
    // Needs neither the desktop nor a thread: answered here, with no hand-over to a worker that
    // must first get a core while every core is busy with trees and captures. The reader never
    // waits for the output, though (a host may write a batch before it reads): when the answer
    // cannot go out at once, a worker writes it.
    Outcome outcome = outcomeOf(service, accepted);
    std::string answer;
    try {
      answer = protocolLineText(
          outcome.ok() ? responseObject(accepted.id, std::move(outcome).takeValue(), std::nullopt)
                       : responseObject(accepted.id, std::nullopt, errorDescription(outcome.error())));
    } catch (const std::exception&) {
      return true;  // an answer that cannot be serialised is dropped, as every writer drops it
    }
    if (service.output.tryWriteLine(answer)) return true;
    if (!takeIn()) return false;
    if (!service.requestQueue.submit([&service, answer = std::move(answer), bytes]() mutable {
          Answered answered{service, bytes};
          service.output.writeLine(std::move(answer));
        })) {
      service.output.response(accepted.id, std::nullopt,
                              "INTERNAL_ERROR: no thread could be started for the request");
      service.inFlight.answered(bytes);
    }
    return true;
  }
  if (!takeIn()) return false;
  auto request = std::make_shared<AcceptedRequest>(std::move(accepted));
  WorkerPool& pool = poolFor(service, queue);
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
