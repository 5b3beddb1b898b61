#pragma once

#include <xcb/xcb.h>

#include <chrono>

#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

using Deadline = std::chrono::steady_clock::time_point;

// The reply to request `sequence`, or nothing when the server has not answered by the deadline
// (the late reply is then discarded). Errors count as no reply.
void* replyBefore(xcb_connection_t* connection, unsigned int sequence, Deadline deadline);

template <class T, class Cookie>
Reply<T> replyBefore(xcb_connection_t* connection, Cookie cookie, Deadline deadline) {
  return Reply<T>(static_cast<T*>(replyBefore(connection, cookie.sequence, deadline)));
}

// How long the focus code waits for one answer of the X server.
inline constexpr std::chrono::milliseconds kFocusReplyWait{500};

inline Deadline replyDeadline() { return std::chrono::steady_clock::now() + kFocusReplyWait; }

}  // namespace tavren::x11
