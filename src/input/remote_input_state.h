#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace tavren {

// Remote desktop input held between requests. Guarded by `lock`.
struct RemoteClickSequence {
  int button = -1;
  int count = 0;
  double x = 0;
  double y = 0;
  std::chrono::steady_clock::time_point at{};
};

struct RemoteInputState {
  std::mutex lock;
  RemoteClickSequence clicks;
  std::map<int, int> pressedClickCounts;     // button -> click count of its press
  std::set<uint16_t> keys;                   // key codes held down
  std::set<int> buttons;                     // pointer buttons held down
  std::chrono::steady_clock::time_point at = std::chrono::steady_clock::time_point::min();
};

inline constexpr std::chrono::seconds kRemoteInputIdleLimit{10};
inline constexpr std::chrono::milliseconds kRemoteInputWatchdogInterval{2000};

// True when held input has been idle long enough that the watchdog must let it go.
inline bool remoteInputExpired(const RemoteInputState& s, std::chrono::steady_clock::time_point now) {
  return (!s.keys.empty() || !s.buttons.empty()) && now - s.at > kRemoteInputIdleLimit;
}

}  // namespace tavren
