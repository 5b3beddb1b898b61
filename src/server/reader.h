#pragma once

#include <string_view>

#include "server/service.h"

namespace tavren {

// Takes one input line in and schedules it on its queue; intake failures are answered at once.
void serveLine(Service& service, std::string_view line);

// Reads lines from `fd` and serves each until end of input. A final line without its line feed
// is served like any other. Returns at end of input.
void readRequests(Service& service, int fd);

}  // namespace tavren
