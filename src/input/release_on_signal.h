#pragma once

#include <functional>

namespace tavren {

// Keys and buttons held by remote input must not stay down when the service is ended by a
// signal rather than by the end of its input. From this call on, SIGTERM, SIGINT and SIGHUP run
// `release` once on a thread of their own and then end the process as the signal would have.
// SIGPIPE (the host closed our output) does the same unless it is ignored already, and then
// ends the process with status 0, as the end of input does. The handler itself only writes to a
// pipe, so it is safe whatever thread the signal lands on.
void releaseOnTerminationSignals(std::function<void()> release);

}  // namespace tavren
