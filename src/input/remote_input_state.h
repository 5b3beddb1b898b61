#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace tavren {

using RemoteClock = std::chrono::steady_clock;

// The last press of remote input, for numbering double and triple clicks. Button -1: none yet.
struct RemoteClickSequence {
  int button = -1;
  int count = 0;  // click number of that press; 0 when a move broke the sequence
  double x = 0;
  double y = 0;
  RemoteClock::time_point at{};
};

// Remote desktop input held between requests. Everything is guarded by `lock`, which every
// message, the watchdog tick and the final release hold for their whole run.
struct RemoteInputState {
  std::mutex lock;
  RemoteClickSequence clicks;
  std::map<int, int> pressedClickCounts;  // button -> click number of its press
  std::set<uint16_t> keys;                // key codes held down
  std::set<int> buttons;                  // pointer buttons held down (message numbering)
  // Last input or heartbeat; none before the first one, which counts as idle for ever.
  std::optional<RemoteClock::time_point> at;
};

inline constexpr std::chrono::seconds kRemoteInputIdleLimit{10};
inline constexpr std::chrono::milliseconds kRemoteInputWatchdogInterval{2000};

// True when remote input has been idle for longer than the limit. Caller holds `s.lock`.
inline bool remoteInputExpired(const RemoteInputState& s, RemoteClock::time_point now) {
  return !s.at || now - *s.at > kRemoteInputIdleLimit;
}

}  // namespace tavren
