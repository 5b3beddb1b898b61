#pragma once

#include <functional>
#include <string_view>

#include "server/service.h"

namespace tavren {

// Takes one input line in and schedules it on its queue; intake failures and the methods that
// need no desktop (ping, unknown names) are answered at once, on the calling thread.
// While too many requests are in flight it first waits for answers to go out; false when
// `inputGone` ended that wait (the line is dropped unanswered and reading should stop).
bool serveLine(Service& service, std::string_view line,
               const std::function<bool()>& inputGone = {});

// Reads lines from `fd` and serves each until end of input. A final line without its line feed
// is served like any other. Returns at end of input, or when the input is closed while the
// reader waits for answers to go out.
void readRequests(Service& service, int fd);

}  // namespace tavren
