#include "platform/linux/focus/reply_wait.h"

#include <poll.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdlib>

namespace tavren::x11 {

namespace {

// Another thread waiting on the same connection may read our reply off the socket; then it sits
// in XCB's queue and the socket stays quiet. A short slice bounds how late we notice.
constexpr std::chrono::milliseconds kSlice{2};

}  // namespace

void* replyBefore(xcb_connection_t* connection, unsigned int sequence, Deadline deadline) {
  xcb_flush(connection);
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(connection, sequence, &reply, &error)) {
      std::free(error);
      return reply;
    }
    if (xcb_connection_has_error(connection)) return nullptr;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      xcb_discard_reply(connection, sequence);
      return nullptr;
    }
    pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(std::min(left, kSlice).count()) + 1);
  }
}

}  // namespace tavren::x11
