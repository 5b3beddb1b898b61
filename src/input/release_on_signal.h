#pragma once

#include <functional>

namespace tavren {

// Keys and buttons held by remote input must not stay down when the service is ended by a
// signal rather than by the end of its input. From this call on, SIGTERM, SIGINT and SIGHUP run
// `release` once on a thread of their own and then end the process as the signal would have.
// The handler itself only writes to a pipe, so it is safe whatever thread the signal lands on.
// (A host that closes our output is not a signal here: SIGPIPE is ignored, as GLib's D-Bus
// threads set it anyway, and a failed write ends the service as the end of input does.)
void releaseOnTerminationSignals(std::function<void()> release);

}  // namespace tavren
