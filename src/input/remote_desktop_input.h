#pragma once

#include <chrono>

#include "core/json.h"
#include "core/service_error.h"
#include "input/remote_input_state.h"
#include "platform/event_poster.h"

namespace tavren {

// "remoteDesktopInput": one message of the live input stream (pointer, key, text, wheel,
// heartbeat, release), posted to the whole desktop as if from the devices. `canPost` is false
// when the desktop takes no synthesized input; only "release" and "heartbeat" work then.
// Runs on the serial remote-input queue, so messages are posted in the order they were sent.
Outcome remoteDesktopInput(const Json& params, RemoteInputState& state, EventPoster& poster,
                           bool canPost);

// Lets go of every key and button remote input holds and forgets the click sequence. The
// caller holds `state.lock`.
void releaseRemoteInputLocked(RemoteInputState& state, EventPoster& poster);

// The same, taking the lock: the release at the end of the stream.
void releaseHeldRemoteInput(RemoteInputState& state, EventPoster& poster);

// The watchdog tick: under one hold of the lock, releases held input when no input or heartbeat
// came for longer than the idle limit.
void remoteInputWatchdogTick(RemoteInputState& state, EventPoster& poster,
                             RemoteClock::time_point now = RemoteClock::now());

// The click number a press of `button` at (x, y) gets after the press `last`: one more than
// last's when it was the same button, no more than `interval` ago and within 4 points, and
// last's number was 1 or 2; else 1.
int clickNumber(const RemoteClickSequence& last, int button, double x, double y,
                RemoteClock::time_point now, std::chrono::milliseconds interval);

}  // namespace tavren
